#pragma once
// Small grids for tests: regular boxes with vertical pillars and the origin corner at (0, 0).

#include <cstddef>

#include "zorvastatic/grid/box_construction.hpp"

namespace zorvastatic::testing {

// ni × nj × nk cells of dx × dy × (thickness / nk) starting at depth `top`.
inline Grid box_grid(std::size_t ni, std::size_t nj, std::size_t nk, double dx = 100,
                     double dy = 100, double top = 2000, double thickness = 50) {
  const double lx = dx * static_cast<double>(ni);
  const double ly = dy * static_cast<double>(nj);
  return *build_box({lx * ly, thickness, ni, nj, nk, top, lx / ly});
}

}  // namespace zorvastatic::testing
