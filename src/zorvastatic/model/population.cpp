#include "zorvastatic/model/population.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "zorvastatic/model/areal_lattice.hpp"
#include "zorvastatic/petro/upscale.hpp"
#include "zorvastatic/volumetrics/cell_hcpv.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/large_array.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

constexpr std::string_view kStage = "populating properties";

// Polled once per layer of cell loops: c is the cell about to be visited.
Status poll_at_layer(const Dims& dims, std::size_t c) {
  if (c % dims.layer_cells() != 0) return {};
  return zorvatools::poll_call(kStage, c / dims.layer_cells(), dims.nk);
}

// Fills a cube with one value, reusing the storage of any cube of that name.
Status set_constant(Grid& grid, const std::string& name, double value) {
  const Dims& dims = grid.dims();
  std::vector<double> values = grid.properties.take_values(name);
  zorvatools::reserve_large(values, dims.cell_count());
  values.clear();
  for (std::size_t k = 0; k < dims.nk; ++k) {
    ZV_TRY(zorvatools::poll_call(kStage, k, dims.nk));
    values.insert(values.end(), dims.layer_cells(), value);
  }
  return grid.properties.set({name, std::move(values)});
}

Status populate_from_profile(Grid& grid, const ConstantPriors& priors,
                             const std::vector<DepthRecord>& profile) {
  const std::size_t cells = grid.dims().cell_count();
  std::vector<double> poro = grid.properties.take_values("PORO");
  std::vector<double> ntg = grid.properties.take_values("NTG");
  std::vector<double> sw = grid.properties.take_values("SW");
  for (std::vector<double>* cube : {&poro, &ntg, &sw}) {
    zorvatools::reserve_large(*cube, cells);
    cube->resize(cells);
  }
  std::vector<SwSample> selected;
  for (std::size_t c = 0; c < cells; ++c) {
    ZV_TRY(poll_at_layer(grid.dims(), c));
    const double* z = grid.geom.cell_depths(c);
    const double top = (z[0] + z[1] + z[2] + z[3]) / 4;
    const double bottom = (z[4] + z[5] + z[6] + z[7]) / 4;
    const double lo = std::min(top, bottom);
    const double hi = std::max(top, bottom);
    const auto first = std::ranges::lower_bound(profile, lo, {}, &DepthRecord::depth_m);
    const auto last = std::ranges::upper_bound(profile, hi, {}, &DepthRecord::depth_m);
    ntg[c] = priors.net_to_gross;
    if (first >= last) {
      poro[c] = priors.porosity;
      sw[c] = priors.water_saturation;
    } else {
      selected.clear();
      double poro_sum = 0;
      for (auto record = first; record != last; ++record) {
        poro_sum += record->porosity;
        selected.push_back({1.0, record->porosity, record->sw});
      }
      poro[c] = poro_sum / static_cast<double>(last - first);
      ZV_ASSIGN_OR_RETURN(sw[c], upscale_sw(selected));
    }
  }
  ZV_TRY(grid.properties.set({"PORO", std::move(poro)}));
  ZV_TRY(grid.properties.set({"NTG", std::move(ntg)}));
  return grid.properties.set({"SW", std::move(sw)});
}

Status apply_areal_trend(Grid& grid, const ArealTrend& areal, const std::optional<Georef>& georef) {
  ZV_ASSIGN_OR_RETURN(const zorvatools::Lattice columns, areal_lattice(grid));
  const Dims& dims = grid.dims();
  const zorvatools::Lattice target =
      georef && !areal.trend.is_local() ? georef->lattice(dims.ni, dims.nj) : columns;
  ZV_ASSIGN_OR_RETURN(const zorvatools::Array2D<double> resampled, areal.trend.resample_to(target));

  // Factor per column (j * ni + i): value over the mean of the finite resampled values.
  std::vector<double> factor(dims.layer_cells(), 1.0);
  double sum = 0;
  std::size_t finite = 0;
  for (double v : resampled.data()) {
    if (std::isfinite(v)) {
      sum += v;
      ++finite;
    }
  }
  const double mean = finite > 0 ? sum / static_cast<double>(finite) : 0.0;
  if (finite > 0 && mean > 0) {
    for (std::size_t j = 0; j < dims.nj; ++j) {
      for (std::size_t i = 0; i < dims.ni; ++i) {
        const double v = resampled(i, j);
        factor[j * dims.ni + i] = std::isfinite(v) ? v / mean : 1.0;
      }
    }
  }

  std::vector<const char*> targets = {"NTG"};
  if (areal.scale_porosity) targets.push_back("PORO");
  for (const char* name : targets) {
    if (grid.properties.get(name) == nullptr) {
      return std::unexpected(StaticError::invalid_input(
          str_cat("areal trend target cube '", name, "' is not populated")));
    }
    std::vector<double> values = grid.properties.take_values(name);
    const std::size_t layer = dims.layer_cells();
    for (std::size_t c = 0; c < values.size(); ++c) {
      ZV_TRY(poll_at_layer(dims, c));
      values[c] = std::clamp(values[c] * factor[c % layer], 0.0, 1.0);
    }
    ZV_TRY(grid.properties.set({name, std::move(values)}));
  }
  return {};
}

}  // namespace

Status require_fraction(const char* name, double value) {
  if (value >= 0 && value <= 1) return {};
  return std::unexpected(fraction_error(name, value));
}

Status validate_priors(const ConstantPriors& priors) {
  ZV_TRY(require_fraction("porosity", priors.porosity));
  ZV_TRY(require_fraction("net_to_gross", priors.net_to_gross));
  return require_fraction("water_saturation", priors.water_saturation);
}

Status populate(Grid& grid, const ConstantPriors& priors,
                const std::optional<std::vector<DepthRecord>>& depth_profile,
                const std::optional<ArealTrend>& areal_trend, const std::optional<Georef>& georef) {
  ZV_TRY(validate_priors(priors));
  if (depth_profile) {
    ZV_TRY(populate_from_profile(grid, priors, *depth_profile));
  } else {
    ZV_TRY(set_constant(grid, "PORO", priors.porosity));
    ZV_TRY(set_constant(grid, "NTG", priors.net_to_gross));
    ZV_TRY(set_constant(grid, "SW", priors.water_saturation));
  }
  if (areal_trend) ZV_TRY(apply_areal_trend(grid, *areal_trend, georef));
  return {};
}

Status fill_zone_layers(Grid& grid, const std::string& cube, const ZoneRange& zone, double value,
                        const char* missing_message_prefix) {
  if (grid.properties.get(cube) == nullptr) {
    return std::unexpected(StaticError::invalid_input(
        str_cat(missing_message_prefix, " target cube '", cube, "' is not populated")));
  }
  std::vector<double> values = grid.properties.take_values(cube);
  const std::size_t layer = grid.dims().layer_cells();
  const std::size_t end = std::min(zone.k_end, grid.dims().nk);
  for (std::size_t k = zone.k_start; k < end; ++k) {
    ZV_TRY(zorvatools::poll_call(kStage, k, grid.dims().nk));
    std::fill_n(values.begin() + static_cast<std::ptrdiff_t>(k * layer), layer, value);
  }
  return grid.properties.set({cube, std::move(values)});
}

}  // namespace zorvastatic
