#include "zorvastatic/model/build_progress.hpp"

#include <algorithm>
#include <string>

#include "zorvastatic/model/build_size.hpp"
#include "zorvastatic/model/builder.hpp"
#include "zorvastatic/model/pipeline.hpp"
#include "zorvastatic/spill/spill.hpp"

namespace zorvastatic {
namespace {

// Nanoseconds per node of one solved surface, or per cell, on two threads.
constexpr double kSolvePerNode = 500;
constexpr double kLayeringPerCell = 150;
constexpr double kPriorsPerCell = 70;
constexpr double kUpscalingPerCell = 50;
constexpr double kSimulationPerCell = 2300;
constexpr double kSpillPerCell = 120;
constexpr double kStreamingPerCell = 40;  // layering and writing, plane by plane

double pipeline_work(const PropertyPipeline& pipeline, double cells) {
  const std::array<double, 2> steps = pipeline_step_work(pipeline, cells);
  return steps[0] + steps[1];
}

double zone_cells(const std::vector<ZoneRange>& zones, const std::string& name,
                  std::size_t layer_cells) {
  for (const ZoneRange& zone : zones) {
    if (zone.name == name) return static_cast<double>((zone.k_end - zone.k_start) * layer_cells);
  }
  return 0.0;  // an unknown zone fails at once
}

}  // namespace

std::array<double, kBuildStepCount> build_work(const StaticModelBuilder& builder) {
  const BuildShape shape = build_shape(builder);
  const double nodes = static_cast<double>(shape.nx) * static_cast<double>(shape.ny);
  const Dims dims{static_cast<std::size_t>(std::max<std::uint64_t>(shape.nx, 2) - 1),
                  static_cast<std::size_t>(std::max<std::uint64_t>(shape.ny, 2) - 1),
                  static_cast<std::size_t>(std::max<std::uint64_t>(shape.min_layers, 1))};
  const double cells = static_cast<double>(dims.cell_count());
  const std::size_t surfaces = builder.horizon_stack ? builder.horizon_stack->horizons.size()
                                                     : (builder.base_controls ? 2 : 1);

  std::array<double, kBuildStepCount> work{};
  work[kStructureStep] = kSolvePerNode * nodes * static_cast<double>(surfaces);
  if (shape.streams && streaming_estimate(dims.cell_count()) > shape.budget_bytes) {
    work[kSpillStep] = kStreamingPerCell * cells;  // the one step that layers and writes
    return work;
  }
  work[kLayeringStep] = kLayeringPerCell * cells;
  // Before the layering, a zone's cells are taken as an even share of the grid's.
  const std::size_t zones = builder.horizon_stack ? builder.horizon_stack->zones.size() : 1;
  const double cells_per_zone = cells / static_cast<double>(std::max<std::size_t>(zones, 1));
  double population = kPriorsPerCell * cells;
  for (const PropertyPipeline& pipeline : builder.pipelines) {
    population += pipeline_work(pipeline, cells);
  }
  for (const auto& [zone, pipeline] : builder.zone_pipelines) {
    population += pipeline_work(pipeline, cells_per_zone);
  }
  work[kPopulationStep] = population;
  const std::size_t cubes = 3 + builder.pipelines.size() + builder.zone_pipelines.size();
  if (in_memory_estimate(dims, cubes) > shape.budget_bytes) {
    work[kSpillStep] = kSpillPerCell * cells;
  }
  return work;
}

std::vector<double> population_work(const StaticModelBuilder& builder,
                                    const std::vector<ZoneRange>& zones, std::size_t layer_cells) {
  double cells = 0;
  for (const ZoneRange& zone : zones) {
    cells += static_cast<double>((zone.k_end - zone.k_start) * layer_cells);
  }
  std::vector<double> work = {kPriorsPerCell * cells};
  for (const PropertyPipeline& pipeline : builder.pipelines) {
    work.push_back(pipeline_work(pipeline, cells));
  }
  double zoned = 0;
  for (const double w : zone_population_work(builder, zones, layer_cells)) zoned += w;
  work.push_back(zoned);
  return work;
}

std::array<double, 2> pipeline_step_work(const PropertyPipeline& pipeline, double cells) {
  return {kUpscalingPerCell * cells, pipeline.gaussian ? kSimulationPerCell * cells : 0.0};
}

std::vector<double> zone_population_work(const StaticModelBuilder& builder,
                                         const std::vector<ZoneRange>& zones,
                                         std::size_t layer_cells) {
  double priors = 0;
  for (const auto& [zone, values] : builder.zone_priors) {
    priors += kPriorsPerCell * zone_cells(zones, zone, layer_cells);
  }
  std::vector<double> work = {priors};
  for (const auto& [zone, pipeline] : builder.zone_pipelines) {
    work.push_back(pipeline_work(pipeline, zone_cells(zones, zone, layer_cells)));
  }
  return work;
}

}  // namespace zorvastatic
