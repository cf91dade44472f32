#include "zorvastatic/grid/row_volumes.hpp"
#include "zorvatools/foundation/prefetch.hpp"
#include "zorvatools/foundation/vector_clones.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zorvastatic {
namespace {

// Pillar coordinates within this bound keep every product of two x or y offsets finite, which
// the vertical-pillar shortcut relies on.
constexpr double kModerate = 1e100;

// The loops below have no branches and are vectorised by the compiler; bitwise rather than
// short-circuit logic keeps them that way. `x0`, `y0` run along the row's lower pillar line and
// `x1`, `y1` along the upper one.

using zorvatools::kPrefetchCellsAhead;
using zorvatools::kPrefetchChunk;

// The kernels take a row in chunks, asking for the corner depths of the same cells a row ahead
// before each chunk.
template <class Depth>
inline void prefetch_corners(const Depth* zcorn, std::size_t begin, std::size_t end) {
  zorvatools::prefetch_ahead(zcorn + 8 * begin, 8 * (end - begin), 8 * kPrefetchCellsAhead);
}

template <class Depth>
inline double mean_depth(const Depth* z) {
  return (static_cast<double>(z[0]) + static_cast<double>(z[1]) + static_cast<double>(z[2]) +
          static_cast<double>(z[3]) + static_cast<double>(z[4]) + static_cast<double>(z[5]) +
          static_cast<double>(z[6]) + static_cast<double>(z[7])) *
         0.125;
}

template <class Depth>
inline void depth_kernel(std::size_t ni, const Depth* __restrict zcorn,
                         double* __restrict mean_depths) {
  for (std::size_t begin = 0; begin < ni; begin += kPrefetchChunk) {
    const std::size_t end = std::min(ni, begin + kPrefetchChunk);
    prefetch_corners(zcorn, begin, end);
    for (std::size_t i = begin; i < end; ++i) mean_depths[i] = mean_depth(zcorn + 8 * i);
  }
}

// The volume rule as it stands.
template <class Depth>
inline void general_kernel(std::size_t ni, const double* __restrict x0, const double* __restrict y0,
                           const double* __restrict x1, const double* __restrict y1,
                           const Depth* __restrict zcorn, double* __restrict mean_depths,
                           double* __restrict volumes) {
  for (std::size_t begin = 0; begin < ni; begin += kPrefetchChunk) {
    const std::size_t end = std::min(ni, begin + kPrefetchChunk);
    prefetch_corners(zcorn, begin, end);
    for (std::size_t i = begin; i < end; ++i) {
      double x[8], y[8], z[8];
      x[0] = x[4] = x0[i];
      x[1] = x[5] = x0[i + 1];
      x[2] = x[6] = x1[i];
      x[3] = x[7] = x1[i + 1];
      y[0] = y[4] = y0[i];
      y[1] = y[5] = y0[i + 1];
      y[2] = y[6] = y1[i];
      y[3] = y[7] = y1[i + 1];
      for (std::size_t n = 0; n < 8; ++n) z[n] = static_cast<double>(zcorn[8 * i + n]);
      mean_depths[i] = mean_depth(z);
      volumes[i] = std::fabs(hexahedron_volume(x, y, z));
    }
  }
}

// The same rule with what vertical pillars make zero left out. Corners n and n + 4 share a
// pillar, so relative to corner 7 corner 3 has no x or y offset, and corners 4, 5, 6 have those
// of 0, 1, 2. Every term the general rule multiplies by such a zero, or which is the difference
// of two equal products, is an exact zero as long as the depth differences are finite, and
// adding or subtracting it changes at most the sign of a zero, which the absolute value
// removes; every other operation is the general rule's own, in its order. So a finite result is
// the general rule's bit for bit. Every depth difference enters the result, and nothing brings
// an infinity or NaN back to a finite number, so a difference that is not finite shows as a
// result that is not: the function returns false when any result is not finite.
template <class Depth>
inline bool shortcut_kernel(std::size_t ni, const double* __restrict x0,
                            const double* __restrict y0, const double* __restrict x1,
                            const double* __restrict y1, const Depth* __restrict zcorn,
                            double* __restrict mean_depths, double* __restrict volumes) {
  unsigned finite = 1;
  for (std::size_t begin = 0; begin < ni; begin += kPrefetchChunk) {
    const std::size_t end = std::min(ni, begin + kPrefetchChunk);
    prefetch_corners(zcorn, begin, end);
    for (std::size_t i = begin; i < end; ++i) {
      // x and y offsets from corner 7 of the pillars of corners 0 and 4, 1 and 5, 2 and 6.
      const double p0x = x0[i] - x1[i + 1], p0y = y0[i] - y1[i + 1];
      const double p1x = x0[i + 1] - x1[i + 1], p1y = y0[i + 1] - y1[i + 1];
      const double p2x = x1[i] - x1[i + 1], p2y = y1[i] - y1[i + 1];
      double z[8];
      for (std::size_t n = 0; n < 8; ++n) z[n] = static_cast<double>(zcorn[8 * i + n]);
      mean_depths[i] = mean_depth(z);
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
      const double volume = std::fabs(sum / 6.0);
      volumes[i] = volume;
      finite &= static_cast<unsigned>(volume <= std::numeric_limits<double>::max());
    }
  }
  return finite != 0;
}

ZV_VECTOR_CLONES void depth_kernel_f64(std::size_t ni, const double* zcorn, double* depths) {
  depth_kernel(ni, zcorn, depths);
}
ZV_VECTOR_CLONES void depth_kernel_f32(std::size_t ni, const float* zcorn, double* depths) {
  depth_kernel(ni, zcorn, depths);
}
ZV_VECTOR_CLONES void general_kernel_f64(std::size_t ni, const double* x0, const double* y0,
                                         const double* x1, const double* y1, const double* zcorn,
                                         double* depths, double* volumes) {
  general_kernel(ni, x0, y0, x1, y1, zcorn, depths, volumes);
}
ZV_VECTOR_CLONES void general_kernel_f32(std::size_t ni, const double* x0, const double* y0,
                                         const double* x1, const double* y1, const float* zcorn,
                                         double* depths, double* volumes) {
  general_kernel(ni, x0, y0, x1, y1, zcorn, depths, volumes);
}
ZV_VECTOR_CLONES bool shortcut_kernel_f64(std::size_t ni, const double* x0, const double* y0,
                                          const double* x1, const double* y1, const double* zcorn,
                                          double* depths, double* volumes) {
  return shortcut_kernel(ni, x0, y0, x1, y1, zcorn, depths, volumes);
}
ZV_VECTOR_CLONES bool shortcut_kernel_f32(std::size_t ni, const double* x0, const double* y0,
                                          const double* x1, const double* y1, const float* zcorn,
                                          double* depths, double* volumes) {
  return shortcut_kernel(ni, x0, y0, x1, y1, zcorn, depths, volumes);
}

// Row j through the shortcut when it is sure to hold, else through the general rule.
template <class Depth, class Shortcut, class General>
void compute_row(const PillarTops& tops, std::size_t j, std::size_t ni, const Depth* zcorn,
                 double* depths, double* volumes, Shortcut shortcut, General general) {
  const double* x0 = tops.x.data() + j * (ni + 1);
  const double* y0 = tops.y.data() + j * (ni + 1);
  const double* x1 = x0 + ni + 1;
  const double* y1 = y0 + ni + 1;
  if (tops.moderate && shortcut(ni, x0, y0, x1, y1, zcorn, depths, volumes)) return;
  general(ni, x0, y0, x1, y1, zcorn, depths, volumes);
}

}  // namespace

PillarTops::PillarTops(std::span<const Pillar> pillars) : x(pillars.size()), y(pillars.size()) {
  moderate = true;
  for (std::size_t p = 0; p < pillars.size(); ++p) {
    x[p] = pillars[p].top.x;
    y[p] = pillars[p].top.y;
    moderate = moderate && std::fabs(x[p]) <= kModerate && std::fabs(y[p]) <= kModerate;
  }
}

void RowVolumes::compute_depths(const double* zcorn) {
  depth_kernel_f64(size(), zcorn, mean_depths_.data());
}

void RowVolumes::compute_depths(const float* zcorn) {
  depth_kernel_f32(size(), zcorn, mean_depths_.data());
}

void RowVolumes::compute(const PillarTops& tops, std::size_t j, const double* zcorn) {
  compute_row(tops, j, size(), zcorn, mean_depths_.data(), volumes_.data(), shortcut_kernel_f64,
              general_kernel_f64);
}

void RowVolumes::compute(const PillarTops& tops, std::size_t j, const float* zcorn) {
  compute_row(tops, j, size(), zcorn, mean_depths_.data(), volumes_.data(), shortcut_kernel_f32,
              general_kernel_f32);
}

}  // namespace zorvastatic
