#pragma once
// Max-norm measures for comparing solved surfaces.

#include <cmath>
#include <cstddef>

#include "zorvatools/foundation/array2d.hpp"

namespace zorvatools {

inline double largest_abs(const Array2D<double>& g) {
  double m = 0;
  for (double z : g.data()) m = std::fmax(m, std::fabs(z));
  return m;
}

inline double largest_difference(const Array2D<double>& a, const Array2D<double>& b) {
  double m = 0;
  for (std::size_t n = 0; n < a.data().size(); ++n) {
    m = std::fmax(m, std::fabs(a.data()[n] - b.data()[n]));
  }
  return m;
}

}  // namespace zorvatools
