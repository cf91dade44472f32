#include "zorvastatic/volumetrics/fvf.hpp"

#include <cmath>

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

Result<GasFvf> GasFvf::create(double value) {
  if (std::isfinite(value) && value > 0 && value < 1) return GasFvf(value);
  return std::unexpected(StaticError::invalid_input(
      zorvatools::str_cat("gas FVF (Bgi) must be finite and in (0,1) Rm³/Sm³, got ", value)));
}

Result<double> GasFvf::stock_tank_volume(double hcpv_m3) const {
  const double gas = hcpv_m3 / value_;
  if (std::isfinite(gas)) return gas;
  return std::unexpected(StaticError::out_of_range(
      zorvatools::str_cat("gas in place (HCPV / Bgi, Bgi ", value_,
                          ") exceeds the largest representable volume (about 1.8e308 Sm³)")));
}

Status require_oil_fvf(double boi) {
  if (std::isfinite(boi) && boi >= 1.0) return {};
  return std::unexpected(StaticError::invalid_input(
      zorvatools::str_cat("oil FVF (Boi) must be finite and >= 1.0 Rm³/Sm³, got ", boi)));
}

}  // namespace zorvastatic
