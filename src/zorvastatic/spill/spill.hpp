#pragma once
// The two roads into an out-of-core model: spilling a finished model whose live set exceeds the
// budget, and streaming a constant-prior model into a store layer by layer.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/spill/backing.hpp"
#include "zorvatools/store/schema.hpp"

namespace zorvastatic {

class StaticModelBuilder;

// Live-set estimate of an in-memory model: 2 × (64 × cells + 8 × cells × cubes) bytes,
// saturating.
std::uint64_t in_memory_estimate(const Dims& dims, std::size_t cubes);
// Live-set estimate that decides the streaming road: 2 × (64 + 24) × cells bytes, saturating.
std::uint64_t streaming_estimate(std::uint64_t cells);

// "ZCORN" (slab f32, 8 per cell), "COORD" (flat f64, 6 per pillar), one slab f32 lane per cube
// (names in ascending byte order), one slab per k-layer.
zorvatools::store::StoreSchema store_schema(const Dims& dims, std::size_t pillar_count,
                                            const std::vector<std::string>& cube_names);

// The model unchanged, or moved into a store when its live-set estimate exceeds the budget.
Result<StaticModel> maybe_spill(const StaticModelBuilder& builder, StaticModel model);

// A layering written straight into a store: its backing, and per zone the cells without
// thickness.
struct StreamedLayering {
  std::shared_ptr<const SpillBacking> backing;
  std::vector<std::size_t> pinched_cells;
};

// Writes the prepared layering straight into a store, layer by layer, with the builder's constant
// priors in every cell.
Result<StreamedLayering> stream_into_store(const StaticModelBuilder& builder,
                                           const StreamingLayering& layering,
                                           std::uint64_t estimate);

// Writes the prepared single-zone layering straight into a store, layer by layer.
Result<StaticModel> build_spilled_streaming(const StaticModelBuilder& builder,
                                            const StreamingLayering& layering,
                                            std::uint64_t estimate,
                                            std::vector<BuildWarning> warnings);

// The model with its grid replaced by a one-cell placeholder and the backing attached.
StaticModel into_spilled(StaticModel model, std::shared_ptr<const SpillBacking> backing);

}  // namespace zorvastatic
