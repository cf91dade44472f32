#pragma once
// Method and model names as Python callers write them, parsed after trimming and lower-casing.

#include <optional>
#include <string>

#include "zorvastatic/petro/upscale.hpp"
#include "zorvatools/geostat/variogram.hpp"

namespace zvpy {

// "arith"/"arithmetic", "harmonic", "geo"/"geometric".
std::optional<zorvastatic::UpscaleMethod> parse_upscale_method(const std::string& text);
// "sph"/"spherical", "exp"/"exponential", "gauss"/"gaussian".
std::optional<zorvatools::VariogramModel> parse_variogram_model(const std::string& text);

}  // namespace zvpy
