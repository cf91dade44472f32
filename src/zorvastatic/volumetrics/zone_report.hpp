#pragma once

#include <string>

#include "zorvastatic/volumetrics/in_place.hpp"

namespace zorvastatic {

// The per-zone in-place report as compact JSON, keys in ascending byte order:
// {"total":{"grv_m3":..,"hcpv_m3":..,"ooip_sm3":..},"zones":[{..,"zone":".."}]}; oil in place
// is hydrocarbon pore volume over `boi`.
std::string zoned_in_place_json(const ZonedInPlace& zoned, double boi);

}  // namespace zorvastatic
