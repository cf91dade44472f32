#pragma once
// The row loops of the clipping rule: which cells of a row contribute, their HCPVs, and the
// running sums in storage order.

#include <cmath>
#include <cstddef>

#include "zorvastatic/grid/row_volumes.hpp"
#include "zorvastatic/volumetrics/contact_spec.hpp"
#include "zorvastatic/volumetrics/in_place.hpp"

namespace zorvastatic {

// Running sums of one computation.
struct ClipSums {
  PhaseTotals gas;
  PhaseTotals oil;  // also the totals of SingleContact and NoContact
};

// The contact rule unpacked for the row loops.
struct ClipRule {
  explicit ClipRule(const ContactSpec& spec)
      : gross_only(spec.mode == ContactSpec::Mode::NoContact),
        phases(spec.has_phases()),
        fixed_gas_sw(spec.mode == ContactSpec::Mode::TwoContactsSwGas),
        lower(phases ? spec.owc : spec.depth),
        goc(spec.goc),
        sw_gas(spec.sw_gas),
        safely_below(lower + std::fabs(lower) * 1e-14) {}

  // Not at or below the lower contact: a cell exactly on it does not count, a NaN depth is not
  // below it.
  [[nodiscard]] bool above_lower(double depth) const { return !(depth >= lower); }
  // A cell contributes when it lies above the lower contact and its volume is positive.
  [[nodiscard]] bool counts(double depth, double volume) const {
    return above_lower(depth) && volume > 0;
  }
  [[nodiscard]] bool in_gas_cap(double depth) const { return phases && depth < goc; }
  // Gas-cap cells under a fixed gas-cap saturation do not read SW.
  [[nodiscard]] bool uses_sw_gas(double depth) const { return fixed_gas_sw && depth < goc; }

  bool gross_only;
  bool phases;
  bool fixed_gas_sw;
  double lower;
  double goc;
  double sw_gas;
  // Eight corner depths at or below this give a mean depth at or below `lower` whatever the
  // rounding of the sum (its error is under 8 units in the last place).
  double safely_below;
};

// Whether the n corner depths all lie safely below the lower contact, so that no cell they
// belong to can contribute; a NaN depth is not below.
bool wholly_below(const ClipRule& rule, std::size_t n, const double* zcorn);
bool wholly_below(const ClipRule& rule, std::size_t n, const float* zcorn);

// Adds the contributing cells of a row of n cells to the sums in storage order, and writes
// each cell's HCPV (by the arithmetic of cell_hcpv) to `hcpv`, 0 for cells that do not
// contribute. Those add +0, which leaves a running sum unchanged bit for bit: one that starts at
// +0 is never -0. False, with the sums untouched and `hcpv` unspecified, when a contributing
// cell has an invalid PORO, NTG or SW, or a cell above the lower contact a volume that is not a
// finite number (its arithmetic overflowed).
bool add_row(const ClipRule& rule, std::size_t n, const double* depths, const double* volumes,
             const double* poro, const double* ntg, const double* sw, double* hcpv, ClipSums& sums);
bool add_row(const ClipRule& rule, std::size_t n, const double* depths, const double* volumes,
             const float* poro, const float* ntg, const float* sw, double* hcpv, ClipSums& sums);
// How a row on vertical pillars went: added to the sums; not added because the shortcut of the
// volume rule may not hold for a cell (the row then goes through the general rule); or not added
// because a cell is invalid as for add_row.
enum class RowOutcome { Added, NeedsGeneralRule, Invalid };

// add_row for row `row` of a layer on vertical pillars whose pillar coordinates are moderate
// (PillarTops::moderate), with the depths and volumes computed on the way from the n cells'
// corner depths `zcorn`. The sums are untouched unless the row is added.
RowOutcome add_vertical_row(const ClipRule& rule, const PillarTops::Row& row, std::size_t n,
                            const double* zcorn, const double* poro, const double* ntg,
                            const double* sw, double* hcpv, ClipSums& sums);
RowOutcome add_vertical_row(const ClipRule& rule, const PillarTops::Row& row, std::size_t n,
                            const float* zcorn, const float* poro, const float* ntg,
                            const float* sw, double* hcpv, ClipSums& sums);

// out[i] = in[i] for i < n, widened exactly. The rows come from a store's pages, read once: they
// are asked for well ahead, so that the reading of one row overlaps the next.
void widen_floats(std::size_t n, const float* in, double* out);

// The same without contacts: every cell of positive volume adds its volume. False, with the
// sums untouched, when a volume is not a finite number.
bool add_gross_row(std::size_t n, const double* volumes, ClipSums& sums);

}  // namespace zorvastatic
