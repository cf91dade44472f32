#pragma once
// Resolution of a horizon stack into one complete, non-crossing depth surface per horizon.

#include <cstddef>

#include "zorvastatic/gridder/stack.hpp"
#include "zorvastatic/gridder/surface_solve.hpp"

namespace zorvastatic {

// Every horizon of the stack on the ni x nj lattice, in stack order. The first mapped horizon is
// the reference: the other mapped horizons are its depth plus a cumulative thickness solved from
// co-located nodes (in parallel on the worker pool) and made monotone down the stack. Tops-only
// horizons are thicknesses from their tops: below the mapped horizon above them and bounded by
// the one below, below the last mapped horizon, or above the reference when they precede it.
// A stack without a mapped horizon fails.
Result<ResolvedStack> resolve_stack_surfaces(const HorizonStack& stack, std::size_t ni,
                                             std::size_t nj, const TaperSpec& taper);

}  // namespace zorvastatic
