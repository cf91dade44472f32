#pragma once
// The per-cell clipping rule, written once and run over an in-memory grid layer or over a slab.
// A layer type provides row_length() (ni), cell_count(), mean_depth(c), cell_volume(c, j),
// poro_at(c), ntg_at(c) and sw_at(c) for the cells c = i + ni * j of one k-layer.

#include <cstddef>

#include "zorvastatic/volumetrics/cell_hcpv.hpp"
#include "zorvastatic/volumetrics/contact_spec.hpp"
#include "zorvastatic/volumetrics/in_place.hpp"

namespace zorvastatic {

// Running sums of one computation.
struct ClipSums {
  PhaseTotals gas;
  PhaseTotals oil;  // also the totals of SingleContact and NoContact
};

// Adds the cells of one layer. `hcpv_layer` (nullable) receives the HCPV of contributing cells.
template <class Layer>
Status clip_layer(const ContactSpec& spec, const Layer& layer, ClipSums& sums, double* hcpv_layer) {
  const std::size_t count = layer.cell_count();
  const std::size_t ni = layer.row_length();
  if (spec.mode == ContactSpec::Mode::NoContact) {
    for (std::size_t row_start = 0, j = 0; row_start < count; row_start += ni, ++j) {
      for (std::size_t c = row_start; c < row_start + ni; ++c) {
        const double volume = layer.cell_volume(c, j);
        if (volume > 0) {
          sums.oil.grv_m3 += volume;
          ++sums.oil.cells;
        }
      }
    }
    return {};
  }
  const bool phases = spec.has_phases();
  const double lower = phases ? spec.owc : spec.depth;
  // Rows keep the pillar index p = c + j at hand without a division per cell.
  for (std::size_t row_start = 0, j = 0; row_start < count; row_start += ni, ++j) {
    for (std::size_t c = row_start; c < row_start + ni; ++c) {
      const double depth = layer.mean_depth(c);
      if (depth >= lower) continue;  // a cell exactly on the contact does not count
      const double volume = layer.cell_volume(c, j);
      if (!(volume > 0)) continue;
      const bool gas_cap = phases && depth < spec.goc;
      const bool use_sw_gas = gas_cap && spec.mode == ContactSpec::Mode::TwoContactsSwGas;
      const double sw = use_sw_gas ? 0.0 : layer.sw_at(c);
      ZV_ASSIGN_OR_RETURN(const double hcpv, cell_hcpv(use_sw_gas, volume, layer.poro_at(c),
                                                       layer.ntg_at(c), sw, spec.sw_gas));
      PhaseTotals& phase = gas_cap ? sums.gas : sums.oil;
      phase.grv_m3 += volume;
      phase.hcpv_m3 += hcpv;
      ++phase.cells;
      if (hcpv_layer != nullptr) hcpv_layer[c] = hcpv;
    }
  }
  return {};
}

// Validates the contact depths (and sw_gas) of a spec before any cell is visited.
Status validate_contact_spec(const ContactSpec& spec);

// The result from the running sums.
InPlace finish_in_place(const ContactSpec& spec, const ClipSums& sums);

}  // namespace zorvastatic
