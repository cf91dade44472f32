#pragma once
// The two roads into an out-of-core model: spilling a finished model whose live set exceeds the
// budget, and streaming a constant-prior model into a store layer by layer.

#include <cstdint>
#include <vector>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/model/model.hpp"

namespace zorvastatic {

class StaticModelBuilder;

// The model unchanged, or moved into a store when its live-set estimate exceeds the budget.
Result<StaticModel> maybe_spill(const StaticModelBuilder& builder, StaticModel model);

}  // namespace zorvastatic
