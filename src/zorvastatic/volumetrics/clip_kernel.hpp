#pragma once
// The per-cell clipping rule, written once and run over an in-memory grid layer or over a slab.
// A layer type provides, for the cells c = i + ni * j of one k-layer: row_length() (ni),
// cell_count(), row_depths(c) (the ZCORN entries of the row from cell c), mean_depth(c) and
// cell_volume(c, j) (for layers not on vertical pillars), poro_at(c), ntg_at(c), sw_at(c).

#include <cstddef>

#include "zorvastatic/grid/row_volumes.hpp"
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
// Rows of a layer on vertical pillars (`tops` given) have their depths and volumes computed
// together in `rows`; other layers go cell by cell.
template <class Layer>
Status clip_layer(const ContactSpec& spec, const Layer& layer, ClipSums& sums, double* hcpv_layer,
                  const PillarTops* tops, RowVolumes& rows) {
  const std::size_t count = layer.cell_count();
  const std::size_t ni = layer.row_length();
  const bool vertical = tops != nullptr;
  const bool gross_only = spec.mode == ContactSpec::Mode::NoContact;
  const bool phases = spec.has_phases();
  const double lower = phases ? spec.owc : spec.depth;
  for (std::size_t row_start = 0, j = 0; row_start < count; row_start += ni, ++j) {
    if (vertical) rows.compute(*tops, j, layer.row_depths(row_start));
    for (std::size_t i = 0; i < ni; ++i) {
      const std::size_t c = row_start + i;
      if (gross_only) {
        const double volume = vertical ? rows.volume(i) : layer.cell_volume(c, j);
        if (volume > 0) {
          sums.oil.grv_m3 += volume;
          ++sums.oil.cells;
        }
        continue;
      }
      const double depth = vertical ? rows.mean_depth(i) : layer.mean_depth(c);
      if (depth >= lower) continue;  // a cell exactly on the contact does not count
      const double volume = vertical ? rows.volume(i) : layer.cell_volume(c, j);
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
