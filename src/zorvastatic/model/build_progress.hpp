#pragma once
// How a build's progress is shared among its steps: by the time each step is expected to take,
// from costs per cell measured on 2- and 8-million-cell builds (bench/build_progress.py times
// each stage the engine reports). Only the shares depend on these figures, never a result.

#include <array>
#include <cstddef>
#include <vector>

#include "zorvastatic/model/population.hpp"

namespace zorvastatic {

class StaticModelBuilder;
struct PropertyPipeline;

// The steps of a build, in order.
enum BuildStep : std::size_t {
  kStructureStep,   // solving the surfaces, resolving and checking a stack
  kLayeringStep,    // the grid's geometry
  kPopulationStep,  // priors, pipelines, zone priors and zone pipelines
  kSpillStep,       // writing the store of a model over its memory budget
  kBuildStepCount,
};

// Expected work of each step, known before anything is solved (the layer count is the fewest the
// build can make where the surfaces decide it).
std::array<double, kBuildStepCount> build_work(const StaticModelBuilder& builder);

// Expected work of populating a layered grid: the priors, then each whole-grid pipeline, then the
// zone priors and zone pipelines together.
std::vector<double> population_work(const StaticModelBuilder& builder,
                                    const std::vector<ZoneRange>& zones, std::size_t layer_cells);

// Expected work of a pipeline over `cells` cells: its upscaling, then its simulation.
std::array<double, 2> pipeline_step_work(const PropertyPipeline& pipeline, double cells);

// Expected work of the zone priors together, then of each zone pipeline.
std::vector<double> zone_population_work(const StaticModelBuilder& builder,
                                         const std::vector<ZoneRange>& zones,
                                         std::size_t layer_cells);

}  // namespace zorvastatic
