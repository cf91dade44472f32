#pragma once

#include "zorvastatic/error.hpp"

namespace zorvastatic {

// Hydrocarbon pore volume of one cell: volume × NTG × PORO × (1 − SW), or (1 − sw_gas) for a
// gas-cap cell under a fixed gas-cap saturation (SW is then not read).
Result<double> cell_hcpv(bool use_sw_gas, double volume, double poro, double ntg, double sw,
                         double sw_gas);

}  // namespace zorvastatic
