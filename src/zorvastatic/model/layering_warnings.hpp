#pragma once

#include <span>
#include <vector>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/model/provenance.hpp"

namespace zorvastatic {

// Pinched cells, collapsed cells and a capped layer count of a layering, in that order.
void add_layering_warnings(const LayeringReport& report, std::vector<BuildWarning>& warnings);
// The same for a grid of nk layers laid without being held (pinched cells summed over zones).
void add_layering_warnings(std::span<const StackedZone> zones, bool capped, std::size_t nk,
                           std::vector<BuildWarning>& warnings);

}  // namespace zorvastatic
