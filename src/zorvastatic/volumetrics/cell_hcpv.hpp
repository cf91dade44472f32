#pragma once

#include "zorvastatic/error.hpp"

namespace zorvastatic {

// "{name} must be a fraction in [0,1], got {value}" (the cold path of the per-cell checks).
StaticError fraction_error(const char* name, double value);

// Hydrocarbon pore volume of one cell: volume × NTG × PORO × (1 − SW), or (1 − sw_gas) for a
// gas-cap cell under a fixed gas-cap saturation (SW is then not read). Inline: it runs once per
// contributing cell.
inline Result<double> cell_hcpv(bool use_sw_gas, double volume, double poro, double ntg, double sw,
                                double sw_gas) {
  if (!(poro >= 0 && poro <= 1)) [[unlikely]] {
    return std::unexpected(fraction_error("PORO", poro));
  }
  if (!(ntg >= 0 && ntg <= 1)) [[unlikely]] {
    return std::unexpected(fraction_error("NTG", ntg));
  }
  const double pore_volume = poro * (volume * ntg);
  if (use_sw_gas) return pore_volume * (1 - sw_gas);
  if (!(sw >= 0 && sw <= 1)) [[unlikely]] {
    return std::unexpected(fraction_error("SW", sw));
  }
  return pore_volume * (1 - sw);
}

}  // namespace zorvastatic
