#include "zorvatools/geostat/nscore.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <boost/math/special_functions/erf.hpp>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {

double interp(std::span<const double> xs, std::span<const double> ys, double x) {
  require(!xs.empty() && xs.size() == ys.size(), "interp: tables must be non-empty and equal");
  const std::size_t m = xs.size();
  if (m == 1 || x <= xs[0]) return ys[0];
  if (x >= xs[m - 1]) return ys[m - 1];
  std::size_t lo = 0;
  std::size_t hi = m - 1;
  while (hi - lo > 1) {
    const std::size_t mid = (lo + hi) / 2;
    if (xs[mid] <= x) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  const double y = ys[lo] + (x - xs[lo]) / (xs[hi] - xs[lo]) * (ys[hi] - ys[lo]);
  // Rounding must not carry a value past its bracket: results stay within the table's range.
  return std::clamp(y, std::min(ys[lo], ys[hi]), std::max(ys[lo], ys[hi]));
}

double normal_quantile(double p) {
  // + 0.0 turns the median's -0 into 0.
  return -std::numbers::sqrt2 * boost::math::erfc_inv(2.0 * p) + 0.0;
}

NormalScore NormalScore::fit(std::span<const double> data) {
  require(!data.empty(), "NormalScore::fit: no data");
  require(std::ranges::all_of(data, [](double v) { return std::isfinite(v); }),
          "NormalScore::fit: data must be finite");
  std::vector<double> sorted(data.begin(), data.end());
  std::ranges::sort(sorted);
  const std::size_t n = sorted.size();
  const auto count = static_cast<double>(n);

  NormalScore table;
  std::size_t r = 0;
  while (r < n) {
    std::size_t end = r;
    double sum = 0;
    while (end < n && sorted[end] == sorted[r]) {
      sum += normal_quantile((static_cast<double>(end) + 0.5) / count);
      ++end;
    }
    table.values.push_back(sorted[r]);
    table.scores.push_back(sum / static_cast<double>(end - r));
    r = end;
  }
  return table;
}

}  // namespace zorvatools
