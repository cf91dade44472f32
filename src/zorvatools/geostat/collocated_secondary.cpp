#include "zorvatools/geostat/collocated_secondary.hpp"

#include <cmath>

namespace zorvatools {

Array2D<double> standardised_secondary(const Array2D<double>& secondary) {
  Array2D<double> out = secondary;
  auto& values = out.data();
  double sum = 0;
  std::size_t count = 0;
  for (double v : values) {
    if (std::isfinite(v)) {
      sum += v;
      ++count;
    }
  }
  if (count == 0) return out;
  const double mean = sum / static_cast<double>(count);
  double squares = 0;
  for (double v : values) {
    if (std::isfinite(v)) squares += (v - mean) * (v - mean);
  }
  const double variance = squares / static_cast<double>(count);
  if (!(variance > 0)) {
    for (double& v : values) v = 0.0;
    return out;
  }
  const double deviation = std::sqrt(variance);
  for (double& v : values) v = std::isfinite(v) ? (v - mean) / deviation : 0.0;
  return out;
}

}  // namespace zorvatools
