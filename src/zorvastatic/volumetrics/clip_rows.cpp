#include "zorvastatic/volumetrics/clip_rows.hpp"

#include "zorvatools/foundation/vector_clones.hpp"

namespace zorvastatic {
namespace {

// Bitwise rather than short-circuit logic keeps the loops free of branches.
inline bool is_fraction(double value) {
  return (value >= 0) & (value <= 1);
}

// One loop with no branches, vectorised by the compiler; the rule's fields come in as values so
// that nothing in the loop may alias them.
template <class Value>
inline bool hcpv_kernel(std::size_t n, double lower, double goc, bool fixed_gas_sw, double sw_gas,
                        const double* __restrict depths, const double* __restrict volumes,
                        const Value* __restrict poro, const Value* __restrict ntg,
                        const Value* __restrict sw, double* __restrict hcpv) {
  unsigned invalid = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double depth = depths[i];
    const double volume = volumes[i];
    const double p = static_cast<double>(poro[i]);
    const double g = static_cast<double>(ntg[i]);
    const double s = static_cast<double>(sw[i]);
    const bool fixed = fixed_gas_sw & (depth < goc);
    const bool valid = is_fraction(p) & is_fraction(g) & (fixed | is_fraction(s));
    const bool counts = !(depth >= lower) & (volume > 0);
    invalid |= static_cast<unsigned>(counts & !valid);
    const double h = p * (volume * g) * (1 - (fixed ? sw_gas : s));
    hcpv[i] = counts ? h : 0.0;
  }
  return invalid == 0;
}

// Whether every value is at or below `bound` (reads the corner depths as they lie: no need to
// gather them per corner).
template <class Depth>
inline bool below_kernel(std::size_t n, double bound, const Depth* __restrict zcorn) {
  unsigned below = 1;
  for (std::size_t i = 0; i < n; ++i) below &= static_cast<unsigned>(zcorn[i] >= bound);
  return below != 0;
}

ZV_VECTOR_CLONES bool hcpv_kernel_f64(std::size_t n, double lower, double goc, bool fixed_gas_sw,
                                      double sw_gas, const double* depths, const double* volumes,
                                      const double* poro, const double* ntg, const double* sw,
                                      double* hcpv) {
  return hcpv_kernel(n, lower, goc, fixed_gas_sw, sw_gas, depths, volumes, poro, ntg, sw, hcpv);
}

ZV_VECTOR_CLONES bool hcpv_kernel_f32(std::size_t n, double lower, double goc, bool fixed_gas_sw,
                                      double sw_gas, const double* depths, const double* volumes,
                                      const float* poro, const float* ntg, const float* sw,
                                      double* hcpv) {
  return hcpv_kernel(n, lower, goc, fixed_gas_sw, sw_gas, depths, volumes, poro, ntg, sw, hcpv);
}

ZV_VECTOR_CLONES bool below_kernel_f64(std::size_t n, double bound, const double* zcorn) {
  return below_kernel(n, bound, zcorn);
}

ZV_VECTOR_CLONES bool below_kernel_f32(std::size_t n, double bound, const float* zcorn) {
  return below_kernel(n, bound, zcorn);
}

}  // namespace

bool wholly_below(const ClipRule& rule, std::size_t n, const double* zcorn) {
  return below_kernel_f64(n, rule.safely_below, zcorn);
}

bool wholly_below(const ClipRule& rule, std::size_t n, const float* zcorn) {
  return below_kernel_f32(n, rule.safely_below, zcorn);
}

bool row_hcpv(const ClipRule& rule, std::size_t n, const double* depths, const double* volumes,
              const double* poro, const double* ntg, const double* sw, double* hcpv) {
  return hcpv_kernel_f64(n, rule.lower, rule.goc, rule.fixed_gas_sw, rule.sw_gas, depths, volumes,
                         poro, ntg, sw, hcpv);
}

bool row_hcpv(const ClipRule& rule, std::size_t n, const double* depths, const double* volumes,
              const float* poro, const float* ntg, const float* sw, double* hcpv) {
  return hcpv_kernel_f32(n, rule.lower, rule.goc, rule.fixed_gas_sw, rule.sw_gas, depths, volumes,
                         poro, ntg, sw, hcpv);
}

void add_row(const ClipRule& rule, std::size_t n, const double* depths, const double* volumes,
             const double* hcpv, ClipSums& sums) {
  double gas_grv = sums.gas.grv_m3, gas_hcpv = sums.gas.hcpv_m3;
  double oil_grv = sums.oil.grv_m3, oil_hcpv = sums.oil.hcpv_m3;
  std::size_t gas_cells = sums.gas.cells, oil_cells = sums.oil.cells;
  for (std::size_t i = 0; i < n; ++i) {
    const bool counts = rule.counts(depths[i], volumes[i]);
    const bool gas = rule.in_gas_cap(depths[i]);
    const double v = counts ? volumes[i] : 0.0;
    const double h = hcpv[i];  // 0 unless the cell counts
    gas_grv += gas ? v : 0.0;
    gas_hcpv += gas ? h : 0.0;
    oil_grv += gas ? 0.0 : v;
    oil_hcpv += gas ? 0.0 : h;
    gas_cells += static_cast<std::size_t>(counts && gas);
    oil_cells += static_cast<std::size_t>(counts && !gas);
  }
  sums.gas = {gas_grv, gas_hcpv, gas_cells};
  sums.oil = {oil_grv, oil_hcpv, oil_cells};
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
