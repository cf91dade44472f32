#pragma once

#include <optional>

#include "zorvastatic/model/pipeline.hpp"

namespace zorvastatic {

// Populates the pipeline's cube in `grid` and returns its report; on failure the grid's
// properties are unchanged.
Result<PropertyReport> apply_with_georef(const PropertyPipeline& pipeline, Grid& grid,
                                         const std::optional<Georef>& georef);

}  // namespace zorvastatic
