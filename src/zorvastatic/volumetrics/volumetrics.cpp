#include "zorvastatic/volumetrics/volumetrics.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "zorvastatic/model/population.hpp"
#include "zorvastatic/volumetrics/clip_kernel.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/large_array.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

// One k-layer of an in-memory grid, seen through the layer interface of the clip kernel.
class GridLayer {
 public:
  GridLayer(const CornerPointGeom& geom, std::size_t k, const double* poro, const double* ntg,
            const double* sw)
      : geom_(geom),
        first_(k * geom.dims().layer_cells()),
        count_(geom.dims().layer_cells()),
        poro_(poro),
        ntg_(ntg),
        sw_(sw) {}

  [[nodiscard]] std::size_t cell_count() const { return count_; }
  [[nodiscard]] std::size_t row_length() const { return geom_.dims().ni; }
  [[nodiscard]] const double* row_depths(std::size_t c) const {
    return geom_.cell_depths(first_ + c);
  }
  // Cells off vertical pillars go one by one through the geometry.
  [[nodiscard]] double cell_volume(std::size_t c, std::size_t /*j*/) const {
    return geom_.cell_volume_at(first_ + c);
  }
  // Cubes a computation without contacts does not need may be missing (null).
  [[nodiscard]] const double* poro_values() const { return at_first(poro_); }
  [[nodiscard]] const double* ntg_values() const { return at_first(ntg_); }
  [[nodiscard]] const double* sw_values() const { return at_first(sw_); }

 private:
  [[nodiscard]] const double* at_first(const double* cube) const {
    return cube == nullptr ? nullptr : cube + first_;
  }

  const CornerPointGeom& geom_;
  std::size_t first_;
  std::size_t count_;
  const double* poro_;
  const double* ntg_;
  const double* sw_;
};

constexpr std::string_view kStage = "computing volumes";

const double* cube_or_null(const Grid& grid, const char* name) {
  const Property* cube = grid.properties.get(name);
  return cube == nullptr ? nullptr : cube->values.data();
}

}  // namespace

Status validate_contact_spec(const ContactSpec& spec) {
  switch (spec.mode) {
    case ContactSpec::Mode::NoContact:
      return {};
    case ContactSpec::Mode::SingleContact:
      if (!std::isfinite(spec.depth)) {
        return std::unexpected(
            StaticError::out_of_range(str_cat("contact depth must be finite, got ", spec.depth)));
      }
      return {};
    case ContactSpec::Mode::TwoContacts:
    case ContactSpec::Mode::TwoContactsSwGas:
      if (!std::isfinite(spec.goc) || !std::isfinite(spec.owc)) {
        return std::unexpected(StaticError::out_of_range(
            str_cat("contact depths must be finite, got GOC ", spec.goc, ", OWC ", spec.owc)));
      }
      if (spec.goc > spec.owc) {
        return std::unexpected(StaticError::invalid_input(
            str_cat("GOC (", spec.goc, ") must be shallower than OWC (", spec.owc, ")")));
      }
      if (spec.mode == ContactSpec::Mode::TwoContactsSwGas) {
        return require_fraction("sw_gas", spec.sw_gas);
      }
      return {};
  }
  return {};
}

namespace clip_detail {

StaticError volume_overflow(std::size_t i, std::size_t j, std::size_t k) {
  return StaticError::out_of_range(str_cat("cell (", i, ", ", j, ", ", k,
                                           ") has no finite volume: the products of its corner "
                                           "coordinates overflow"));
}

StaticError first_overflow(std::size_t n, std::size_t j, std::size_t k, const double* volumes) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(volumes[i])) return volume_overflow(i, j, k);
  }
  zorvatools::internal_fault("volumetrics: a row reported an overflow but none was found");
}

}  // namespace clip_detail

namespace {

Status require_finite(const char* what, double volume) {
  if (std::isfinite(volume)) return {};
  return std::unexpected(StaticError::out_of_range(
      str_cat(what, " exceeds the largest representable volume (about 1.8e308 m³)")));
}

}  // namespace

Status require_finite_totals(const InPlace& in_place) {
  for (const auto& phase : {in_place.gas, in_place.oil}) {
    if (!phase) continue;
    ZV_TRY(require_finite("gross rock volume", phase->grv_m3));
    ZV_TRY(require_finite("hydrocarbon pore volume", phase->hcpv_m3));
  }
  ZV_TRY(require_finite("gross rock volume", in_place.grv_m3));
  return require_finite("hydrocarbon pore volume", in_place.hcpv_m3);
}

Result<InPlace> finish_in_place(const ContactSpec& spec, const ClipSums& sums) {
  InPlace result;
  if (spec.has_phases()) {
    result.gas = sums.gas;
    result.oil = sums.oil;
    result.grv_m3 = sums.gas.grv_m3 + sums.oil.grv_m3;
    result.hcpv_m3 = sums.gas.hcpv_m3 + sums.oil.hcpv_m3;
    result.cells = sums.gas.cells + sums.oil.cells;
  } else {
    result.grv_m3 = sums.oil.grv_m3;
    result.hcpv_m3 = sums.oil.hcpv_m3;
    result.cells = sums.oil.cells;
  }
  ZV_TRY(require_finite_totals(result));
  return result;
}

Result<InPlace> grid_volumetrics(const Grid& grid, const ContactSpec& spec, std::size_t k_start,
                                 std::size_t k_end, bool with_cells) {
  ZV_TRY(validate_contact_spec(spec));
  const bool needs_cubes = spec.mode != ContactSpec::Mode::NoContact;
  if (needs_cubes) {
    for (const char* name : {"PORO", "NTG", "SW"}) {
      if (grid.properties.get(name) == nullptr) {
        return std::unexpected(
            StaticError::invalid_input(str_cat("grid is missing required property '", name, "'")));
      }
    }
  }
  const Dims& dims = grid.dims();
  std::vector<double> hcpv;
  const bool cube_out = with_cells && needs_cubes;
  if (cube_out) hcpv = zorvatools::large_array(dims.cell_count(), 0.0);
  const double* poro = cube_or_null(grid, "PORO");
  const double* ntg = cube_or_null(grid, "NTG");
  const double* sw = cube_or_null(grid, "SW");

  ClipSums sums;
  ClipScratch scratch(dims.ni);
  const std::optional<PillarTops> tops =
      grid.geom.vertical() ? std::optional<PillarTops>(grid.geom.pillars()) : std::nullopt;
  const std::size_t end = std::min(k_end, dims.nk);
  for (std::size_t k = k_start; k < end; ++k) {
    ZV_TRY(zorvatools::poll_call(kStage, k - k_start, end - k_start));
    const GridLayer layer(grid.geom, k, poro, ntg, sw);
    double* slot = cube_out ? hcpv.data() + k * dims.layer_cells() : nullptr;
    ZV_TRY(clip_layer(spec, k, layer, sums, slot, tops ? &*tops : nullptr, scratch));
  }
  ZV_ASSIGN_OR_RETURN(InPlace result, finish_in_place(spec, sums));
  if (cube_out) result.hcpv_cells = std::move(hcpv);
  return result;
}

Result<InPlace> compute_clipped(const SlabSource& source, const ContactSpec& spec,
                                std::size_t k_start, std::size_t k_end, bool with_cells) {
  ZV_TRY(validate_contact_spec(spec));
  const bool needs_cubes = spec.mode != ContactSpec::Mode::NoContact;
  if (needs_cubes) ZV_TRY(source.require_cubes());
  const std::size_t layer_cells = source.layer_cells();
  std::vector<double> hcpv;
  const bool cube_out = with_cells && needs_cubes;
  if (cube_out) hcpv = zorvatools::large_array(layer_cells * source.nk(), 0.0);

  ClipSums sums;
  ClipScratch scratch(source.row_length());
  std::optional<PillarTops> tops;
  for (std::size_t k = k_start; k < k_end; ++k) {
    ZV_TRY(zorvatools::poll_call(kStage, k - k_start, k_end - k_start));
    ZV_ASSIGN_OR_RETURN(const CellSlab slab, source.slab(k));
    double* slot = cube_out ? hcpv.data() + k * layer_cells : nullptr;
    if (!tops) tops.emplace(slab.pillars);  // spilled grids stand on vertical pillars
    ZV_TRY(clip_layer(spec, k, slab, sums, slot, &*tops, scratch));
  }
  ZV_ASSIGN_OR_RETURN(InPlace result, finish_in_place(spec, sums));
  if (cube_out) result.hcpv_cells = std::move(hcpv);
  return result;
}

}  // namespace zorvastatic
