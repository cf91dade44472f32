#pragma once
// The builder turns a wireframe and a BuildSpec into a populated static model. It is
// created by from_wireframe, configured through its fields and consumed by build.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zorvastatic/gridder/stack.hpp"
#include "zorvastatic/gridder/surface_solve.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/model/pipeline.hpp"
#include "zorvastatic/model/pipeline_apply.hpp"
#include "zorvastatic/model/population.hpp"
#include "zorvastatic/model/spec.hpp"
#include "zorvastatic/model/well_ties.hpp"

namespace zorvastatic {

// Control points of every defined node of a horizon, rows j outer, i inner.
std::vector<ControlPoint> horizon_controls(const Horizon& horizon);

// Pillar spacing along i and along j, metres.
struct NodeSpacing {
  double dx = 0;
  double dy = 0;
};

class StaticModelBuilder {
 public:
  static Result<StaticModelBuilder> from_wireframe(const Wireframe& wireframe,
                                                   const BuildSpec& spec);

  // Runs the stages; consumes the builder.
  Result<StaticModel> build() &&;

  // The inputs reference, or "wireframe".
  [[nodiscard]] std::string inputs_ref_string() const;

  // The pillar spacing of an nx x ny lattice: `node_spacing` when given (it must agree with the
  // georeference's spacing when both are present), else a square footprint of `spec.area_m2`.
  [[nodiscard]] Result<NodeSpacing> areal_spacing(std::size_t nx, std::size_t ny) const;
  // The zone table of the single-zone road: one zone over layers 0 .. nk.
  [[nodiscard]] ZoneTable single_zone_table(std::size_t nk) const;

  // Zone priors, then zone pipelines, over the named zones of `zones`.
  Status apply_zone_population(Grid& grid, const std::vector<ZoneRange>& zones,
                               std::vector<PropertyReport>& reports) const;

  TaperSpec taper;
  std::optional<double> min_thickness_m;
  std::optional<double> collapse_below_m;
  std::optional<double> sw_gas;
  std::optional<double> tie_radius_m;
  std::vector<WellTie> well_ties;
  std::optional<std::string> inputs_ref;
  std::optional<std::vector<Point2>> stack_boundary;
  std::optional<Georef> georef;
  std::optional<NodeSpacing> node_spacing;  // absent: sqrt(area_m2) / (n - 1) along each axis
  std::string single_zone_name = "RESERVOIR";
  std::optional<std::string> single_zone_label;
  bool clamp_crossings = false;
  bool sugar_cube = false;
  BuildSpec spec;
  std::vector<ControlPoint> top_controls;
  Wireframe wireframe;
  std::vector<BuildWarning> warnings;
  std::vector<PropertyPipeline> pipelines;
  std::vector<std::pair<std::string, PropertyPipeline>> zone_pipelines;
  std::vector<std::pair<std::string, ConstantPriors>> zone_priors;
  std::optional<std::vector<ControlPoint>> base_controls;
  std::optional<std::vector<DepthRecord>> depth_profile;
  std::optional<ArealTrend> areal_trend;
  std::optional<HorizonStack> horizon_stack;  // present: the build takes the horizon-stack road
  std::optional<std::filesystem::path> spill_dir;
  std::string inputs_kind = "wireframe";
  std::size_t top_max_i = 0;
  std::size_t top_max_j = 0;
  std::uint64_t spill_budget_bytes = 0;
  bool keep_spill_file = false;

 private:
  StaticModelBuilder() = default;

  Result<StaticModel> build_single_zone() &&;
  Result<StaticModel> build_stack() &&;
  // Populates a freshly layered grid: priors, whole-grid pipelines, zones.
  Status populate_grid(Grid& grid, const std::vector<ZoneRange>& zones,
                       std::vector<PropertyReport>& reports) const;
};

}  // namespace zorvastatic
