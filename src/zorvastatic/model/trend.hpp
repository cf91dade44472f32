#pragma once
// An areal trend surface used to scale or co-simulate properties, with its own georeference or
// stretched over whatever frame it is resampled onto.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zorvatools/foundation/array2d.hpp"
#include "zorvatools/foundation/error.hpp"
#include "zorvatools/foundation/lattice.hpp"

namespace zorvastatic {

struct TrendSurface {
  enum class Frame : std::uint8_t { World = 0, WorldFlipped = 1, Local = 2 };

  std::vector<double> values;  // node (i, j) at i + nx * j; NaN where undefined
  double origin_x = 0;
  double origin_y = 0;
  double spacing_x = 1;
  double spacing_y = 1;
  double rotation_deg = 0;
  Frame frame = Frame::Local;
  std::size_t nx = 0;
  std::size_t ny = 0;

  [[nodiscard]] bool is_local() const { return frame == Frame::Local; }

  // The trend at every node of `target` (NaN where not covered), element (i, j) = node (i, j).
  [[nodiscard]] zorvatools::AlgoResult<zorvatools::Array2D<double>> resample_to(
      const zorvatools::Lattice& target) const;
};

}  // namespace zorvastatic
