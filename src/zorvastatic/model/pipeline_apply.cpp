#include "zorvastatic/model/pipeline_apply.hpp"

namespace zorvastatic {

Result<PropertyReport> apply_with_georef(const PropertyPipeline& pipeline, Grid& grid,
                                         const std::optional<Georef>& georef) {
  ZV_ASSIGN_OR_RETURN(UpscaledCube upscaled, upscale_cells_with_georef(pipeline, grid, georef));
  ZV_TRY(grid.properties.set({pipeline.name, std::move(upscaled.values)}));
  return upscaled.report;
}

}  // namespace zorvastatic
