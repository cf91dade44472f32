#pragma once
// How a model's k-layers are grouped into zones, shallowest first.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zorvastatic {

struct Zone {
  std::string name;
  std::string top;                   // surface above the zone
  std::string base;                  // surface below the zone
  std::optional<std::string> label;  // display colour
  std::size_t k_start = 0;
  std::size_t k_end = 0;  // exclusive
};

struct ZoneTable {
  std::vector<Zone> zones;

  // One zone "RESERVOIR" from "Top" to "Contact" over layers 0 .. nk.
  static ZoneTable single(std::size_t nk);
  // One zone per layer count, with consecutive k ranges; horizon_names has one entry more.
  static ZoneTable from_stack(const std::vector<std::string>& horizon_names,
                              const std::vector<std::string>& zone_names,
                              const std::vector<std::optional<std::string>>& zone_labels,
                              const std::vector<std::size_t>& layer_counts);

  // The zone of that exact name, or nullptr.
  [[nodiscard]] const Zone* find(const std::string& name) const;
};

}  // namespace zorvastatic
