#include "zorvatools/gridding/compressed_rows.hpp"

#include <algorithm>
#include <cmath>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {

void CompressedRows::multiply(std::span<const double> x, std::span<double> y) const {
  require(x.size() == n && y.size() == n, "sparse multiply: vector length mismatch");
  for (std::size_t r = 0; r < n; ++r) {
    double s = 0;
    for (auto p = start[r]; p < start[r + 1]; ++p) s += value[p] * x[column[p]];
    y[r] = s;
  }
}

double CompressedRows::norm_inf() const {
  double largest = 0;
  for (std::size_t r = 0; r < n; ++r) {
    double s = 0;
    for (auto p = start[r]; p < start[r + 1]; ++p) s += std::fabs(value[p]);
    largest = std::max(largest, s);
  }
  return largest;
}

}  // namespace zorvatools
