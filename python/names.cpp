#include "names.hpp"

namespace zvpy {

std::optional<zorvastatic::UpscaleMethod> parse_upscale_method(const std::string& text) {
  using zorvastatic::UpscaleMethod;
  if (text == "arith" || text == "arithmetic") return UpscaleMethod::Arithmetic;
  if (text == "harmonic") return UpscaleMethod::Harmonic;
  if (text == "geo" || text == "geometric") return UpscaleMethod::Geometric;
  return std::nullopt;
}

std::optional<zorvatools::VariogramModel> parse_variogram_model(const std::string& text) {
  using zorvatools::VariogramModel;
  if (text == "sph" || text == "spherical") return VariogramModel::Spherical;
  if (text == "exp" || text == "exponential") return VariogramModel::Exponential;
  if (text == "gauss" || text == "gaussian") return VariogramModel::Gaussian;
  return std::nullopt;
}

}  // namespace zvpy
