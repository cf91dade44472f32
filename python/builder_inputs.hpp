#pragma once
// Everything the private builder binding gathers before a build, as engine values: the setters
// fill it, and a build runs on a copy of it, so a build never reads Python objects.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zorvastatic/model/builder.hpp"

namespace zvpy {

struct BuilderInputs {
  zorvastatic::Wireframe wireframe{{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}, {}, {}};
  zorvastatic::BuildSpec spec;
  std::optional<zorvastatic::Georef> georef;
  std::optional<zorvastatic::NodeSpacing> node_spacing;
  std::optional<zorvastatic::HorizonStack> horizon_stack;
  std::vector<zorvastatic::WellTie> well_ties;
  zorvastatic::TaperSpec taper;
  std::optional<double> min_thickness_m;
  std::optional<double> collapse_below_m;
  std::optional<double> sw_gas;
  std::optional<double> tie_radius_m;
  bool clamp_crossings = false;
  bool sugar_cube = false;
  std::optional<std::uint64_t> spill_budget_bytes;  // absent: the builder's default
  std::optional<std::filesystem::path> spill_dir;
  bool keep_spill_file = false;
  std::optional<std::string> inputs_ref;
  std::optional<std::string> zone_name;  // the single-zone road's zone
  std::optional<std::string> zone_label;
  std::vector<zorvastatic::PropertyPipeline> pipelines;
  std::vector<std::pair<std::string, zorvastatic::PropertyPipeline>> zone_pipelines;
  std::vector<std::pair<std::string, zorvastatic::ConstantPriors>> zone_priors;
  std::optional<std::vector<zorvastatic::DepthRecord>> depth_profile;
  std::optional<zorvastatic::ArealTrend> areal_trend;
};

// Creates the engine's builder from the inputs, configures it and builds. Touches no Python
// object, so it may run without the interpreter lock.
zorvastatic::Result<zorvastatic::StaticModel> run_build(BuilderInputs inputs);

}  // namespace zvpy
