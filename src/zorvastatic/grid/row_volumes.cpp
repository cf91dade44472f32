#include "zorvastatic/grid/row_volumes.hpp"

#include "zorvastatic/grid/row_cell_rules.hpp"
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
// short-circuit logic keeps them that way. Each writes out its loop over a row's chunks: handed
// to a helper as a lambda, some of them are no longer vectorised.

using zorvatools::kPrefetchChunk;

template <class Depth>
inline void depth_kernel(std::size_t ni, const Depth* __restrict zcorn,
                         double* __restrict mean_depths) {
  for (std::size_t begin = 0; begin < ni; begin += kPrefetchChunk) {
    const std::size_t end = std::min(ni, begin + kPrefetchChunk);
    prefetch_corner_depths(zcorn, begin, end);
    for (std::size_t i = begin; i < end; ++i) {
      double z[8];
      load_corner_depths(zcorn, i, z);
      mean_depths[i] = mean_corner_depth(z);
    }
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
    prefetch_corner_depths(zcorn, begin, end);
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
      load_corner_depths(zcorn, i, z);
      mean_depths[i] = mean_corner_depth(z);
      volumes[i] = std::fabs(hexahedron_volume(x, y, z));
    }
  }
}

// The general rule's shortcut on vertical pillars; false when a result may not be the general
// rule's.
template <class Depth>
inline bool shortcut_kernel(std::size_t ni, const double* __restrict x0,
                            const double* __restrict y0, const double* __restrict x1,
                            const double* __restrict y1, const Depth* __restrict zcorn,
                            double* __restrict mean_depths, double* __restrict volumes) {
  unsigned holds = 1;
  for (std::size_t begin = 0; begin < ni; begin += kPrefetchChunk) {
    const std::size_t end = std::min(ni, begin + kPrefetchChunk);
    prefetch_corner_depths(zcorn, begin, end);
    for (std::size_t i = begin; i < end; ++i) {
      double z[8];
      load_corner_depths(zcorn, i, z);
      mean_depths[i] = mean_corner_depth(z);
      const double volume = shortcut_cell_volume(x0, y0, x1, y1, i, z);
      volumes[i] = volume;
      holds &= static_cast<unsigned>(shortcut_holds(volume));
    }
  }
  return holds != 0;
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

// Row j through the shortcut when it is sure to hold (and worth trying), else through the
// general rule.
template <class Depth, class Shortcut, class General>
void compute_row(const PillarTops& tops, std::size_t j, std::size_t ni, const Depth* zcorn,
                 double* depths, double* volumes, bool try_shortcut, Shortcut shortcut,
                 General general) {
  const PillarTops::Row row = tops.row(j, ni);
  if (try_shortcut && tops.moderate &&
      shortcut(ni, row.x0, row.y0, row.x1, row.y1, zcorn, depths, volumes)) {
    return;
  }
  general(ni, row.x0, row.y0, row.x1, row.y1, zcorn, depths, volumes);
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
  compute_row(tops, j, size(), zcorn, mean_depths_.data(), volumes_.data(), true,
              shortcut_kernel_f64, general_kernel_f64);
}

void RowVolumes::compute(const PillarTops& tops, std::size_t j, const float* zcorn) {
  compute_row(tops, j, size(), zcorn, mean_depths_.data(), volumes_.data(), true,
              shortcut_kernel_f32, general_kernel_f32);
}

void RowVolumes::compute_by_general_rule(const PillarTops& tops, std::size_t j,
                                         const double* zcorn) {
  compute_row(tops, j, size(), zcorn, mean_depths_.data(), volumes_.data(), false,
              shortcut_kernel_f64, general_kernel_f64);
}

void RowVolumes::compute_by_general_rule(const PillarTops& tops, std::size_t j,
                                         const float* zcorn) {
  compute_row(tops, j, size(), zcorn, mean_depths_.data(), volumes_.data(), false,
              shortcut_kernel_f32, general_kernel_f32);
}

}  // namespace zorvastatic
