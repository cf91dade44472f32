#include "zorvatools/geostat/exact_lags.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

namespace zorvatools {

namespace {

// Whole numbers up to this many units of the finest position bit are exact doubles, and so are
// their sums and differences while they stay below twice that.
constexpr double kExactUnits = 0x1p52;

// The exponent of the lowest set bit of v (v finite, non-zero): v is a whole multiple of 2^that.
int lowest_bit_exponent(double v) {
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(v), &exponent);  // in [0.5, 1)
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  return exponent - 53 + std::countr_zero(mantissa);
}

// The units of the positions along one axis, and their even step: nothing unless
// units[k] - units[0] == k step for every k.
std::optional<std::int64_t> even_step(std::span<const std::int64_t> units) {
  if (units.size() < 2) return std::int64_t{0};
  const std::int64_t step = units[1] - units[0];
  std::int64_t expected = 0;
  for (const std::int64_t u : units) {
    // Stays within the units' own range while it matches them, so never overflows.
    if (u - units[0] != expected) return std::nullopt;
    expected += step;
  }
  return step;
}

}  // namespace

Point2 ExactLags::lag(std::int64_t di, std::int64_t dj) const {
  return {std::ldexp(static_cast<double>(di * step_i_x + dj * step_j_x), exponent),
          std::ldexp(static_cast<double>(di * step_i_y + dj * step_j_y), exponent)};
}

std::optional<ExactLags> exact_lags(std::span<const Point2> along_i,
                                    std::span<const Point2> along_j) {
  int exponent = std::numeric_limits<int>::max();
  double largest_i = 0;  // per coordinate: the most either table reaches
  double largest_j = 0;
  for (const auto& [along, largest] :
       {std::pair{along_i, &largest_i}, std::pair{along_j, &largest_j}}) {
    for (const Point2& p : along) {
      for (const double v : {p.x, p.y}) {
        if (!std::isfinite(v)) return std::nullopt;
        if (v != 0) exponent = std::min(exponent, lowest_bit_exponent(v));
        *largest = std::max(*largest, std::fabs(v));
      }
    }
  }
  if (exponent == std::numeric_limits<int>::max()) exponent = 0;  // every position at 0
  // Every position, sum of one of each, within kExactUnits units: exact, and so their differences.
  if (!(largest_i + largest_j <= std::ldexp(kExactUnits, exponent))) return std::nullopt;

  auto units_of = [&](std::span<const Point2> along, double Point2::* coordinate) {
    std::vector<std::int64_t> units(along.size());
    for (std::size_t k = 0; k < along.size(); ++k) {
      units[k] = static_cast<std::int64_t>(std::ldexp(along[k].*coordinate, -exponent));
    }
    return units;
  };
  ExactLags lags{.exponent = exponent};
  for (const auto& [along, x_step, y_step] :
       {std::tuple{along_i, &lags.step_i_x, &lags.step_i_y},
        std::tuple{along_j, &lags.step_j_x, &lags.step_j_y}}) {
    const auto x = even_step(units_of(along, &Point2::x));
    const auto y = even_step(units_of(along, &Point2::y));
    if (!x || !y) return std::nullopt;
    *x_step = *x;
    *y_step = *y;
  }
  return lags;
}

}  // namespace zorvatools
