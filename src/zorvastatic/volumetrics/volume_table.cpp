#include "zorvastatic/volumetrics/volume_table.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "zorvastatic/grid/row_volumes.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/spill/backing.hpp"
#include "zorvastatic/volumetrics/cell_hcpv.hpp"
#include "zorvastatic/volumetrics/clip_kernel.hpp"
#include "zorvastatic/volumetrics/clip_rows.hpp"
#include "zorvastatic/volumetrics/contact_spec.hpp"
#include "zorvatools/foundation/allocation_failure.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// A zone's contacts as the table reads them.
struct ZoneRule {
  ContactSpec spec;
  ClipRule rule;
  bool gas_only;  // the zone's only hydrocarbon contact is a GWC
};

ZoneRule zone_rule(const std::vector<Contact>& contacts, std::optional<double> sw_gas) {
  const ContactSpec spec = contact_spec_from(contacts, sw_gas).value_or(ContactSpec::no_contact());
  const bool gas_only =
      spec.mode == ContactSpec::Mode::SingleContact && contacts.front().kind == ContactKind::Gwc;
  return {spec, ClipRule(spec), gas_only};
}

template <class Value>
double value_at(const Value* cube, std::size_t c) {
  return cube == nullptr ? kNan : static_cast<double>(cube[c]);
}

// One k-layer of an in-memory grid.
class GridLayer {
 public:
  GridLayer(const Grid& grid, std::size_t k)
      : geom_(grid.geom),
        first_(k * grid.dims().layer_cells()),
        poro_(cube(grid, "PORO")),
        ntg_(cube(grid, "NTG")),
        sw_(cube(grid, "SW")) {}

  [[nodiscard]] std::size_t cell_count() const { return geom_.dims().layer_cells(); }
  [[nodiscard]] std::size_t row_length() const { return geom_.dims().ni; }
  [[nodiscard]] const double* row_depths(std::size_t c) const {
    return geom_.cell_depths(first_ + c);
  }
  [[nodiscard]] double cell_volume(std::size_t c, std::size_t /*j*/) const {
    return geom_.cell_volume_at(first_ + c);
  }
  [[nodiscard]] const double* poro_values() const { return poro_; }
  [[nodiscard]] const double* ntg_values() const { return ntg_; }
  [[nodiscard]] const double* sw_values() const { return sw_; }

 private:
  const double* cube(const Grid& grid, const char* name) const {
    const Property* property = grid.properties.get(name);
    return property == nullptr ? nullptr : property->values.data() + first_;
  }

  const CornerPointGeom& geom_;
  std::size_t first_;
  const double* poro_;
  const double* ntg_;
  const double* sw_;
};

// Adds the cells of layer k of zone z.
template <class Layer>
Status table_layer(const ZoneRule& zone, std::size_t z, std::size_t k, const Layer& layer,
                   const PillarTops* tops, RowVolumes& rows, const RegionIds& regions,
                   VolumeTable& table) {
  const ClipRule& rule = zone.rule;
  const bool no_contact = zone.spec.mode == ContactSpec::Mode::NoContact;
  const std::size_t count = layer.cell_count();
  const std::size_t ni = layer.row_length();
  const std::size_t first = k * count;
  const auto* poro = layer.poro_values();
  const auto* ntg = layer.ntg_values();
  const auto* sw = layer.sw_values();
  const std::span<const double> depths = rows.mean_depths();
  for (std::size_t row_start = 0, j = 0; row_start < count; row_start += ni, ++j) {
    const auto* zcorn = layer.row_depths(row_start);
    if (tops != nullptr) {
      rows.compute(*tops, j, zcorn);
    } else {
      rows.compute_depths(zcorn);
      const std::span<double> row_volumes = rows.volumes();
      for (std::size_t i = 0; i < ni; ++i) row_volumes[i] = layer.cell_volume(row_start + i, j);
    }
    const std::span<const double> volumes = std::as_const(rows).volumes();
    for (std::size_t i = 0; i < ni; ++i) {
      const double v = volumes[i];
      // Every cell of positive volume is in some row of the table: one whose volume overflowed
      // would drop out unseen.
      if (!std::isfinite(v)) [[unlikely]] {
        return std::unexpected(clip_detail::volume_overflow(i, j, k));
      }
      if (!(v > 0)) continue;
      const double depth = depths[i];
      const std::size_t c = row_start + i;
      const std::size_t region =
          regions.ids.empty() ? 0 : regions.ids[regions.per_cell ? first + c : c];
      const double p = value_at(poro, c);
      const double n = value_at(ntg, c);
      if (no_contact || !rule.above_lower(depth)) {
        TableSums& sums = table.at(z, region, TableFluid::Water);
        const double net = v * n;
        sums.bulk_m3 += v;
        sums.net_m3 += net;
        sums.porv_m3 += p * net;
        ++sums.cells;
        continue;
      }
      // The in-place rule and arithmetic, cell for cell.
      auto hcpv = cell_hcpv(rule.uses_sw_gas(depth), v, p, n, value_at(sw, c), rule.sw_gas);
      if (!hcpv) return std::unexpected(std::move(hcpv).error());
      const bool gas = zone.gas_only || rule.in_gas_cap(depth);
      TableSums& sums = table.at(z, region, gas ? TableFluid::Gas : TableFluid::Oil);
      const double net = v * n;
      sums.bulk_m3 += v;
      sums.net_m3 += net;
      sums.porv_m3 += p * net;
      sums.hcpv_m3 += *hcpv;
      ++sums.cells;
    }
  }
  return {};
}

Status check_regions(const RegionIds& regions, const Dims& dims) {
  if (regions.ids.empty()) return {};
  const std::size_t expected = regions.per_cell ? dims.cell_count() : dims.layer_cells();
  if (regions.ids.size() != expected) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("region ids: got ", regions.ids.size(), " values, expected ", expected)));
  }
  const auto largest = std::ranges::max(regions.ids);
  if (largest >= regions.count) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("region id ", largest, " is not below the region count ", regions.count)));
  }
  return {};
}

Status require_grid_cubes(const Grid& grid) {
  for (const char* name : {"PORO", "NTG", "SW"}) {
    if (grid.properties.get(name) == nullptr) {
      return std::unexpected(
          StaticError::invalid_input(str_cat("grid is missing required property '", name, "'")));
    }
  }
  return {};
}

Status require_finite_sums(const VolumeTable& table, const std::vector<Zone>& zones) {
  for (std::size_t n = 0; n < table.sums.size(); ++n) {
    const TableSums& sums = table.sums[n];
    for (const auto& [what, value] :
         {std::pair{"bulk volume", sums.bulk_m3}, std::pair{"net volume", sums.net_m3},
          std::pair{"pore volume", sums.porv_m3},
          std::pair{"hydrocarbon pore volume", sums.hcpv_m3}}) {
      // NaN comes from NaN properties of water cells, and stays in the table as such.
      if (!std::isinf(value)) continue;
      return std::unexpected(StaticError::out_of_range(
          str_cat("the ", what, " of zone '", zones[n / (table.regions * kTableFluids)].name,
                  "' exceeds the largest representable volume (about 1.8e308 m³)")));
    }
  }
  return {};
}

Result<VolumeTable> compute_table(const StaticModel& model, const RegionIds& regions) {
  const Dims dims = model.spilled() ? model.spill->dims() : model.grid.dims();
  ZV_TRY(check_regions(regions, dims));
  const std::vector<Zone>& zones = model.zone_table.zones;
  VolumeTable table{zones.size(), std::max<std::size_t>(regions.count, 1), {}};
  table.sums.resize(table.zones * table.regions * kTableFluids);

  std::optional<SpillSource> source;
  std::optional<PillarTops> tops;
  if (model.spilled()) {
    source.emplace(*model.spill);
    tops.emplace(model.spill->pillars());  // spilled grids stand on vertical pillars
  } else if (model.grid.geom.vertical()) {
    tops.emplace(model.grid.geom.pillars());
  }
  RowVolumes rows(dims.ni);
  std::size_t total = 0, done = 0;
  for (const Zone& zone : zones)
    total += std::min(zone.k_end, dims.nk) - std::min(zone.k_start, dims.nk);
  for (std::size_t z = 0; z < zones.size(); ++z) {
    const std::vector<Contact>& contacts = model.zone_contacts && z < model.zone_contacts->size()
                                               ? (*model.zone_contacts)[z]
                                               : model.wireframe.contacts;
    const ZoneRule zone = zone_rule(contacts, model.sw_gas);
    ZV_TRY(validate_contact_spec(zone.spec));
    if (zone.spec.mode != ContactSpec::Mode::NoContact) {
      ZV_TRY(source ? source->require_cubes() : require_grid_cubes(model.grid));
    }
    const std::size_t k_end = std::min(zones[z].k_end, dims.nk);
    for (std::size_t k = zones[z].k_start; k < k_end; ++k) {
      ZV_TRY(zorvatools::poll_call("computing the volumes table", done++, total));
      if (source) {
        ZV_ASSIGN_OR_RETURN(const CellSlab slab, source->slab(k));
        ZV_TRY(table_layer(zone, z, k, slab, &*tops, rows, regions, table));
      } else {
        const GridLayer layer(model.grid, k);
        ZV_TRY(table_layer(zone, z, k, layer, tops ? &*tops : nullptr, rows, regions, table));
      }
    }
  }
  ZV_TRY(require_finite_sums(table, zones));
  return table;
}

}  // namespace

Result<VolumeTable> volume_table(const StaticModel& model, const RegionIds& regions) {
  return zorvatools::catch_allocation_failure("computing the volumes table",
                                              [&] { return compute_table(model, regions); });
}

}  // namespace zorvastatic
