#include "zorvastatic/model/builder.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/model/build_progress.hpp"
#include "zorvastatic/model/build_size.hpp"
#include "zorvastatic/model/layering_warnings.hpp"
#include "zorvastatic/spill/budget.hpp"
#include "zorvastatic/spill/spill.hpp"
#include "zorvatools/foundation/allocation_failure.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/large_array.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

Status require_positive_finite(const char* name, double value) {
  if (std::isfinite(value) && value > 0) return {};
  return std::unexpected(
      StaticError::invalid_input(str_cat(name, " must be finite and > 0, got ", value)));
}

constexpr std::string_view kSolving = "solving the structural surfaces";

StaticError no_controls() {
  return StaticError::invalid_input("structural solve needs at least one control point");
}

// Four controls of one finite depth on the four distinct corner nodes make a flat surface.
std::optional<double> flat_corner_depth(const std::vector<ControlPoint>& controls, std::size_t ni,
                                        std::size_t nj) {
  if (controls.size() != 4) return std::nullopt;
  const double depth = controls.front().z;
  if (!std::isfinite(depth)) return std::nullopt;
  bool seen[4] = {false, false, false, false};
  for (const ControlPoint& c : controls) {
    if (c.z != depth) return std::nullopt;
    const bool left = c.i == 0, right = c.i == ni - 1, low = c.j == 0, high = c.j == nj - 1;
    int corner = -1;
    if (left && low) corner = 0;
    if (right && low) corner = 1;
    if (left && high) corner = 2;
    if (right && high) corner = 3;
    if (corner < 0 || seen[corner]) return std::nullopt;
    seen[corner] = true;
  }
  return depth;
}

Result<Surface> solve_controls(std::size_t ni, std::size_t nj,
                               const std::vector<ControlPoint>& controls) {
  if (controls.empty()) return std::unexpected(no_controls());
  // An infinite depth would come out of the solve as NaN, far from where it went in.
  for (const ControlPoint& c : controls) {
    if (std::isfinite(c.z)) continue;
    return std::unexpected(StaticError::invalid_input(str_cat(
        "structural solve needs finite depths, got ", c.z, " at node (", c.i, ", ", c.j, ")")));
  }
  if (auto depth = flat_corner_depth(controls, ni, nj)) return Surface::constant(ni, nj, *depth);
  return solve_surface_converged(ni, nj, controls);
}

const ZoneRange* find_zone(const std::vector<ZoneRange>& zones, const std::string& name) {
  for (const ZoneRange& zone : zones) {
    if (zone.name == name) return &zone;
  }
  return nullptr;
}

StaticError zone_not_found(const std::string& name) {
  return StaticError::invalid_input("per-zone population: zone '" + name +
                                    "' is not in the model's zone table");
}

// One zone pipeline: upscale into the whole grid, keep the zone's layers, store the cube.
Result<PropertyReport> apply_zone_pipeline(const PropertyPipeline& pipeline, Grid& grid,
                                           const ZoneRange& zone,
                                           const std::optional<Georef>& georef) {
  const Dims& dims = grid.dims();
  const std::size_t layer = dims.layer_cells();
  zorvatools::ProgressSteps steps(
      pipeline_step_work(pipeline, static_cast<double>((zone.k_end - zone.k_start) * layer)));
  steps.enter(0);
  ZV_ASSIGN_OR_RETURN(UpscaledCube upscaled, upscale_cells_with_georef(pipeline, grid, georef));
  steps.enter(1);
  std::vector<double>& masked = upscaled.values;
  std::vector<double> finite;
  for (std::size_t c = 0; c < masked.size(); ++c) {
    const std::size_t k = c / layer;
    if (k < zone.k_start || k >= zone.k_end) {
      masked[c] = std::numeric_limits<double>::quiet_NaN();
    } else if (std::isfinite(masked[c])) {
      finite.push_back(masked[c]);
    }
  }
  PropertyReport report = upscale_qc(pipeline.name, masked, finite);

  const Property* existing = grid.properties.get(pipeline.name);
  std::vector<double> output =
      existing != nullptr
          ? existing->values
          : zorvatools::large_array(dims.cell_count(), std::numeric_limits<double>::quiet_NaN());
  if (pipeline.gaussian) {
    ZV_TRY(propagate_sgs_into(grid, pipeline.name, masked, zone.k_start, zone.k_end, pipeline,
                              output, georef));
    report.simulated = true;
  } else {
    for (std::size_t c = 0; c < masked.size(); ++c) {
      if (std::isfinite(masked[c])) output[c] = masked[c];
    }
  }
  ZV_TRY(grid.properties.set({pipeline.name, std::move(output)}));
  return report;
}

}  // namespace

std::vector<ControlPoint> horizon_controls(const Horizon& horizon) {
  std::vector<ControlPoint> controls;
  for (std::size_t j = 0; j < horizon.nj; ++j) {
    for (std::size_t i = 0; i < horizon.ni; ++i) {
      const double z = horizon.depths[j * horizon.ni + i];
      if (!std::isnan(z)) controls.push_back({i, j, z});
    }
  }
  return controls;
}

Result<StaticModelBuilder> StaticModelBuilder::from_wireframe(const Wireframe& wireframe,
                                                              const BuildSpec& spec) {
  const Horizon* top = wireframe.first_with_role(HorizonRole::Top);
  if (top == nullptr) return std::unexpected(StaticError::grid("wireframe has no Top horizon"));
  if (top->ni < 2 || top->nj < 2) {
    return std::unexpected(StaticError::grid("top surface needs at least 2x2 nodes"));
  }
  if (spec.nk == 0) return std::unexpected(StaticError::grid("nk must be non-zero"));
  ZV_TRY(require_positive_finite("area_m2", spec.area_m2));
  ZV_TRY(require_positive_finite("gross_height_m", spec.gross_height_m));

  StaticModelBuilder builder;
  builder.top_controls = horizon_controls(*top);
  if (builder.top_controls.empty()) {
    return std::unexpected(StaticError::grid("top surface is fully undefined (all NaN)"));
  }

  for (const auto& horizon : wireframe.horizons) {
    auto warn = [&](std::string message) {
      builder.warnings.push_back(
          BuildWarning::horizon_warning(horizon->name, std::move(message), horizon->role));
    };
    switch (horizon->role) {
      case HorizonRole::Top:
        break;
      case HorizonRole::Base:
        if (horizon->ni != top->ni || horizon->nj != top->nj) {
          warn(str_cat("Base lattice ", horizon->ni, "x", horizon->nj, " does not match Top ",
                       top->ni, "x", top->nj));
        } else if (!builder.base_controls) {
          std::vector<ControlPoint> controls = horizon_controls(*horizon);
          if (controls.empty()) {
            warn("Base surface is fully undefined (all NaN)");
          } else {
            builder.base_controls = std::move(controls);
          }
        } else {
          warn("a Base horizon is already in use (only the first is honoured)");
        }
        break;
      case HorizonRole::Intermediate:
        warn("intermediate horizons are unused until multi-zone layering (P5)");
        break;
    }
  }
  if (wireframe.contacts.empty()) {
    return std::unexpected(StaticError::grid("wireframe has no fluid contact"));
  }

  builder.spec = spec;
  builder.wireframe = wireframe;
  builder.top_max_i = top->ni - 1;
  builder.top_max_j = top->nj - 1;
  builder.spill_budget_bytes = default_spill_budget(query_physical_ram());
  return builder;
}

std::string StaticModelBuilder::inputs_ref_string() const {
  return inputs_ref.value_or("wireframe");
}

Result<NodeSpacing> StaticModelBuilder::areal_spacing(std::size_t nx, std::size_t ny) const {
  if (!node_spacing) {
    const double side = std::sqrt(spec.area_m2);
    return NodeSpacing{side / static_cast<double>(nx - 1), side / static_cast<double>(ny - 1)};
  }
  const auto [dx, dy] = *node_spacing;
  if (!(std::isfinite(dx) && dx > 0 && std::isfinite(dy) && dy > 0)) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("node spacing must be finite and > 0, got ", dx, ", ", dy)));
  }
  // The georeference places the columns in the world; a different spacing would stretch them.
  const auto agrees = [](double a, double b) {
    return std::abs(a - b) <= 1e-9 * std::max(std::abs(a), std::abs(b));
  };
  if (georef && !(agrees(georef->spacing_x, dx) && agrees(georef->spacing_y, dy))) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("node spacing ", dx, " x ", dy, " m does not match the georeference spacing ",
                georef->spacing_x, " x ", georef->spacing_y, " m")));
  }
  return *node_spacing;
}

ZoneTable StaticModelBuilder::single_zone_table(std::size_t nk) const {
  ZoneTable table = ZoneTable::single(nk);
  table.zones.front().name = single_zone_name;
  table.zones.front().label = single_zone_label;
  return table;
}

Status StaticModelBuilder::apply_zone_population(Grid& grid, const std::vector<ZoneRange>& zones,
                                                 std::vector<PropertyReport>& reports) const {
  // Step 0: the zone priors; then one step per zone pipeline.
  zorvatools::ProgressSteps steps(zone_population_work(*this, zones, grid.dims().layer_cells()));
  steps.enter(0);
  for (const auto& [name, priors] : zone_priors) {
    const ZoneRange* zone = find_zone(zones, name);
    if (zone == nullptr) return std::unexpected(zone_not_found(name));
    ZV_TRY(validate_priors(priors));
    ZV_TRY(fill_zone_layers(grid, "PORO", *zone, priors.porosity, "zone-priors"));
    ZV_TRY(fill_zone_layers(grid, "SW", *zone, priors.water_saturation, "zone-priors"));
    ZV_TRY(fill_zone_layers(grid, "NTG", *zone, priors.net_to_gross, "zone-priors"));
  }
  for (std::size_t p = 0; p < zone_pipelines.size(); ++p) {
    steps.enter(1 + p);
    const auto& [name, pipeline] = zone_pipelines[p];
    const ZoneRange* zone = find_zone(zones, name);
    if (zone == nullptr) return std::unexpected(zone_not_found(name));
    auto report = apply_zone_pipeline(pipeline, grid, *zone, georef);
    if (!report) {
      if (!report.error().wrappable()) return std::unexpected(std::move(report).error());
      return std::unexpected(
          StaticError::invalid_input("zone '" + name + "': " + report.error().display()));
    }
    reports.push_back(std::move(*report));
  }
  return {};
}

Status StaticModelBuilder::populate_grid(Grid& grid, const std::vector<ZoneRange>& zones,
                                         std::vector<PropertyReport>& reports) const {
  zorvatools::ProgressSteps steps(population_work(*this, zones, grid.dims().layer_cells()));
  steps.enter(0);
  ZV_TRY(populate(grid, spec.priors, depth_profile, areal_trend, georef));
  for (std::size_t p = 0; p < pipelines.size(); ++p) {
    steps.enter(1 + p);
    const PropertyPipeline& pipeline = pipelines[p];
    ZV_TRY(zorvatools::poll_call("applying property pipelines", p, pipelines.size()));
    ZV_ASSIGN_OR_RETURN(PropertyReport report, apply_with_georef(pipeline, grid, georef));
    reports.push_back(std::move(report));
  }
  steps.enter(1 + pipelines.size());
  return apply_zone_population(grid, zones, reports);
}

Result<StaticModel> StaticModelBuilder::build() && {
  ZV_TRY(check_build_size(build_shape(*this), query_physical_ram()));
  return zorvatools::catch_allocation_failure("building the model", [&] {
    if (horizon_stack) return std::move(*this).build_stack();
    return std::move(*this).build_single_zone();
  });
}

Result<StaticModel> StaticModelBuilder::build_single_zone() && {
  const std::size_t ni = top_max_i + 1;
  const std::size_t nj = top_max_j + 1;
  ZV_ASSIGN_OR_RETURN(const NodeSpacing spacing, areal_spacing(ni, nj));
  zorvatools::ProgressSteps steps(build_work(*this));
  steps.enter(kStructureStep);
  ZV_TRY(zorvatools::poll_call(kSolving, 0, 2));
  ZV_ASSIGN_OR_RETURN(const Surface top, solve_controls(ni, nj, top_controls));
  ZV_TRY(zorvatools::poll_call(kSolving, 1, 2));
  Surface base;
  if (!base_controls) {
    std::vector<double> depths = top.values();
    for (double& z : depths) z += spec.gross_height_m;
    base = Surface(ni, nj, std::move(depths));
  } else {
    ZV_ASSIGN_OR_RETURN(base, solve_controls(ni, nj, *base_controls));
  }

  std::vector<BuildWarning> build_warnings = warnings;
  if (min_thickness_m) {
    ZV_ASSIGN_OR_RETURN(ThicknessRepair repair, base.repair_min_thickness(top, *min_thickness_m));
    if (repair.moved_nodes != 0) {
      build_warnings.push_back(
          BuildWarning::thickness_repaired(repair.moved_nodes, repair.worst_m));
    }
    base = std::move(repair.surface);
  } else {
    ZV_ASSIGN_OR_RETURN(base, base.guard_below(top, clamp_crossings));
  }

  const auto [dx, dy] = spacing;
  const ZoneLayerSpec zone_spec{spec.conformity, spec.nk};

  // A model populated only with constant priors can be written plane by plane when it would
  // not fit the budget; zone priors need the whole grid, so they keep the in-memory road.
  if (streams_when_over_budget(*this)) {
    ZV_ASSIGN_OR_RETURN(StreamingLayering streaming,
                        StreamingLayering::prepare(top, base, zone_spec, dx, dy));
    const std::uint64_t estimate = streaming_estimate(streaming.dims().cell_count());
    if (estimate > spill_budget_bytes) {
      steps.enter(kLayeringStep, kSpillStep);
      return build_spilled_streaming(*this, streaming, estimate, std::move(build_warnings));
    }
  }

  steps.enter(kLayeringStep);
  const Surface* surfaces[2] = {&top, &base};
  ZV_ASSIGN_OR_RETURN(LayeringReport layering, layer_grid_stack(surfaces, std::span(&zone_spec, 1),
                                                                collapse_below_m, dx, dy));
  add_layering_warnings(layering, build_warnings);
  Grid grid = std::move(layering.grid);
  const std::size_t nk = grid.dims().nk;

  std::vector<PropertyReport> reports;
  steps.enter(kPopulationStep);
  ZV_TRY(populate_grid(grid, {{single_zone_name, 0, nk}}, reports));

  StaticModel model{
      .sw_gas = sw_gas,
      .provenance = {inputs_ref_string(), std::nullopt, std::move(build_warnings),
                     std::move(reports)},
      .georef = georef,
      .sugar_cube = sugar_cube,
      .wireframe = wireframe,
      .grid = std::move(grid),
      .zone_table = single_zone_table(nk),
      .zone_contacts = std::nullopt,
      .spill = nullptr,
  };
  steps.enter(kSpillStep);
  return maybe_spill(*this, std::move(model));
}

}  // namespace zorvastatic
