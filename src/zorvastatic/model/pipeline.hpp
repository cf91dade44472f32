#pragma once
// Property pipelines: positioned well logs upscaled into grid cells, optionally followed by a
// Gaussian simulation step.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zorvastatic/error.hpp"
#include "zorvastatic/grid/grid.hpp"
#include "zorvastatic/model/gaussian.hpp"
#include "zorvastatic/model/georef.hpp"
#include "zorvastatic/model/property_report.hpp"
#include "zorvastatic/petro/upscale.hpp"

namespace zorvastatic {

// A vertical well: (depth, value) samples at areal position (x, y), in the grid's local frame
// or the model's world frame.
struct WellLog {
  std::vector<std::pair<double, double>> samples;
  double x = 0;
  double y = 0;
};

struct UpscaleStep {
  std::vector<WellLog> wells;
  UpscaleMethod method = UpscaleMethod::Arithmetic;
};

struct PropertyPipeline {
  std::string name;  // the cube is stored under this name
  std::optional<UpscaleStep> upscale;
  std::optional<Gaussian> gaussian;  // absent for an upscale-only pipeline

  static PropertyPipeline upscale_only(std::string name, std::vector<WellLog> wells,
                                       UpscaleMethod method) {
    return {std::move(name), UpscaleStep{std::move(wells), method}, std::nullopt};
  }
};

struct UpscaledCube {
  std::vector<double> values;  // one per cell; NaN where no sample fell
  PropertyReport report;
};

// Averages each well's samples into the cells of the column it stands in.
Result<UpscaledCube> upscale_cells_with_georef(const PropertyPipeline& pipeline, const Grid& grid,
                                               const std::optional<Georef>& georef);

// Quality summary of a cube and the samples that were averaged into it.
PropertyReport upscale_qc(const std::string& name, const std::vector<double>& cube,
                          const std::vector<double>& collected_samples);

}  // namespace zorvastatic
