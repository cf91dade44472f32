#include "zorvastatic/grid/row_volumes.hpp"

#include <cmath>

namespace zorvastatic {
namespace {

// One loop over the row with no branches, vectorised by the compiler. `x0`, `y0` run along the
// row's lower pillar line and `x1`, `y1` along the upper one.
template <class Depth>
inline void row_kernel(std::size_t ni, const double* __restrict x0, const double* __restrict y0,
                       const double* __restrict x1, const double* __restrict y1,
                       const Depth* __restrict zcorn, double* __restrict mean_depths,
                       double* __restrict volumes) {
  for (std::size_t i = 0; i < ni; ++i) {
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
    mean_depths[i] = (z[0] + z[1] + z[2] + z[3] + z[4] + z[5] + z[6] + z[7]) * 0.125;
    volumes[i] = std::fabs(hexahedron_volume(x, y, z));
  }
}

// The build carries versions for wider vector units, picked when the processor has them.
__attribute__((target_clones("avx512f", "avx2", "default"))) void row_kernel_f64(
    std::size_t ni, const double* x0, const double* y0, const double* x1, const double* y1,
    const double* zcorn, double* mean_depths, double* volumes) {
  row_kernel(ni, x0, y0, x1, y1, zcorn, mean_depths, volumes);
}

__attribute__((target_clones("avx512f", "avx2", "default"))) void row_kernel_f32(
    std::size_t ni, const double* x0, const double* y0, const double* x1, const double* y1,
    const float* zcorn, double* mean_depths, double* volumes) {
  row_kernel(ni, x0, y0, x1, y1, zcorn, mean_depths, volumes);
}

}  // namespace

PillarTops::PillarTops(std::span<const Pillar> pillars) : x(pillars.size()), y(pillars.size()) {
  for (std::size_t p = 0; p < pillars.size(); ++p) {
    x[p] = pillars[p].top.x;
    y[p] = pillars[p].top.y;
  }
}

void RowVolumes::compute(const PillarTops& tops, std::size_t j, const double* zcorn) {
  const std::size_t lower = j * (ni_ + 1);
  const std::size_t upper = lower + ni_ + 1;
  row_kernel_f64(ni_, tops.x.data() + lower, tops.y.data() + lower, tops.x.data() + upper,
                 tops.y.data() + upper, zcorn, mean_depths_.data(), volumes_.data());
}

void RowVolumes::compute(const PillarTops& tops, std::size_t j, const float* zcorn) {
  const std::size_t lower = j * (ni_ + 1);
  const std::size_t upper = lower + ni_ + 1;
  row_kernel_f32(ni_, tops.x.data() + lower, tops.y.data() + lower, tops.x.data() + upper,
                 tops.y.data() + upper, zcorn, mean_depths_.data(), volumes_.data());
}

}  // namespace zorvastatic
