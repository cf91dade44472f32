#pragma once

#include <vector>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/model/provenance.hpp"

namespace zorvastatic {

// Pinched cells, collapsed cells and a capped layer count of a layering, in that order.
void add_layering_warnings(const LayeringReport& report, std::vector<BuildWarning>& warnings);

}  // namespace zorvastatic
