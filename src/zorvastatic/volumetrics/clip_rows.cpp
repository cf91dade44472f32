#include "zorvastatic/volumetrics/clip_rows.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>

#include "zorvatools/foundation/prefetch.hpp"
#include "zorvatools/foundation/vector_clones.hpp"

namespace zorvastatic {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// Bitwise rather than short-circuit logic keeps the loops free of branches.
inline bool is_fraction(double value) {
  return (value >= 0) & (value <= 1);
}

// `value` where `keep` holds, else +0. Written with bits rather than a choice so that the
// compiler vectorises the ordered sums that take it (it keeps the order, lane by lane).
inline double kept(bool keep, double value) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) &
                               (std::uint64_t{0} - static_cast<std::uint64_t>(keep)));
}

// One loop with no branches, vectorised by the compiler; the rule's fields come in as values so
// that nothing in the loop may alias them.
template <class Value>
inline bool row_kernel(std::size_t n, double lower, double goc, bool fixed_gas_sw, double sw_gas,
                       const double* __restrict depths, const double* __restrict volumes,
                       const Value* __restrict poro, const Value* __restrict ntg,
                       const Value* __restrict sw, double* __restrict hcpv,
                       ClipSums* __restrict sums) {
  using zorvatools::kPrefetchCellsAhead;
  double gas_grv = sums->gas.grv_m3, gas_hcpv = sums->gas.hcpv_m3;
  double oil_grv = sums->oil.grv_m3, oil_hcpv = sums->oil.hcpv_m3;
  // Every count is 64 bits wide like the sums: the compiler vectorises the loop only then.
  std::size_t gas_cells = 0, oil_cells = 0, invalid = 0;
  for (std::size_t begin = 0; begin < n; begin += zorvatools::kPrefetchChunk) {
    const std::size_t end = std::min(n, begin + zorvatools::kPrefetchChunk);
    zorvatools::prefetch_ahead(poro + begin, end - begin, kPrefetchCellsAhead);
    zorvatools::prefetch_ahead(ntg + begin, end - begin, kPrefetchCellsAhead);
    zorvatools::prefetch_ahead(sw + begin, end - begin, kPrefetchCellsAhead);
    for (std::size_t i = begin; i < end; ++i) {
      const double depth = depths[i];
      const double volume = volumes[i];
      const double p = static_cast<double>(poro[i]);
      const double g = static_cast<double>(ntg[i]);
      const double s = static_cast<double>(sw[i]);
      const bool fixed = fixed_gas_sw & (depth < goc);
      const bool valid = is_fraction(p) & is_fraction(g) & (fixed | is_fraction(s));
      const bool counts = !(depth >= lower) & (volume > 0);
      const bool gas = depth < goc;  // goc is NaN without phases: every cell is oil
      invalid |= static_cast<std::size_t>(counts & !valid);
      const double v = kept(counts, volume);
      const double h = kept(counts, p * (volume * g) * (1 - (fixed ? sw_gas : s)));
      hcpv[i] = h;
      gas_grv += kept(gas, v);
      gas_hcpv += kept(gas, h);
      oil_grv += kept(!gas, v);
      oil_hcpv += kept(!gas, h);
      gas_cells += static_cast<std::size_t>(counts & gas);
      oil_cells += static_cast<std::size_t>(counts & !gas);
    }
  }
  if (invalid != 0) return false;
  sums->gas = {gas_grv, gas_hcpv, sums->gas.cells + gas_cells};
  sums->oil = {oil_grv, oil_hcpv, sums->oil.cells + oil_cells};
  return true;
}

// Whether every value is at or below `bound` (reads the corner depths as they lie: no need to
// gather them per corner).
template <class Depth>
inline bool below_kernel(std::size_t n, double bound, const Depth* __restrict zcorn) {
  unsigned below = 1;
  for (std::size_t i = 0; i < n; ++i) below &= static_cast<unsigned>(zcorn[i] >= bound);
  return below != 0;
}

ZV_VECTOR_CLONES bool row_kernel_f64(std::size_t n, double lower, double goc, bool fixed_gas_sw,
                                     double sw_gas, const double* depths, const double* volumes,
                                     const double* poro, const double* ntg, const double* sw,
                                     double* hcpv, ClipSums* sums) {
  return row_kernel(n, lower, goc, fixed_gas_sw, sw_gas, depths, volumes, poro, ntg, sw, hcpv,
                    sums);
}

ZV_VECTOR_CLONES bool row_kernel_f32(std::size_t n, double lower, double goc, bool fixed_gas_sw,
                                     double sw_gas, const double* depths, const double* volumes,
                                     const float* poro, const float* ntg, const float* sw,
                                     double* hcpv, ClipSums* sums) {
  return row_kernel(n, lower, goc, fixed_gas_sw, sw_gas, depths, volumes, poro, ntg, sw, hcpv,
                    sums);
}

ZV_VECTOR_CLONES bool below_kernel_f64(std::size_t n, double bound, const double* zcorn) {
  return below_kernel(n, bound, zcorn);
}

ZV_VECTOR_CLONES bool below_kernel_f32(std::size_t n, double bound, const float* zcorn) {
  return below_kernel(n, bound, zcorn);
}

}  // namespace

// The test stops at the first cells that are not below: a row that goes on to be computed reads
// no more of its depths here than it must.
template <class Depth, class Kernel>
bool wholly_below_in_runs(double bound, std::size_t n, const Depth* zcorn, Kernel kernel) {
  constexpr std::size_t kRun = 128;
  for (std::size_t begin = 0; begin < n; begin += kRun) {
    if (!kernel(std::min(kRun, n - begin), bound, zcorn + begin)) return false;
  }
  return true;
}

bool wholly_below(const ClipRule& rule, std::size_t n, const double* zcorn) {
  return wholly_below_in_runs(rule.safely_below, n, zcorn, below_kernel_f64);
}

bool wholly_below(const ClipRule& rule, std::size_t n, const float* zcorn) {
  return wholly_below_in_runs(rule.safely_below, n, zcorn, below_kernel_f32);
}

bool add_row(const ClipRule& rule, std::size_t n, const double* depths, const double* volumes,
             const double* poro, const double* ntg, const double* sw, double* hcpv,
             ClipSums& sums) {
  return row_kernel_f64(n, rule.lower, rule.phases ? rule.goc : kNan, rule.fixed_gas_sw,
                        rule.sw_gas, depths, volumes, poro, ntg, sw, hcpv, &sums);
}

bool add_row(const ClipRule& rule, std::size_t n, const double* depths, const double* volumes,
             const float* poro, const float* ntg, const float* sw, double* hcpv, ClipSums& sums) {
  return row_kernel_f32(n, rule.lower, rule.phases ? rule.goc : kNan, rule.fixed_gas_sw,
                        rule.sw_gas, depths, volumes, poro, ntg, sw, hcpv, &sums);
}

void add_gross_row(std::size_t n, const double* volumes, ClipSums& sums) {
  double grv = sums.oil.grv_m3;
  std::size_t cells = sums.oil.cells;
  for (std::size_t i = 0; i < n; ++i) {
    const bool counts = volumes[i] > 0;
    grv += counts ? volumes[i] : 0.0;
    cells += static_cast<std::size_t>(counts);
  }
  sums.oil.grv_m3 = grv;
  sums.oil.cells = cells;
}

}  // namespace zorvastatic
