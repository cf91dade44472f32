#include "zorvatools/geostat/offset_correlations.hpp"

#include <algorithm>
#include <cmath>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {

std::optional<OffsetCorrelations> OffsetCorrelations::build(const Correlation& correlation,
                                                            std::span<const Point2> along_i,
                                                            std::span<const Point2> along_j,
                                                            std::size_t reach_i,
                                                            std::size_t reach_j,
                                                            std::size_t max_entries) {
  require(reach_i < std::max<std::size_t>(along_i.size(), 1) &&
              reach_j < std::max<std::size_t>(along_j.size(), 1),
          "OffsetCorrelations: reach beyond the lattice");
  const std::size_t rows = 2 * reach_i + 1;
  const std::size_t width = 2 * reach_j + 1;
  if (width > max_entries / rows) return std::nullopt;
  const std::optional<ExactLags> lags = exact_lags(along_i, along_j);
  if (!lags) return std::nullopt;

  const std::size_t count = rows * width;
  std::vector<double> dx(count);
  std::vector<double> dy(count);
  const auto first_i = -static_cast<std::int64_t>(reach_i);
  const auto first_j = -static_cast<std::int64_t>(reach_j);
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < width; ++c) {
      const Point2 lag =
          lags->lag(first_i + static_cast<std::int64_t>(r), first_j + static_cast<std::int64_t>(c));
      dx[r * width + c] = lag.x;
      dy[r * width + c] = lag.y;
    }
  }
  OffsetCorrelations table;
  table.rho_.resize(count);
  correlation.evaluate(dx.data(), dy.data(), count, table.rho_.data());
  // The entry of (-di, -dj) lies as far past the centre as that of (di, dj) before it.
  const std::size_t centre = reach_i * width + reach_j;
  for (std::size_t k = 0; k < centre; ++k) table.rho_[k] = table.rho_[2 * centre - k];
  table.reach_i_ = reach_i;
  table.reach_j_ = reach_j;
  table.width_ = static_cast<std::ptrdiff_t>(width);
  table.centre_ = static_cast<std::ptrdiff_t>(centre);
  return table;
}

}  // namespace zorvatools
