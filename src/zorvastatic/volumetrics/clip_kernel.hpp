#pragma once
// The per-cell clipping rule, written once and run over an in-memory grid layer or over a slab.
// A layer type provides, for the cells c = i + ni * j of one k-layer: row_length() (ni),
// cell_count(), row_depths(c) (the ZCORN entries of the row from cell c), cell_volume(c, j)
// (used for layers not on vertical pillars) and poro_values(), ntg_values(), sw_values() (the
// layer's values, cell 0 first; read only when the computation has contacts).
//
// A layer goes row by row. A row whose corners all lie below the lower contact ends there;
// otherwise the mean depth, volume and HCPV of every cell are computed and the contributing
// cells added to the sums in storage order: in one pass on vertical pillars, else in two.

#include <cstddef>
#include <vector>

#include "zorvastatic/grid/row_volumes.hpp"
#include "zorvastatic/volumetrics/cell_hcpv.hpp"
#include "zorvastatic/volumetrics/clip_rows.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {

// Per-row buffers, sized once per computation.
struct ClipScratch {
  explicit ClipScratch(std::size_t ni) : rows(ni), hcpv(ni) {}
  RowVolumes rows;
  std::vector<double> hcpv;
};

namespace clip_detail {

// The error of the first contributing cell of a row whose values are invalid.
template <class Value>
StaticError first_invalid(const ClipRule& rule, std::size_t n, const double* depths,
                          const double* volumes, const Value* poro, const Value* ntg,
                          const Value* sw) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!rule.counts(depths[i], volumes[i])) continue;
    auto hcpv =
        cell_hcpv(rule.uses_sw_gas(depths[i]), volumes[i], poro[i], ntg[i], sw[i], rule.sw_gas);
    if (!hcpv) return std::move(hcpv).error();
  }
  zorvatools::internal_fault("volumetrics: a row reported an invalid value but none was found");
}

}  // namespace clip_detail

// Adds the cells of one layer. `hcpv_layer` (nullable, zero-filled) receives the HCPV of the
// contributing cells. Rows of a layer on vertical pillars (`tops` given) have their volumes
// computed together; other layers go cell by cell.
template <class Layer>
Status clip_layer(const ContactSpec& spec, const Layer& layer, ClipSums& sums, double* hcpv_layer,
                  const PillarTops* tops, ClipScratch& scratch) {
  const ClipRule rule(spec);
  const std::size_t count = layer.cell_count();
  const std::size_t ni = layer.row_length();
  RowVolumes& rows = scratch.rows;
  const double* depths = rows.mean_depths().data();
  const double* volumes = rows.volumes().data();
  const auto* poro = layer.poro_values();
  const auto* ntg = layer.ntg_values();
  const auto* sw = layer.sw_values();
  for (std::size_t row_start = 0, j = 0; row_start < count; row_start += ni, ++j) {
    const auto* zcorn = layer.row_depths(row_start);
    // A row that lies wholly below the lower contact has nothing to give.
    if (!rule.gross_only && wholly_below(rule, 8 * ni, zcorn)) continue;
    double* hcpv = hcpv_layer != nullptr ? hcpv_layer + row_start : scratch.hcpv.data();
    bool shortcut_failed = false;
    if (!rule.gross_only && tops != nullptr && tops->moderate) {
      const RowOutcome outcome =
          add_vertical_row(rule, tops->row(j, ni), ni, zcorn, poro + row_start, ntg + row_start,
                           sw + row_start, hcpv, sums);
      if (outcome == RowOutcome::Added) continue;
      if (outcome == RowOutcome::Invalid) {  // found again, cell by cell, for its message
        rows.compute(*tops, j, zcorn);
        return std::unexpected(clip_detail::first_invalid(
            rule, ni, depths, volumes, poro + row_start, ntg + row_start, sw + row_start));
      }
      shortcut_failed = true;
    }
    if (shortcut_failed) {
      rows.compute_by_general_rule(*tops, j, zcorn);
    } else if (tops != nullptr) {
      rows.compute(*tops, j, zcorn);
    } else {
      rows.compute_depths(zcorn);
      const std::span<double> row_volumes = rows.volumes();
      for (std::size_t i = 0; i < ni; ++i) row_volumes[i] = layer.cell_volume(row_start + i, j);
    }
    if (rule.gross_only) {
      add_gross_row(ni, volumes, sums);
      continue;
    }
    if (!add_row(rule, ni, depths, volumes, poro + row_start, ntg + row_start, sw + row_start, hcpv,
                 sums)) {
      return std::unexpected(clip_detail::first_invalid(rule, ni, depths, volumes, poro + row_start,
                                                        ntg + row_start, sw + row_start));
    }
  }
  return {};
}

// Validates the contact depths (and sw_gas) of a spec before any cell is visited.
Status validate_contact_spec(const ContactSpec& spec);

// The result from the running sums.
InPlace finish_in_place(const ContactSpec& spec, const ClipSums& sums);

}  // namespace zorvastatic
