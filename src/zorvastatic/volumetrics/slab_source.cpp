#include "zorvastatic/volumetrics/slab_source.hpp"

#include <cmath>

namespace zorvastatic {

double CellSlab::cell_volume(std::size_t c) const {
  const std::size_t i = c % ni;
  const std::size_t j = c / ni;
  const std::size_t p = i + (ni + 1) * j;
  double depths[8];
  for (std::size_t n = 0; n < 8; ++n) depths[n] = static_cast<double>(zcorn[8 * c + n]);
  return std::fabs(hexahedron_volume(vertical_cell_corners(pillars.data(), p, ni, depths)));
}

}  // namespace zorvastatic
