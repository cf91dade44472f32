#pragma once
// The depth and volume rules for one cell of a row, written for loops that run several cells per
// instruction. The pillar lines are those of PillarTops::Row. Each comes out exactly as the
// per-cell rules give it, bit for bit.

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "zorvatools/foundation/prefetch.hpp"

namespace zorvastatic {

// Row loops take their cells in chunks of zorvatools::kPrefetchChunk, asking first for the
// corner depths of the chunk's cells a row ahead.
template <class Depth>
inline void prefetch_corner_depths(const Depth* zcorn, std::size_t begin, std::size_t end) {
  zorvatools::prefetch_ahead(zcorn + 8 * begin, 8 * (end - begin),
                             8 * zorvatools::kPrefetchCellsAhead);
}

// The eight corner depths of cell i of a row, widened to double.
template <class Depth>
inline void load_corner_depths(const Depth* zcorn, std::size_t i, double* z) {
  for (std::size_t n = 0; n < 8; ++n) z[n] = static_cast<double>(zcorn[8 * i + n]);
}

// The mean of the eight corner depths: their sum in corner order, times 0.125.
inline double mean_corner_depth(const double* z) {
  return (z[0] + z[1] + z[2] + z[3] + z[4] + z[5] + z[6] + z[7]) * 0.125;
}

// value / 6 as the division rounds it, for a finite value that is zero or at least 2^-960 in
// magnitude, without the division unit, which takes many cycles per vector. q = value * RN(1/6)
// lies within one unit in the last place of the quotient, so the remainder value - 6q is exact
// (one fused multiply-add) and q + remainder * RN(1/6) rounds to the quotient (Markstein's
// theorem). Near the subnormal range the remainder may not be exact, and an infinity gives NaN.
// On processors without fused multiply-adds (the kernels' baseline version) the library's fma
// gives the same result, only slower.
inline double sixth(double value) {
  constexpr double kSixth = 1.0 / 6.0;
  const double q = value * kSixth;
  const double remainder = std::fma(-q, 6.0, value);
  return std::fma(remainder, kSixth, q);
}

// The general volume rule with what vertical pillars make zero left out. Corners n and n + 4
// share a pillar, so relative to corner 7 corner 3 has no x or y offset, and corners 4, 5, 6 have
// those of 0, 1, 2. Every term the general rule multiplies by such a zero, or which is the
// difference of two equal products, is an exact zero as long as the depth differences are
// finite, and adding or subtracting it changes at most the sign of a zero, which the absolute
// value removes; every other operation is the general rule's own, in its order, and the final
// division is `sixth`. So a result for which shortcut_holds is the general rule's bit for bit.
// Every depth difference enters the result, and nothing brings an infinity or NaN back to a
// finite number, so a difference that is not finite shows as a result that is not: callers go
// back to the general rule for any result that does not hold. A collapsed cell is 0, as there.
inline double shortcut_cell_volume(const double* x0, const double* y0, const double* x1,
                                   const double* y1, std::size_t i, const double* z) {
  // x and y offsets from corner 7 of the pillars of corners 0 and 4, 1 and 5, 2 and 6.
  const double p0x = x0[i] - x1[i + 1], p0y = y0[i] - y1[i + 1];
  const double p1x = x0[i + 1] - x1[i + 1], p1y = y0[i + 1] - y1[i + 1];
  const double p2x = x1[i] - x1[i + 1], p2y = y1[i] - y1[i + 1];
  double dz[7];
  for (std::size_t n = 0; n < 7; ++n) dz[n] = z[n] - z[7];
  // The tetrahedra of the ring 1, 3, 2, 6, 4, 5 against the diagonal (p0x, p0y, dz[0]).
  const double t13 = p0x * (p1y * dz[3]) - p0y * (p1x * dz[3]);
  const double t32 = p0y * (dz[3] * p2x) - p0x * (dz[3] * p2y);
  const double t26 = p0x * (p2y * dz[6] - dz[2] * p2y) + p0y * (dz[2] * p2x - p2x * dz[6]);
  const double t64 = (p0x * (p2y * dz[4] - dz[6] * p0y) + p0y * (dz[6] * p0x - p2x * dz[4])) +
                     dz[0] * (p2x * p0y - p2y * p0x);
  const double t45 = (p0x * (p0y * dz[5] - dz[4] * p1y) + p0y * (dz[4] * p1x - p0x * dz[5])) +
                     dz[0] * (p0x * p1y - p0y * p1x);
  const double t51 = p0x * (p1y * dz[1] - dz[5] * p1y) + p0y * (dz[5] * p1x - p1x * dz[1]);
  const double sum = ((((t13 + t32) + t26) + t64) + t45) + t51;
  // +0 for a collapsed cell, chosen with bits rather than a branch so that the row loops stay
  // vectorised.
  const std::uint64_t keep = std::uint64_t{0} - static_cast<std::uint64_t>(!collapsed_cell(z));
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(std::fabs(sixth(sum))) & keep);
}

// Whether a volume from shortcut_cell_volume is the general rule's: it is finite, and zero or
// clear of the range where sixth may differ from the division.
inline bool shortcut_holds(double volume) {
  constexpr double kSmallest = 0x1p-960;
  return (volume <= std::numeric_limits<double>::max()) & ((volume >= kSmallest) | (volume == 0));
}

}  // namespace zorvastatic
