#pragma once
// The in-place table: per zone, region and fluid the bulk, net, pore and hydrocarbon pore
// volumes and the cell count, in one pass over the cells by the rules of the in-place
// computation (mean corner depth against the zone's contacts, strict `<`, volume > 0).
//
// Hydrocarbon cells are those the in-place computation counts, with the same HCPV summed in the
// same order: without regions, the gas and oil HCPV of a zone add up to the zone's in-place
// HCPV bit for bit. Water cells are those of positive volume at or below the lower contact, and
// every cell of a zone without contacts; their PORO and NTG are taken as they are (a NaN, or a
// missing cube, makes NET and PORV NaN), as the in-place computation never reads them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zorvastatic/error.hpp"

namespace zorvastatic {

struct StaticModel;

enum class TableFluid : std::uint8_t { Oil = 0, Gas = 1, Water = 2 };
inline constexpr std::size_t kTableFluids = 3;

struct TableSums {
  double bulk_m3 = 0;
  double net_m3 = 0;
  double porv_m3 = 0;
  double hcpv_m3 = 0;  // hydrocarbon rows only
  std::uint64_t cells = 0;
};

// Region ids, dense from 0: one per column (j * ni + i) or one per cell (cell order). No ids:
// every cell in region 0.
struct RegionIds {
  std::span<const std::uint32_t> ids;
  bool per_cell = false;
  std::size_t count = 1;
};

struct VolumeTable {
  std::size_t zones = 0;
  std::size_t regions = 0;
  std::vector<TableSums> sums;  // zone-major, then region, then fluid

  [[nodiscard]] const TableSums& at(std::size_t zone, std::size_t region, TableFluid fluid) const {
    return sums[(zone * regions + region) * kTableFluids + static_cast<std::size_t>(fluid)];
  }
  TableSums& at(std::size_t zone, std::size_t region, TableFluid fluid) {
    return sums[(zone * regions + region) * kTableFluids + static_cast<std::size_t>(fluid)];
  }
};

// The table of every zone of the model, in memory or slab by slab. A zone whose only contact is
// a GWC holds gas, not oil. Fails as the in-place computation does (contacts, missing cubes,
// the first invalid value of a hydrocarbon cell), and on region ids out of range.
Result<VolumeTable> volume_table(const StaticModel& model, const RegionIds& regions);

}  // namespace zorvastatic
