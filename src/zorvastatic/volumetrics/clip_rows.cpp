#include "zorvastatic/volumetrics/clip_rows.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>

#include "zorvastatic/grid/row_cell_rules.hpp"
#include "zorvatools/foundation/prefetch.hpp"
#include "zorvatools/foundation/vector_clones.hpp"

namespace zorvastatic {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// Bitwise rather than short-circuit logic keeps the loops free of branches.
inline bool is_fraction(double value) {
  return (value >= 0) & (value <= 1);
}

// A volume that is a number and finite.
inline bool representable(double volume) {
  return volume <= std::numeric_limits<double>::max();
}

// `value` where `keep` holds, else +0. Written with bits rather than a choice so that the
// compiler vectorises the ordered sums that take it (it keeps the order, lane by lane).
inline double kept(bool keep, double value) {
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) &
                               (std::uint64_t{0} - static_cast<std::uint64_t>(keep)));
}

// The contact rule's numbers, passed by value so that nothing in a loop may alias them. `goc`
// is NaN without phases: every cell is then oil.
struct CellRule {
  double lower;
  double goc;
  bool fixed_gas_sw;
  double sw_gas;
};

CellRule cell_rule(const ClipRule& rule) {
  return {rule.lower, rule.phases ? rule.goc : kNan, rule.fixed_gas_sw, rule.sw_gas};
}

// The running sums of one row, started from the computation's own; every count is 64 bits wide
// like the sums, which the compiler needs to vectorise the loops.
struct RowTally {
  explicit RowTally(const ClipSums& sums)
      : gas_grv(sums.gas.grv_m3),
        gas_hcpv(sums.gas.hcpv_m3),
        oil_grv(sums.oil.grv_m3),
        oil_hcpv(sums.oil.hcpv_m3) {}

  double gas_grv, gas_hcpv, oil_grv, oil_hcpv;
  std::size_t gas_cells = 0, oil_cells = 0, invalid = 0;

  // Adds one cell, whether it contributes or not, and returns its HCPV (0 unless it does). A
  // cell above the contact whose volume overflowed would drop out unseen, so it is invalid too,
  // unless the caller sees to such volumes itself (kVolumesChecked).
  template <bool kVolumesChecked = false>
  double add(const CellRule& rule, double depth, double volume, double poro, double ntg,
             double sw) {
    const bool fixed = rule.fixed_gas_sw & (depth < rule.goc);
    const bool valid = is_fraction(poro) & is_fraction(ntg) & (fixed | is_fraction(sw));
    const bool above = !(depth >= rule.lower);
    const bool counts = above & (volume > 0);
    const bool gas = depth < rule.goc;
    if constexpr (kVolumesChecked) {
      invalid |= static_cast<std::size_t>(counts & !valid);
    } else {
      invalid |= static_cast<std::size_t>((counts & !valid) | (above & !representable(volume)));
    }
    const double v = kept(counts, volume);
    const double h = kept(counts, poro * (volume * ntg) * (1 - (fixed ? rule.sw_gas : sw)));
    gas_grv += kept(gas, v);
    gas_hcpv += kept(gas, h);
    oil_grv += kept(!gas, v);
    oil_hcpv += kept(!gas, h);
    gas_cells += static_cast<std::size_t>(counts & gas);
    oil_cells += static_cast<std::size_t>(counts & !gas);
    return h;
  }

  void commit(ClipSums& sums) const {
    sums.gas = {gas_grv, gas_hcpv, sums.gas.cells + gas_cells};
    sums.oil = {oil_grv, oil_hcpv, sums.oil.cells + oil_cells};
  }
};

template <class Value>
inline void prefetch_values(const Value* poro, const Value* ntg, const Value* sw, std::size_t begin,
                            std::size_t end) {
  using zorvatools::kPrefetchCellsAhead;
  zorvatools::prefetch_ahead(poro + begin, end - begin, kPrefetchCellsAhead);
  zorvatools::prefetch_ahead(ntg + begin, end - begin, kPrefetchCellsAhead);
  zorvatools::prefetch_ahead(sw + begin, end - begin, kPrefetchCellsAhead);
}

// A row whose depths and volumes are known. One loop with no branches, vectorised by the
// compiler.
template <class Value>
[[gnu::always_inline]] inline bool row_kernel(
    std::size_t n, CellRule rule, const double* __restrict depths, const double* __restrict volumes,
    const Value* __restrict poro, const Value* __restrict ntg, const Value* __restrict sw,
    double* __restrict hcpv, ClipSums* __restrict sums) {
  RowTally tally(*sums);
  for (std::size_t begin = 0; begin < n; begin += zorvatools::kPrefetchChunk) {
    const std::size_t end = std::min(n, begin + zorvatools::kPrefetchChunk);
    prefetch_values(poro, ntg, sw, begin, end);
    for (std::size_t i = begin; i < end; ++i) {
      hcpv[i] = tally.add(rule, depths[i], volumes[i], static_cast<double>(poro[i]),
                          static_cast<double>(ntg[i]), static_cast<double>(sw[i]));
    }
  }
  if (tally.invalid != 0) return false;
  tally.commit(*sums);
  return true;
}

// A row on vertical pillars, its depths and volumes computed on the way, so that the latency of
// the ordered sums hides behind the arithmetic of the volumes. Inlined into each vector unit's
// version, like every kernel here (the compiler would not inline one this long by itself).
template <class Depth, class Value>
[[gnu::always_inline]] inline RowOutcome vertical_row_kernel(
    std::size_t n, CellRule rule, const double* __restrict x0, const double* __restrict y0,
    const double* __restrict x1, const double* __restrict y1, const Depth* __restrict zcorn,
    const Value* __restrict poro, const Value* __restrict ntg, const Value* __restrict sw,
    double* __restrict hcpv, ClipSums* __restrict sums) {
  RowTally tally(*sums);
  std::size_t holds = 1;
  for (std::size_t begin = 0; begin < n; begin += zorvatools::kPrefetchChunk) {
    const std::size_t end = std::min(n, begin + zorvatools::kPrefetchChunk);
    prefetch_corner_depths(zcorn, begin, end);
    prefetch_values(poro, ntg, sw, begin, end);
    for (std::size_t i = begin; i < end; ++i) {
      double z[8];
      load_corner_depths(zcorn, i, z);
      const double volume = shortcut_cell_volume(x0, y0, x1, y1, i, z);
      holds &= static_cast<std::size_t>(shortcut_holds(volume));  // finite, among others
      hcpv[i] = tally.add<true>(rule, mean_corner_depth(z), volume, static_cast<double>(poro[i]),
                                static_cast<double>(ntg[i]), static_cast<double>(sw[i]));
    }
  }
  if (holds == 0) return RowOutcome::NeedsGeneralRule;
  if (tally.invalid != 0) return RowOutcome::Invalid;
  tally.commit(*sums);
  return RowOutcome::Added;
}

// Whether every value is at or below `bound` (reads the corner depths as they lie: no need to
// gather them per corner).
template <class Depth>
inline bool below_kernel(std::size_t n, double bound, const Depth* __restrict zcorn) {
  unsigned below = 1;
  for (std::size_t i = 0; i < n; ++i) below &= static_cast<unsigned>(zcorn[i] >= bound);
  return below != 0;
}

ZV_VECTOR_CLONES bool row_kernel_f64(std::size_t n, CellRule rule, const double* depths,
                                     const double* volumes, const double* poro, const double* ntg,
                                     const double* sw, double* hcpv, ClipSums* sums) {
  return row_kernel(n, rule, depths, volumes, poro, ntg, sw, hcpv, sums);
}

ZV_VECTOR_CLONES bool row_kernel_f32(std::size_t n, CellRule rule, const double* depths,
                                     const double* volumes, const float* poro, const float* ntg,
                                     const float* sw, double* hcpv, ClipSums* sums) {
  return row_kernel(n, rule, depths, volumes, poro, ntg, sw, hcpv, sums);
}

ZV_VECTOR_CLONES RowOutcome vertical_row_kernel_f64(std::size_t n, CellRule rule,
                                                    PillarTops::Row row, const double* zcorn,
                                                    const double* poro, const double* ntg,
                                                    const double* sw, double* hcpv,
                                                    ClipSums* sums) {
  return vertical_row_kernel(n, rule, row.x0, row.y0, row.x1, row.y1, zcorn, poro, ntg, sw, hcpv,
                             sums);
}

ZV_VECTOR_CLONES RowOutcome vertical_row_kernel_f32(std::size_t n, CellRule rule,
                                                    PillarTops::Row row, const float* zcorn,
                                                    const float* poro, const float* ntg,
                                                    const float* sw, double* hcpv, ClipSums* sums) {
  return vertical_row_kernel(n, rule, row.x0, row.y0, row.x1, row.y1, zcorn, poro, ntg, sw, hcpv,
                             sums);
}

ZV_VECTOR_CLONES bool below_kernel_f64(std::size_t n, double bound, const double* zcorn) {
  return below_kernel(n, bound, zcorn);
}

ZV_VECTOR_CLONES bool below_kernel_f32(std::size_t n, double bound, const float* zcorn) {
  return below_kernel(n, bound, zcorn);
}

ZV_VECTOR_CLONES void widen_kernel(std::size_t n, const float* __restrict in,
                                   double* __restrict out) {
  constexpr std::size_t kChunk = 16;  // one cache line of floats
  constexpr std::size_t kAhead = 1024;
  for (std::size_t begin = 0; begin < n; begin += kChunk) {
    zorvatools::prefetch_ahead(in + begin, kChunk, kAhead);
    const std::size_t end = std::min(n, begin + kChunk);
    for (std::size_t i = begin; i < end; ++i) out[i] = static_cast<double>(in[i]);
  }
}

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

}  // namespace

bool wholly_below(const ClipRule& rule, std::size_t n, const double* zcorn) {
  return wholly_below_in_runs(rule.safely_below, n, zcorn, below_kernel_f64);
}

bool wholly_below(const ClipRule& rule, std::size_t n, const float* zcorn) {
  return wholly_below_in_runs(rule.safely_below, n, zcorn, below_kernel_f32);
}

bool add_row(const ClipRule& rule, std::size_t n, const double* depths, const double* volumes,
             const double* poro, const double* ntg, const double* sw, double* hcpv,
             ClipSums& sums) {
  return row_kernel_f64(n, cell_rule(rule), depths, volumes, poro, ntg, sw, hcpv, &sums);
}

bool add_row(const ClipRule& rule, std::size_t n, const double* depths, const double* volumes,
             const float* poro, const float* ntg, const float* sw, double* hcpv, ClipSums& sums) {
  return row_kernel_f32(n, cell_rule(rule), depths, volumes, poro, ntg, sw, hcpv, &sums);
}

RowOutcome add_vertical_row(const ClipRule& rule, const PillarTops::Row& row, std::size_t n,
                            const double* zcorn, const double* poro, const double* ntg,
                            const double* sw, double* hcpv, ClipSums& sums) {
  return vertical_row_kernel_f64(n, cell_rule(rule), row, zcorn, poro, ntg, sw, hcpv, &sums);
}

RowOutcome add_vertical_row(const ClipRule& rule, const PillarTops::Row& row, std::size_t n,
                            const float* zcorn, const float* poro, const float* ntg,
                            const float* sw, double* hcpv, ClipSums& sums) {
  return vertical_row_kernel_f32(n, cell_rule(rule), row, zcorn, poro, ntg, sw, hcpv, &sums);
}

void widen_floats(std::size_t n, const float* in, double* out) { widen_kernel(n, in, out); }

bool add_gross_row(std::size_t n, const double* volumes, ClipSums& sums) {
  double grv = sums.oil.grv_m3;
  std::size_t cells = sums.oil.cells;
  bool finite = true;
  for (std::size_t i = 0; i < n; ++i) {
    const bool counts = volumes[i] > 0;
    finite &= representable(volumes[i]);
    grv += counts ? volumes[i] : 0.0;
    cells += static_cast<std::size_t>(counts);
  }
  if (!finite) return false;
  sums.oil.grv_m3 = grv;
  sums.oil.cells = cells;
  return true;
}

}  // namespace zorvastatic
