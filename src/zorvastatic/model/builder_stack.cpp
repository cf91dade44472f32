// The builder's horizon-stack road: resolve the stack, tie the wells, check the interfaces,
// layer every zone at once, populate, and record the stack in the model.
#include <cmath>

#include "zorvastatic/grid/box_construction.hpp"
#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/gridder/stack_framework.hpp"
#include "zorvastatic/gridder/stack_resolve.hpp"
#include "zorvastatic/model/build_progress.hpp"
#include "zorvastatic/model/build_size.hpp"
#include "zorvastatic/model/builder.hpp"
#include "zorvastatic/model/layering_warnings.hpp"
#include "zorvastatic/model/stack_interfaces.hpp"
#include "zorvastatic/spill/spill.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

// The stack's shape, checked before the costly resolution with the texts layering would give.
Status check_stack_shape(const HorizonStack& stack) {
  const std::size_t horizons = stack.horizons.size();
  if (horizons < 2) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("a horizon stack needs at least 2 surfaces, got ", horizons)));
  }
  if (stack.zones.size() != horizons - 1) {
    return std::unexpected(
        StaticError::invalid_input(str_cat("expected ", horizons - 1, " zone specs for ", horizons,
                                           " surfaces, got ", stack.zones.size())));
  }
  return {};
}

struct StackNames {
  std::vector<std::string> horizons;
  std::vector<std::string> zones;
  std::vector<std::optional<std::string>> labels;
  std::vector<std::vector<Contact>> contacts;  // per zone
  std::vector<Contact> all_contacts;           // flattened in zone order
};

StackNames stack_names(const HorizonStack& stack) {
  StackNames names;
  for (const StackHorizon& horizon : stack.horizons) names.horizons.push_back(horizon.name);
  for (const StackZone& zone : stack.zones) {
    names.zones.push_back(zone.name);
    names.labels.push_back(zone.label);
    names.contacts.push_back(zone.contacts);
    names.all_contacts.insert(names.all_contacts.end(), zone.contacts.begin(), zone.contacts.end());
  }
  return names;
}

}  // namespace

Result<StaticModel> StaticModelBuilder::build_stack() && {
  const HorizonStack& stack = *horizon_stack;
  ZV_TRY(check_stack_shape(stack));
  const std::size_t nx = top_max_i + 1;
  const std::size_t ny = top_max_j + 1;
  ZV_ASSIGN_OR_RETURN(const NodeSpacing spacing, areal_spacing(nx, ny));
  const auto [dx, dy] = spacing;

  zorvatools::ProgressSteps steps(build_work(*this));
  steps.enter(kStructureStep);
  ZV_TRY(zorvatools::poll_call("resolving the horizon stack", 0, stack.horizons.size()));
  ZV_ASSIGN_OR_RETURN(ResolvedStack resolved, resolve_stack_surfaces(stack, nx, ny, taper));
  std::vector<bool> tops_only;
  for (const HorizonResolution& how : resolved.horizons) tops_only.push_back(!how.mapped);

  // Residuals are measured against the first resolution; tied grids are resolved again.
  std::vector<WellTieRecord> tie_records;
  if (!well_ties.empty()) {
    ZV_ASSIGN_OR_RETURN(TiedStack tied, apply_well_ties(stack, resolved.surfaces, well_ties,
                                                        tie_radius_m, {nx, ny, dx, dy}));
    if (tied.grids_changed) {
      ZV_ASSIGN_OR_RETURN(resolved, resolve_stack_surfaces(tied.stack, nx, ny, taper));
    }
    tie_records = std::move(tied.records);
  }

  ZV_TRY(zorvatools::poll_call("checking the stack interfaces", 0, 1));
  ZV_ASSIGN_OR_RETURN(CheckedInterfaces checked,
                      check_stack_interfaces(std::move(resolved.surfaces), tops_only,
                                             min_thickness_m, clamp_crossings));
  const std::vector<Surface>& surfaces = checked.surfaces;

  std::vector<const Surface*> surface_refs;
  for (const Surface& surface : surfaces) surface_refs.push_back(&surface);
  std::vector<ZoneLayerSpec> zone_specs;
  for (const StackZone& zone : stack.zones) zone_specs.push_back(zone.layers);
  std::vector<BuildWarning> build_warnings = warnings;
  std::vector<StackedZone> stacked;
  std::vector<PropertyReport> reports;
  Grid grid = unit_box();
  std::shared_ptr<const SpillBacking> backing;

  // A stack populated only with constant priors is written plane by plane when it would not fit
  // the budget, as a single zone is.
  if (streams_when_over_budget(*this)) {
    ZV_ASSIGN_OR_RETURN(StreamingLayering streaming,
                        StreamingLayering::prepare(surface_refs, zone_specs, dx, dy));
    const std::uint64_t estimate = streaming_estimate(streaming.dims().cell_count());
    if (estimate > spill_budget_bytes) {
      steps.enter(kLayeringStep, kSpillStep);
      ZV_ASSIGN_OR_RETURN(StreamedLayering streamed,
                          stream_into_store(*this, streaming, estimate));
      for (std::size_t z = 0; z < zone_specs.size(); ++z) {
        stacked.push_back({zone_specs[z].conformity, streaming.zone_counts()[z],
                           streaming.zone_starts()[z], streamed.pinched_cells[z], 0});
      }
      add_layering_warnings(stacked, streaming.capped(), streaming.dims().nk, build_warnings);
      backing = std::move(streamed.backing);
    }
  }

  std::vector<ZoneRange> zone_ranges;
  std::vector<std::size_t> layer_counts;
  const auto record_zones = [&] {
    for (std::size_t z = 0; z < stacked.size(); ++z) {
      const StackedZone& zone = stacked[z];
      zone_ranges.push_back({stack.zones[z].name, zone.k_start, zone.k_start + zone.nk});
      layer_counts.push_back(zone.nk);
    }
  };
  if (backing) {
    record_zones();
  } else {
    steps.enter(kLayeringStep);
    ZV_ASSIGN_OR_RETURN(LayeringReport layering,
                        layer_grid_stack(surface_refs, zone_specs, collapse_below_m, dx, dy));
    add_layering_warnings(layering, build_warnings);
    grid = std::move(layering.grid);
    stacked = std::move(layering.zones);
    record_zones();
    steps.enter(kPopulationStep);
    ZV_TRY(populate_grid(grid, zone_ranges, reports));
  }

  StackNames names = stack_names(stack);
  Wireframe framework =
      stack_framework(stack.horizons, surfaces, std::move(names.all_contacts),
                      stack_boundary_ring(stack_boundary, georef, nx, ny), nx, ny);
  StackRecord record{std::move(checked.repairs), std::move(tie_records), {}};
  for (const WellTieRecord& tie : record.well_ties) {
    record.stack.tie_residuals.insert(record.stack.tie_residuals.end(), tie.residuals.begin(),
                                      tie.residuals.end());
  }
  for (std::size_t z = 0; z < stacked.size(); ++z) {
    record.stack.zones.push_back({zone_ranges[z].k_start, zone_ranges[z].k_end, names.zones[z],
                                  names.horizons[z], names.horizons[z + 1], stacked[z]});
  }
  record.stack.horizons = std::move(resolved.horizons);

  StaticModel model{
      .sw_gas = sw_gas,
      .provenance = {inputs_ref_string(), std::move(record), std::move(build_warnings),
                     std::move(reports)},
      .georef = georef,
      .sugar_cube = sugar_cube,
      .wireframe = std::move(framework),
      .grid = std::move(grid),
      .zone_table = ZoneTable::from_stack(names.horizons, names.zones, names.labels, layer_counts),
      .zone_contacts = std::nullopt,
      .spill = nullptr,
  };
  model = std::move(model).with_zone_contacts(std::move(names.contacts));
  if (backing) return into_spilled(std::move(model), std::move(backing));
  steps.enter(kSpillStep);
  return maybe_spill(*this, std::move(model));
}

}  // namespace zorvastatic
