#include "zorvastatic/model/zones.hpp"

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {

ZoneTable ZoneTable::single(std::size_t nk) {
  return {{Zone{"RESERVOIR", "Top", "Contact", std::nullopt, 0, nk}}};
}

ZoneTable ZoneTable::from_stack(const std::vector<std::string>& horizon_names,
                                const std::vector<std::string>& zone_names,
                                const std::vector<std::optional<std::string>>& zone_labels,
                                const std::vector<std::size_t>& layer_counts) {
  const std::size_t zones = layer_counts.size();
  zorvatools::require(zone_names.size() >= zones && zone_labels.size() >= zones &&
                          horizon_names.size() >= zones + 1,
                      "zone table lists are shorter than the layer counts");
  ZoneTable table;
  table.zones.reserve(zones);
  std::size_t start = 0;
  for (std::size_t z = 0; z < zones; ++z) {
    table.zones.push_back({zone_names[z], horizon_names[z], horizon_names[z + 1], zone_labels[z],
                           start, start + layer_counts[z]});
    start += layer_counts[z];
  }
  return table;
}

const Zone* ZoneTable::find(const std::string& name) const {
  for (const Zone& zone : zones) {
    if (zone.name == name) return &zone;
  }
  return nullptr;
}

}  // namespace zorvastatic
