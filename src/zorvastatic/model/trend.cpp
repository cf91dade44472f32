#include "zorvastatic/model/trend.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zorvastatic {

using zorvatools::AlgoError;
using zorvatools::Array2D;
using zorvatools::Lattice;

namespace {

constexpr double kSnap = 1e-9;

double snap_to_integer(double f) {
  const double nearest = std::round(f);
  return std::fabs(f - nearest) <= kSnap ? nearest : f;
}

// A local trend is stretched over the target: its corner nodes land on the target's.
double stretched_spacing(double extent, std::size_t count) {
  if (count < 2) return 1.0;
  const double spacing = extent / static_cast<double>(count - 1);
  return std::isfinite(spacing) && spacing > 0 ? spacing : 1.0;
}

}  // namespace

zorvatools::AlgoResult<Array2D<double>> TrendSurface::resample_to(const Lattice& target) const {
  Lattice source{origin_x, origin_y, spacing_x,    spacing_y,
                 nx,       ny,       rotation_deg, frame == Frame::WorldFlipped};
  if (is_local()) {
    const zorvatools::Point2 first = target.node_xy(0, 0);
    const zorvatools::Point2 last =
        target.node_xy(static_cast<double>(target.nx) - 1, static_cast<double>(target.ny) - 1);
    source = Lattice{first.x,
                     first.y,
                     stretched_spacing(last.x - first.x, nx),
                     stretched_spacing(last.y - first.y, ny),
                     nx,
                     ny,
                     0,
                     false};
  }
  if (nx == 0 || ny == 0 || source.spacing_x == 0 || source.spacing_y == 0) {
    return std::unexpected(AlgoError::invalid_geometry(
        "resample: degenerate source geometry (empty grid or zero node spacing)"));
  }

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double max_i = static_cast<double>(nx - 1);
  const double max_j = static_cast<double>(ny - 1);
  auto value_at = [&](std::size_t i, std::size_t j) { return values[i + nx * j]; };

  Array2D<double> out(target.nx, target.ny, nan);
  for (std::size_t j = 0; j < target.ny; ++j) {
    for (std::size_t i = 0; i < target.nx; ++i) {
      const zorvatools::Point2 p = target.node_xy(static_cast<double>(i), static_cast<double>(j));
      const auto ij = source.xy_to_ij(p.x, p.y);
      if (!ij) continue;
      const double fi = snap_to_integer(ij->first);
      const double fj = snap_to_integer(ij->second);
      if (!(fi >= 0 && fi <= max_i && fj >= 0 && fj <= max_j)) continue;
      const auto ni = static_cast<std::size_t>(std::round(fi));
      const auto nj = static_cast<std::size_t>(std::round(fj));
      if (std::isnan(value_at(ni, nj))) continue;

      const auto i0 = static_cast<std::size_t>(std::floor(fi));
      const auto j0 = static_cast<std::size_t>(std::floor(fj));
      const std::size_t i1 = std::min(i0 + 1, nx - 1);
      const std::size_t j1 = std::min(j0 + 1, ny - 1);
      const double a = fi - static_cast<double>(i0);
      const double b = fj - static_cast<double>(j0);
      const double weights[4] = {(1 - a) * (1 - b), a * (1 - b), (1 - a) * b, a * b};
      const double corner_values[4] = {value_at(i0, j0), value_at(i1, j0), value_at(i0, j1),
                                       value_at(i1, j1)};
      double weighted = 0;
      double total = 0;
      for (int n = 0; n < 4; ++n) {
        if (weights[n] > 0 && std::isfinite(corner_values[n])) {
          weighted += weights[n] * corner_values[n];
          total += weights[n];
        }
      }
      out(i, j) = total == 0 ? nan : weighted / total;
    }
  }
  return out;
}

}  // namespace zorvastatic
