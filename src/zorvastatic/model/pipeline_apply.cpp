#include "zorvastatic/model/pipeline_apply.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "zorvastatic/model/areal_lattice.hpp"
#include "zorvastatic/model/build_progress.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/large_array.hpp"
#include "zorvatools/foundation/worker_pool.hpp"
#include "zorvatools/geostat/sgs.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::Array2D;
using zorvatools::ConditioningDatum;
using zorvatools::Lattice;
using zorvatools::str_cat;

namespace {

constexpr std::size_t kDefaultNeighbours = 16;

// Neighbour count and radius: explicit, or from the ranges and the column spacing.
NeighbourSearch search_for(const Gaussian& step, const Lattice& columns) {
  if (step.search) return *step.search;
  const double s = std::max(columns.spacing_x, columns.spacing_y);
  if (step.unbounded_search) {
    const double extent_x = columns.spacing_x * static_cast<double>(columns.nx);
    const double extent_y = columns.spacing_y * static_cast<double>(columns.ny);
    return {kDefaultNeighbours, std::max(std::sqrt(extent_x * extent_x + extent_y * extent_y), s)};
  }
  return {kDefaultNeighbours, std::max(1.5 * zorvatools::longest_range_m(step.variogram), 4 * s)};
}

// The trend resampled onto the model frame, if the step has one.
Result<std::optional<Array2D<double>>> secondary_for(const Gaussian& step, const Lattice& columns,
                                                     const std::optional<Georef>& georef) {
  if (!step.trend) return std::optional<Array2D<double>>{};
  const Lattice target =
      georef && !step.trend->is_local() ? georef->lattice(columns.nx, columns.ny) : columns;
  auto resampled = step.trend->resample_to(target);
  if (!resampled) {
    if (!StaticError(resampled.error()).wrappable()) {
      return std::unexpected(std::move(resampled).error());
    }
    return std::unexpected(
        StaticError::grid("trend resample failed: " + resampled.error().display()));
  }
  const std::size_t total = std::max<std::size_t>(columns.nx * columns.ny, 1);
  const auto covered = static_cast<std::size_t>(
      std::ranges::count_if(resampled->data(), [](double v) { return std::isfinite(v); }));
  if (2 * covered < total) {
    return std::unexpected(StaticError::invalid_input(str_cat(
        "collocated trend covers only ", covered, "/", total, " areal nodes (< ", 50,
        "% of the model frame) — the trend's georeference does not overlap the grid. A "
        "world-georeferenced trend needs the model's world georef (build with `with_georef`); "
        "a local trend must match the grid's local lattice.")));
  }
  return std::optional<Array2D<double>>(std::move(*resampled));
}

}  // namespace

Status propagate_sgs_into(const Grid& grid, const std::string& name,
                          const std::vector<double>& upscaled, std::size_t k_start,
                          std::size_t k_end, const PropertyPipeline& pipeline,
                          std::vector<double>& output, const std::optional<Georef>& georef) {
  zorvatools::require(pipeline.gaussian.has_value(), "propagation needs a Gaussian step");
  const Gaussian& step = *pipeline.gaussian;
  ZV_ASSIGN_OR_RETURN(const Lattice columns, areal_lattice(grid));
  const Dims& dims = grid.dims();
  const std::size_t layer = dims.layer_cells();

  double sum = 0;
  std::size_t informed = 0;
  for (std::size_t c = k_start * layer; c < k_end * layer; ++c) {
    if (std::isfinite(upscaled[c])) {
      sum += upscaled[c];
      ++informed;
    }
  }
  if (informed == 0) {
    return std::unexpected(StaticError::invalid_input(
        "property '" + name +
        "': no conditioning data in the simulated range (upscale produced no informed cells) — "
        "the wells' samples do not fall in any cell of this range. Check the well "
        "positions/depths against the grid (and, for a zone-scoped pipe, that the wells "
        "penetrate the zone)."));
  }
  const double global_mean = sum / static_cast<double>(informed);

  std::vector<zorvatools::Point2> centres;
  centres.reserve(layer);
  for (std::size_t j = 0; j < dims.nj; ++j) {
    for (std::size_t i = 0; i < dims.ni; ++i) centres.push_back(cell_centre(grid.geom, i, j, 0));
  }

  const NeighbourSearch search = search_for(step, columns);
  ZV_ASSIGN_OR_RETURN(std::optional<Array2D<double>> secondary,
                      secondary_for(step, columns, georef));
  zorvatools::SgsParams params{search.max_neighbours, search.radius_m, std::move(secondary),
                               step.collocated_rho, step.variogram};

  // One task per layer: its own data, generator and scratch; values gathered in layer order.
  auto simulate_layer = [&](std::size_t offset) -> Result<std::vector<double>> {
    ZV_TRY(zorvatools::poll_call());
    const std::size_t k = k_start + offset;
    std::vector<ConditioningDatum> data;
    for (std::size_t c = 0; c < layer; ++c) {
      const double value = upscaled[k * layer + c];
      if (std::isfinite(value)) data.push_back({centres[c].x, centres[c].y, value});
    }
    if (data.empty()) {
      if (step.allow_mean_fill) return std::vector<double>(layer, global_mean);
      return std::unexpected(StaticError::invalid_input(
          str_cat("property '", name, "': simulated layer ", k,
                  " has no conditioning data — a silent constant mean-fill would erase its spatial "
                  "structure. Ensure the wells condition every simulated layer, or opt into the "
                  "structureless mean-fill with `Gaussian::allow_mean_fill`.")));
    }
    auto simulated = zorvatools::sgs_seeded(data, columns, params, layer_seed(step.seed, k));
    if (!simulated) {
      if (!StaticError(simulated.error()).wrappable()) {
        return std::unexpected(std::move(simulated).error());
      }
      return std::unexpected(StaticError::grid(
          str_cat("SGS propagate failed on layer ", k, ": ", simulated.error().display())));
    }
    std::vector<double> values(layer);
    for (std::size_t j = 0; j < dims.nj; ++j) {
      for (std::size_t i = 0; i < dims.ni; ++i) values[j * dims.ni + i] = (*simulated)(i, j);
    }
    return values;
  };
  ZV_ASSIGN_OR_RETURN(std::vector<std::vector<double>> layers,
                      zorvatools::parallel_collect<Result<std::vector<double>>>(
                          k_end - k_start, simulate_layer, "simulating layers"));
  for (std::size_t offset = 0; offset < layers.size(); ++offset) {
    std::ranges::copy(layers[offset],
                      output.begin() + static_cast<std::ptrdiff_t>((k_start + offset) * layer));
  }
  return {};
}

Result<PropertyReport> apply_with_georef(const PropertyPipeline& pipeline, Grid& grid,
                                         const std::optional<Georef>& georef) {
  zorvatools::ProgressSteps steps(
      pipeline_step_work(pipeline, static_cast<double>(grid.dims().cell_count())));
  steps.enter(0);
  ZV_ASSIGN_OR_RETURN(UpscaledCube upscaled, upscale_cells_with_georef(pipeline, grid, georef));
  steps.enter(1);
  if (!pipeline.gaussian) {
    ZV_TRY(grid.properties.set({pipeline.name, std::move(upscaled.values)}));
    return upscaled.report;
  }
  std::vector<double> output =
      zorvatools::large_array(grid.dims().cell_count(), std::numeric_limits<double>::quiet_NaN());
  ZV_TRY(propagate_sgs_into(grid, pipeline.name, upscaled.values, 0, grid.dims().nk, pipeline,
                            output, georef));
  ZV_TRY(grid.properties.set({pipeline.name, std::move(output)}));
  upscaled.report.simulated = true;
  return upscaled.report;
}

}  // namespace zorvastatic
