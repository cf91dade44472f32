#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zorvastatic {

struct PhaseTotals {
  double grv_m3 = 0;
  double hcpv_m3 = 0;
  std::size_t cells = 0;
};

// The result of one in-place computation.
struct InPlace {
  std::optional<PhaseTotals> gas;                 // two-contact modes: the gas-cap cells
  std::optional<PhaseTotals> oil;                 // two-contact modes: the oil-leg cells
  std::optional<std::vector<double>> hcpv_cells;  // per-cell HCPV over the whole grid
  double grv_m3 = 0;
  double hcpv_m3 = 0;
  std::size_t cells = 0;
};

struct ZoneInPlace {
  std::string zone;
  InPlace in_place;
};

struct ZonedInPlace {
  std::vector<ZoneInPlace> zones;  // zone-table order
  InPlace total;                   // sums over the zones
};

}  // namespace zorvastatic
