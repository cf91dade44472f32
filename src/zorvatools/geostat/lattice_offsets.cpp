#include "zorvatools/geostat/lattice_offsets.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace zorvatools {

namespace {

constexpr double kUnitRoundoff = 0x1p-53;
// Coordinates beyond this keep every squared distance, and the bounds on it, finite.
constexpr double kLargestCoordinate = 1e150;

// node_xy(i, j) is origin + i step_i + j step_j, taken in a few roundings, none of them larger
// than `reach` (the largest magnitude that sum reaches over the lattice) times the unit roundoff.
struct LatticeRounding {
  Point2 step_i;
  Point2 step_j;
  double reach_x = 0;
  double reach_y = 0;
};

LatticeRounding rounding_of(const Lattice& lattice) {
  Lattice centred = lattice;
  centred.origin_x = 0;
  centred.origin_y = 0;
  LatticeRounding r;
  r.step_i = centred.node_xy(1, 0);
  r.step_j = centred.node_xy(0, 1);
  const double last_i = lattice.nx > 0 ? static_cast<double>(lattice.nx - 1) : 0.0;
  const double last_j = lattice.ny > 0 ? static_cast<double>(lattice.ny - 1) : 0.0;
  r.reach_x =
      std::fabs(lattice.origin_x) + std::fabs(r.step_i.x) * last_i + std::fabs(r.step_j.x) * last_j;
  r.reach_y =
      std::fabs(lattice.origin_y) + std::fabs(r.step_i.y) * last_i + std::fabs(r.step_j.y) * last_j;
  return r;
}

}  // namespace

bool node_positions_finite(const Lattice& lattice) {
  for (double v : {lattice.origin_x, lattice.origin_y, lattice.spacing_x, lattice.spacing_y,
                   lattice.rotation_deg}) {
    if (!std::isfinite(v)) return false;
  }
  const LatticeRounding r = rounding_of(lattice);
  return r.reach_x <= kLargestCoordinate && r.reach_y <= kLargestCoordinate;
}

Array2D<double> least_distances2(const Lattice& lattice) {
  const LatticeRounding r = rounding_of(lattice);
  // Each coordinate of a computed position strays less than 3 roundings of its reach from the
  // exact one; twice that again is kept in hand.
  const double stray = 8 * kUnitRoundoff * (r.reach_x + r.reach_y);
  Array2D<double> least(lattice.nx, lattice.ny);
  for (std::size_t di = 0; di < lattice.nx; ++di) {
    const auto fi = static_cast<double>(di);
    for (std::size_t dj = 0; dj < lattice.ny; ++dj) {
      const auto fj = static_cast<double>(dj);
      // The exact offset between the nodes, and the magnitudes its terms reach.
      const double dx = r.step_i.x * fi + r.step_j.x * fj;
      const double dy = r.step_i.y * fi + r.step_j.y * fj;
      const double reach_dx = std::fabs(r.step_i.x) * fi + std::fabs(r.step_j.x) * fj;
      const double reach_dy = std::fabs(r.step_i.y) * fi + std::fabs(r.step_j.y) * fj;
      const double reach2 = reach_dx * reach_dx + reach_dy * reach_dy;
      // A computed squared distance differs from the exact one by the strays of both positions
      // in each difference (about 4 sqrt(reach2) stray), the roundings of the differences,
      // squares and sum (a few units of reach2), and the rounding of dx, dy and of this very
      // sum here (as many again); the margin holds at least twice all of that.
      const double margin =
          32 * kUnitRoundoff * reach2 + 8 * std::sqrt(reach2) * stray + 32 * stray * stray;
      least(di, dj) = (dx * dx + dy * dy) - margin;
    }
  }
  return least;
}

Array2D<double> block_least_distances2(const Array2D<double>& least, std::size_t block) {
  const std::size_t nx = least.nx();
  const std::size_t ny = least.ny();
  const std::size_t blocks_x = (nx + block - 1) / block;
  const std::size_t blocks_y = (ny + block - 1) / block;
  // Two nodes in blocks db apart lie block * db - (block - 1) to block * db + (block - 1) nodes
  // apart (never fewer than 0 nor more than the lattice holds).
  auto first = [&](std::size_t db) { return db == 0 ? 0 : block * db - (block - 1); };
  auto last = [&](std::size_t db, std::size_t n) {
    return std::min(block * db + block - 1, n - 1);
  };
  // The least over each block's span of dj, then over each span of di.
  Array2D<double> over_j(nx, blocks_y);
  for (std::size_t di = 0; di < nx; ++di) {
    for (std::size_t bj = 0; bj < blocks_y; ++bj) {
      double m = least(di, first(bj));
      for (std::size_t dj = first(bj) + 1; dj <= last(bj, ny); ++dj) m = std::min(m, least(di, dj));
      over_j(di, bj) = m;
    }
  }
  Array2D<double> out(blocks_x, blocks_y);
  for (std::size_t bi = 0; bi < blocks_x; ++bi) {
    for (std::size_t bj = 0; bj < blocks_y; ++bj) {
      double m = over_j(first(bi), bj);
      for (std::size_t di = first(bi) + 1; di <= last(bi, nx); ++di)
        m = std::min(m, over_j(di, bj));
      out(bi, bj) = m;
    }
  }
  return out;
}

std::vector<LatticeOffset> offsets_within(const Array2D<double>& least, double max_distance2) {
  std::vector<LatticeOffset> offsets;
  for (std::size_t di = 0; di < least.nx(); ++di) {
    for (std::size_t dj = 0; dj < least.ny(); ++dj) {
      if (least(di, dj) <= max_distance2) {
        offsets.push_back(
            {least(di, dj), static_cast<std::uint32_t>(di), static_cast<std::uint32_t>(dj)});
      }
    }
  }
  std::ranges::sort(offsets, [](const LatticeOffset& a, const LatticeOffset& b) {
    return std::tuple{a.least_distance2, a.di, a.dj} < std::tuple{b.least_distance2, b.di, b.dj};
  });
  return offsets;
}

}  // namespace zorvatools
