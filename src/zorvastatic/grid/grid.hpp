#pragma once

#include <vector>

#include "zorvastatic/grid/geometry.hpp"
#include "zorvastatic/grid/klayer.hpp"
#include "zorvastatic/grid/property.hpp"

namespace zorvastatic {

// A corner-point grid with its k-layer labels and property cubes, owned exclusively.
struct Grid {
  CornerPointGeom geom;
  std::vector<KLayer> layers;
  Properties properties;

  [[nodiscard]] const Dims& dims() const { return geom.dims(); }
};

}  // namespace zorvastatic
