#pragma once
// Interfaces between adjacent surfaces of a resolved stack: crossings refused, clamped or
// repaired to a minimum thickness, surface by surface from the top down.

#include <optional>
#include <vector>

#include "zorvastatic/gridder/surface.hpp"
#include "zorvastatic/model/provenance.hpp"

namespace zorvastatic {

struct CheckedInterfaces {
  std::vector<Surface> surfaces;
  std::vector<InterfaceRepair> repairs;
};

// For each adjacent pair from the top down: a tops-only upper over a mapped lower yields to the
// lower; otherwise the lower yields to the upper. `tops_only` marks the surfaces known from well
// tops only. With `min_thickness_m` the yielding surface is moved to that thickness and each
// changed interface is recorded; without it a crossing fails unless `clamp_crossings` is set.
// Where those adjustments pull against each other, a surface left above the one over it is closed
// onto it (and recorded), so that zones never overlap.
Result<CheckedInterfaces> check_stack_interfaces(std::vector<Surface> surfaces,
                                                 const std::vector<bool>& tops_only,
                                                 std::optional<double> min_thickness_m,
                                                 bool clamp_crossings);

}  // namespace zorvastatic
