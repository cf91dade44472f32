#pragma once
// Formation-volume factors applied to pore volumes at the reporting boundary.

#include "zorvastatic/error.hpp"

namespace zorvastatic {

// Gas formation-volume factor in Rm³/Sm³, strictly between 0 and 1.
class GasFvf {
 public:
  static Result<GasFvf> create(double value);
  [[nodiscard]] double value() const { return value_; }
  // Gas in place at stock-tank conditions, hcpv / Bgi; fails when the quotient overflows.
  [[nodiscard]] Result<double> stock_tank_volume(double hcpv_m3) const;

 private:
  explicit GasFvf(double value) : value_(value) {}
  double value_;
};

// Oil formation-volume factor: finite and at least 1.0 Rm³/Sm³.
Status require_oil_fvf(double boi);

}  // namespace zorvastatic
