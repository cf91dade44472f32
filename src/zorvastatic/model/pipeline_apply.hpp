#pragma once

#include <optional>
#include <string>
#include <vector>

#include "zorvastatic/model/pipeline.hpp"

namespace zorvastatic {

// Populates the pipeline's cube in `grid` and returns its report; on failure the grid's
// properties are unchanged.
Result<PropertyReport> apply_with_georef(const PropertyPipeline& pipeline, Grid& grid,
                                         const std::optional<Georef>& georef);

// Simulates layers [k_start, k_end) of `output` (a whole-grid cube) from the upscaled cube with
// the pipeline's Gaussian step; other layers are not touched, and nothing is written on failure.
Status propagate_sgs_into(const Grid& grid, const std::string& name,
                          const std::vector<double>& upscaled, std::size_t k_start,
                          std::size_t k_end, const PropertyPipeline& pipeline,
                          std::vector<double>& output, const std::optional<Georef>& georef);

}  // namespace zorvastatic
