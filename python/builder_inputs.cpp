#include "builder_inputs.hpp"

namespace zvpy {

using zorvastatic::Result;
using zorvastatic::StaticModel;
using zorvastatic::StaticModelBuilder;

Result<StaticModel> run_build(BuilderInputs inputs) {
  ZV_ASSIGN_OR_RETURN(StaticModelBuilder builder,
                      StaticModelBuilder::from_wireframe(inputs.wireframe, inputs.spec));
  builder.georef = inputs.georef;
  builder.node_spacing = inputs.node_spacing;
  builder.horizon_stack = std::move(inputs.horizon_stack);
  builder.well_ties = std::move(inputs.well_ties);
  builder.taper = inputs.taper;
  builder.min_thickness_m = inputs.min_thickness_m;
  builder.collapse_below_m = inputs.collapse_below_m;
  builder.sw_gas = inputs.sw_gas;
  builder.tie_radius_m = inputs.tie_radius_m;
  builder.clamp_crossings = inputs.clamp_crossings;
  builder.sugar_cube = inputs.sugar_cube;
  if (inputs.spill_budget_bytes) builder.spill_budget_bytes = *inputs.spill_budget_bytes;
  builder.spill_dir = std::move(inputs.spill_dir);
  builder.keep_spill_file = inputs.keep_spill_file;
  builder.inputs_ref = std::move(inputs.inputs_ref);
  if (inputs.zone_name) builder.single_zone_name = std::move(*inputs.zone_name);
  builder.single_zone_label = std::move(inputs.zone_label);
  builder.pipelines = std::move(inputs.pipelines);
  builder.zone_pipelines = std::move(inputs.zone_pipelines);
  builder.zone_priors = std::move(inputs.zone_priors);
  builder.depth_profile = std::move(inputs.depth_profile);
  builder.areal_trend = std::move(inputs.areal_trend);
  return std::move(builder).build();
}

}  // namespace zvpy
