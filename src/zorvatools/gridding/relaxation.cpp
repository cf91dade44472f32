#include "zorvatools/gridding/relaxation.hpp"

#include <cmath>
#include <limits>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/gridding/min_curvature.hpp"

namespace zorvatools {

double z_at(const Array2D<double>& grid, std::size_t nx, std::size_t ny, std::int64_t i,
            std::int64_t j) {
  require(grid.same_shape(nx, ny), "z_at: grid shape mismatch");
  const auto sx = static_cast<std::int64_t>(nx);
  const auto sy = static_cast<std::int64_t>(ny);
  if (i < 0 || i >= sx) {
    require(nx >= 2, "z_at: extrapolation along i needs two nodes");
    const std::int64_t step = i < 0 ? 1 : -1;
    return 2 * z_at(grid, nx, ny, i + step, j) - z_at(grid, nx, ny, i + 2 * step, j);
  }
  if (j < 0 || j >= sy) {
    require(ny >= 2, "z_at: extrapolation along j needs two nodes");
    const std::int64_t step = j < 0 ? 1 : -1;
    return 2 * z_at(grid, nx, ny, i, j + step) - z_at(grid, nx, ny, i, j + 2 * step);
  }
  return grid(static_cast<std::size_t>(i), static_cast<std::size_t>(j));
}

Array2D<double> inverse_distance_surface(std::span<const Sample> samples, const Lattice& lattice) {
  const std::size_t nx = lattice.nx;
  const std::size_t ny = lattice.ny;
  Array2D<double> out(nx, ny, std::numeric_limits<double>::quiet_NaN());
  for (std::size_t i = 0; i < nx; ++i) {
    for (std::size_t j = 0; j < ny; ++j) {
      const Point2 at = lattice.node_xy(static_cast<double>(i), static_cast<double>(j));
      double weight_sum = 0;
      double weighted_z = 0;
      bool exact = false;
      for (const Sample& s : samples) {
        // A sample without a finite position has no distance to any node.
        if (!std::isfinite(s.x) || !std::isfinite(s.y)) continue;
        const double dx = s.x - at.x;
        const double dy = s.y - at.y;
        const double d2 = dx * dx + dy * dy;
        if (d2 == 0) {
          out(i, j) = s.z;
          exact = true;
          break;
        }
        const double w = 1.0 / d2;
        weight_sum += w;
        weighted_z += w * s.z;
      }
      if (!exact && weight_sum > 0) out(i, j) = weighted_z / weight_sum;
    }
  }
  return out;
}

namespace {

// New depth of a free node from its axis (n), diagonal (d) and distance-2 (f) neighbour sums.
double relaxed(double z, double n, double d, double f) {
  const double target = (0.25 * n + 0.75 * (8 * n - 2 * d - f)) * 0.0625;
  return z + kOverRelaxation * (target - z);
}

}  // namespace

RelaxationOutcome relax_min_curvature(Array2D<double>& grid, std::span<const std::int32_t> fixed) {
  const std::size_t nx = grid.nx();
  const std::size_t ny = grid.ny();
  require(nx >= 2 && ny >= 2, "relaxation needs a lattice of at least 2x2");
  require(fixed.size() == nx * ny, "relaxation: fixed-node map size mismatch");
  double* g = grid.data().data();
  // Neighbour sums in stencil tap order: axis (0,+1), (0,-1), (+1,0), (-1,0); diagonal (+1,+1),
  // (-1,+1), (+1,-1), (-1,-1); distance 2 (0,+2), (0,-2), (+2,0), (-2,0).
  auto sweep_node = [&](std::size_t i, std::size_t j) {
    const std::size_t at = i * ny + j;
    const double z = g[at];
    double n, d, f;
    if (i >= 2 && i + 2 < nx && j >= 2 && j + 2 < ny) {
      const std::size_t r = ny;  // step along i
      n = g[at + 1] + g[at - 1] + g[at + r] + g[at - r];
      d = g[at + r + 1] + g[at - r + 1] + g[at + r - 1] + g[at - r - 1];
      f = g[at + 2] + g[at - 2] + g[at + 2 * r] + g[at - 2 * r];
    } else {
      const auto si = static_cast<std::int64_t>(i);
      const auto sj = static_cast<std::int64_t>(j);
      auto zz = [&](std::int64_t di, std::int64_t dj) {
        return z_at(grid, nx, ny, si + di, sj + dj);
      };
      n = zz(0, 1) + zz(0, -1) + zz(1, 0) + zz(-1, 0);
      d = zz(1, 1) + zz(-1, 1) + zz(1, -1) + zz(-1, -1);
      f = zz(0, 2) + zz(0, -2) + zz(2, 0) + zz(-2, 0);
    }
    const double updated = relaxed(z, n, d, f);
    g[at] = updated;
    return std::fabs(updated - z);
  };

  RelaxationOutcome outcome;
  while (outcome.sweeps < kMaxRelaxationSweeps) {
    double largest = 0;
    for (std::size_t j = 0; j < ny; ++j) {
      for (std::size_t i = 0; i < nx; ++i) {
        if (fixed[i * ny + j] >= 0) continue;
        const double change = sweep_node(i, j);
        if (change > largest) largest = change;  // NaN changes are ignored
      }
    }
    ++outcome.sweeps;
    outcome.last_change = largest;
    if (largest < kRelaxationTolerance) break;
  }
  return outcome;
}

}  // namespace zorvatools
