#pragma once

#include <cstddef>

#include "zorvastatic/grid/grid.hpp"

namespace zorvastatic {

struct BoxSpec {
  double area_m2 = 1;         // plan area of the block
  double gross_height_m = 1;  // vertical thickness
  std::size_t ni = 1;
  std::size_t nj = 1;
  std::size_t nk = 1;
  double top_depth_m = 0;
  double aspect_ratio = 1;  // x extent over y extent
};

// A regular rectangular block with its origin corner at (0, 0) and vertical pillars.
Result<Grid> build_box(const BoxSpec& spec);

// The one-cell placeholder grid (area 1, height 1, top 0), which always builds.
Grid unit_box();

}  // namespace zorvastatic
