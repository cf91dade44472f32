#pragma once
// The sizes of a build, checked before anything is allocated: the node lattice and a grid held in
// memory must fit in the machine's memory, and a model over its memory budget must fit in its
// spill directory. Every product is checked; a size past 64 bits is refused, never wrapped.

#include <cstdint>
#include <filesystem>
#include <optional>

#include "zorvastatic/error.hpp"

namespace zorvastatic {

class StaticModelBuilder;

// What a build holds per lattice node whatever the size of its grid: the horizon and its control
// points, the solved top and base surfaces and the layering's copies of them, the pillars and
// two boundary planes.
inline constexpr std::uint64_t kLatticeBytesPerNode = 128;

// Fails with a grid error when an nx × ny-node lattice cannot be held in `memory_bytes` (unknown
// memory refuses only what cannot be addressed at all).
Status check_lattice_size(std::uint64_t nx, std::uint64_t ny,
                          std::optional<std::uint64_t> memory_bytes);

// Whether a build over its budget, of one zone or of a stack, writes its grid plane by plane into
// the store instead of building it in memory first: only a model populated by constant priors can.
bool streams_when_over_budget(const StaticModelBuilder& builder);

// What the size checks need to know of a build.
struct BuildShape {
  std::uint64_t nx = 0;  // lattice nodes
  std::uint64_t ny = 0;
  std::uint64_t min_layers = 0;  // the exact count where it is known before the surfaces are
                                 // solved, else the fewest the build can make
  bool streams = false;          // over its budget, the grid goes plane by plane to the store
  std::uint64_t budget_bytes = 0;
  std::optional<std::filesystem::path> spill_dir;
};
BuildShape build_shape(const StaticModelBuilder& builder);

// The lattice, then the grid: in memory when it is built there, and in the spill directory when
// its live-set estimate exceeds the budget.
Status check_build_size(const BuildShape& shape, std::optional<std::uint64_t> memory_bytes);

}  // namespace zorvastatic
