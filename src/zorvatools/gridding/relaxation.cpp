#include "zorvatools/gridding/relaxation.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/try.hpp"
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

// The sweeps run over a copy laid out j-major (node (i, j) at j * nx + i), so that the inner loop
// over i walks memory in order. Same updates in the same order as on the grid itself.
class RowMajorSweep {
  static constexpr std::size_t kRowsTogether = 8;
  static constexpr std::size_t kRowLag = 3;  // columns each row trails the one below

 public:
  RowMajorSweep(const Array2D<double>& grid, std::span<const std::int32_t> fixed)
      : nx_(grid.nx()), ny_(grid.ny()), z_(nx_ * ny_), fixed_(nx_ * ny_) {
    const std::vector<double>& g = grid.data();
    for (std::size_t i = 0; i < nx_; ++i) {
      for (std::size_t j = 0; j < ny_; ++j) {
        z_[j * nx_ + i] = g[i * ny_ + j];
        fixed_[j * nx_ + i] = fixed[i * ny_ + j] >= 0;
      }
    }
  }

  void copy_to(Array2D<double>& grid) const {
    std::vector<double>& g = grid.data();
    for (std::size_t i = 0; i < nx_; ++i) {
      for (std::size_t j = 0; j < ny_; ++j) g[i * ny_ + j] = z_[j * nx_ + i];
    }
  }

  // One sweep, j outer and i inner; the largest |change| (NaN changes ignored).
  //
  // A node reads the new values of the rows below it only up to one column ahead, and the old
  // values of the rows above from one column behind. So rows can advance together, each three
  // columns behind the one below: every node still reads exactly the values the row-by-row order
  // gives it, while the rows' chains of dependent arithmetic overlap.
  double sweep() {
    double largest = 0;
    for (std::size_t j0 = 0; j0 < ny_; j0 += kRowsTogether) {
      const std::size_t rows = std::min(kRowsTogether, ny_ - j0);
      const std::size_t steps = nx_ + kRowLag * (rows - 1);
      // Steps at which every row of the group sits on an inner node: no edge, no bounds.
      const bool inner_rows = j0 >= 2 && j0 + rows + 2 <= ny_;
      const std::size_t inner_first = kRowLag * (rows - 1) + 2;
      const std::size_t inner_end = nx_ >= 2 ? nx_ - 2 : 0;
      for (std::size_t step = 0; step < steps; ++step) {
        if (inner_rows && step >= inner_first && step < inner_end) {
          for (std::size_t r = 0; r < rows; ++r) {
            const std::size_t at = (j0 + r) * nx_ + step - kRowLag * r;
            if (fixed_[at]) continue;
            const double change = update_inner(at);
            if (change > largest) largest = change;
          }
          continue;
        }
        for (std::size_t r = 0; r < rows; ++r) {
          if (step < kRowLag * r || step - kRowLag * r >= nx_) continue;
          const std::size_t i = step - kRowLag * r;
          const std::size_t j = j0 + r;
          const std::size_t at = j * nx_ + i;
          if (fixed_[at]) continue;
          const bool inner = j >= 2 && j + 2 < ny_ && i >= 2 && i + 2 < nx_;
          const double change = inner ? update_inner(at) : update_edge(i, j);
          if (change > largest) largest = change;
        }
      }
    }
    return largest;
  }

 private:
  // Neighbour sums in stencil tap order: axis (0,+1), (0,-1), (+1,0), (-1,0); diagonal (+1,+1),
  // (-1,+1), (+1,-1), (-1,-1); distance 2 (0,+2), (0,-2), (+2,0), (-2,0).
  double update_inner(std::size_t at) {
    const double* g = z_.data();
    const std::size_t r = nx_;  // step along j
    const double n = g[at + r] + g[at - r] + g[at + 1] + g[at - 1];
    const double d = g[at + 1 + r] + g[at - 1 + r] + g[at + 1 - r] + g[at - 1 - r];
    const double f = g[at + 2 * r] + g[at - 2 * r] + g[at + 2] + g[at - 2];
    return store(at, relaxed(g[at], n, d, f));
  }

  double update_edge(std::size_t i, std::size_t j) {
    const auto si = static_cast<std::int64_t>(i);
    const auto sj = static_cast<std::int64_t>(j);
    auto zz = [&](std::int64_t di, std::int64_t dj) { return extended(si + di, sj + dj); };
    const double n = zz(0, 1) + zz(0, -1) + zz(1, 0) + zz(-1, 0);
    const double d = zz(1, 1) + zz(-1, 1) + zz(1, -1) + zz(-1, -1);
    const double f = zz(0, 2) + zz(0, -2) + zz(2, 0) + zz(-2, 0);
    const std::size_t at = j * nx_ + i;
    return store(at, relaxed(z_[at], n, d, f));
  }

  double store(std::size_t at, double updated) {
    const double change = std::fabs(updated - z_[at]);
    z_[at] = updated;
    return change;
  }

  // z_at on this layout: linear extrapolation beyond the edges, i first, then j.
  double extended(std::int64_t i, std::int64_t j) const {
    const auto sx = static_cast<std::int64_t>(nx_);
    const auto sy = static_cast<std::int64_t>(ny_);
    if (i < 0 || i >= sx) {
      const std::int64_t step = i < 0 ? 1 : -1;
      return 2 * extended(i + step, j) - extended(i + 2 * step, j);
    }
    if (j < 0 || j >= sy) {
      const std::int64_t step = j < 0 ? 1 : -1;
      return 2 * extended(i, j + step) - extended(i, j + 2 * step);
    }
    return z_[static_cast<std::size_t>(j) * nx_ + static_cast<std::size_t>(i)];
  }

  std::size_t nx_;
  std::size_t ny_;
  std::vector<double> z_;
  std::vector<std::uint8_t> fixed_;
};

}  // namespace

AlgoResult<RelaxationOutcome> relax_min_curvature(Array2D<double>& grid,
                                                  std::span<const std::int32_t> fixed) {
  require(grid.nx() >= 2 && grid.ny() >= 2, "relaxation needs a lattice of at least 2x2");
  require(fixed.size() == grid.nx() * grid.ny(), "relaxation: fixed-node map size mismatch");
  RowMajorSweep sweeps(grid, fixed);
  RelaxationOutcome outcome;
  while (outcome.sweeps < kMaxRelaxationSweeps) {
    ZV_TRY(poll_call());
    const double largest = sweeps.sweep();
    ++outcome.sweeps;
    outcome.last_change = largest;
    if (largest < kRelaxationTolerance) break;
  }
  sweeps.copy_to(grid);
  return outcome;
}

}  // namespace zorvatools
