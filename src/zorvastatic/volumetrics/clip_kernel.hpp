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

#include <cmath>
#include <cstddef>
#include <vector>

#include "zorvastatic/grid/row_volumes.hpp"
#include "zorvastatic/volumetrics/cell_hcpv.hpp"
#include "zorvastatic/volumetrics/clip_rows.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {

// One row's corner depths and values as the kernels read them; values null when not needed.
struct ClipRow {
  const double* zcorn;
  const double* poro;
  const double* ntg;
  const double* sw;
};

// Per-row buffers, sized once per computation.
struct ClipScratch {
  explicit ClipScratch(std::size_t ni) : rows(ni), hcpv(ni) {}

  // A row of doubles as it lies.
  ClipRow row(std::size_t /*ni*/, const double* zcorn, const double* poro, const double* ntg,
              const double* sw) {
    return {zcorn, poro, ntg, sw};
  }
  // A row of 32-bit floats widened to double: exact, so the sums are the same bit for bit, and
  // the kernels then vectorise as over double rows (their mixed-width loops run one cell at a
  // time, at a third of the speed).
  ClipRow row(std::size_t ni, const float* zcorn, const float* poro, const float* ntg,
              const float* sw) {
    if (wide.empty()) wide.resize(11 * ni);
    double* out = wide.data();
    widen_floats(8 * ni, zcorn, out);
    if (poro == nullptr) return {out, nullptr, nullptr, nullptr};
    widen_floats(ni, poro, out + 8 * ni);
    widen_floats(ni, ntg, out + 9 * ni);
    widen_floats(ni, sw, out + 10 * ni);
    return {out, out + 8 * ni, out + 9 * ni, out + 10 * ni};
  }

  RowVolumes rows;
  std::vector<double> hcpv;
  std::vector<double> wide;  // 8 corner depths, then PORO, NTG, SW, per cell of a float row
};

namespace clip_detail {

// "the volume of cell (i, j, k) is not a finite number ...": the volume rule overflowed.
StaticError volume_overflow(std::size_t i, std::size_t j, std::size_t k);

// The error of the first cell of row j of layer k whose volume overflowed.
StaticError first_overflow(std::size_t n, std::size_t j, std::size_t k, const double* volumes);

// The error of the first cell of row j of layer k that lies above the lower contact and whose
// volume overflowed or, contributing, whose values are invalid.
template <class Value>
StaticError first_invalid(const ClipRule& rule, std::size_t n, std::size_t j, std::size_t k,
                          const double* depths, const double* volumes, const Value* poro,
                          const Value* ntg, const Value* sw) {
  for (std::size_t i = 0; i < n; ++i) {
    if (rule.above_lower(depths[i]) && !std::isfinite(volumes[i])) return volume_overflow(i, j, k);
    if (!rule.counts(depths[i], volumes[i])) continue;
    auto hcpv =
        cell_hcpv(rule.uses_sw_gas(depths[i]), volumes[i], poro[i], ntg[i], sw[i], rule.sw_gas);
    if (!hcpv) return std::move(hcpv).error();
  }
  zorvatools::internal_fault("volumetrics: a row reported an invalid value but none was found");
}

}  // namespace clip_detail

// Adds the cells of layer k. `hcpv_layer` (nullable, zero-filled) receives the HCPV of the
// contributing cells. Rows of a layer on vertical pillars (`tops` given) have their volumes
// computed together; other layers go cell by cell.
template <class Layer>
Status clip_layer(const ContactSpec& spec, std::size_t k, const Layer& layer, ClipSums& sums,
                  double* hcpv_layer, const PillarTops* tops, ClipScratch& scratch) {
  const ClipRule rule(spec);
  const std::size_t count = layer.cell_count();
  const std::size_t ni = layer.row_length();
  RowVolumes& rows = scratch.rows;
  const double* depths = rows.mean_depths().data();
  const double* volumes = rows.volumes().data();
  const auto* poro = layer.poro_values();
  const auto* ntg = layer.ntg_values();
  const auto* sw = layer.sw_values();
  // Cubes are read only with contacts, and may then be missing.
  const auto at = [&](const auto* cube, std::size_t c) {
    return rule.gross_only ? nullptr : cube + c;
  };
  for (std::size_t row_start = 0, j = 0; row_start < count; row_start += ni, ++j) {
    ZV_TRY(zorvatools::poll_call());
    // A row that lies wholly below the lower contact has nothing to give.
    if (!rule.gross_only && wholly_below(rule, 8 * ni, layer.row_depths(row_start))) continue;
    // Messages quote the values as stored.
    const auto* row_poro = at(poro, row_start);
    const auto* row_ntg = at(ntg, row_start);
    const auto* row_sw = at(sw, row_start);
    const ClipRow row = scratch.row(ni, layer.row_depths(row_start), row_poro, row_ntg, row_sw);
    const double* zcorn = row.zcorn;
    double* hcpv = hcpv_layer != nullptr ? hcpv_layer + row_start : scratch.hcpv.data();
    bool shortcut_failed = false;
    if (!rule.gross_only && tops != nullptr && tops->moderate) {
      const RowOutcome outcome = add_vertical_row(rule, tops->row(j, ni), ni, zcorn, row.poro,
                                                  row.ntg, row.sw, hcpv, sums);
      if (outcome == RowOutcome::Added) continue;
      if (outcome == RowOutcome::Invalid) {  // found again, cell by cell, for its message
        rows.compute(*tops, j, zcorn);
        return std::unexpected(clip_detail::first_invalid(rule, ni, j, k, depths, volumes,
                                                          row_poro, row_ntg, row_sw));
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
      if (!add_gross_row(ni, volumes, sums)) {
        return std::unexpected(clip_detail::first_overflow(ni, j, k, volumes));
      }
      continue;
    }
    if (!add_row(rule, ni, depths, volumes, row.poro, row.ntg, row.sw, hcpv, sums)) {
      return std::unexpected(
          clip_detail::first_invalid(rule, ni, j, k, depths, volumes, row_poro, row_ntg, row_sw));
    }
  }
  return {};
}

// Validates the contact depths (and sw_gas) of a spec before any cell is visited.
Status validate_contact_spec(const ContactSpec& spec);

// The result from the running sums; fails when a total overflowed.
Result<InPlace> finish_in_place(const ContactSpec& spec, const ClipSums& sums);

// Fails when a volume of `in_place` is not a finite number: a sum overflowed.
Status require_finite_totals(const InPlace& in_place);

}  // namespace zorvastatic
