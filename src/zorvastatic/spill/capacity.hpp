#pragma once
// Whether the store of a model over its memory budget fits in its spill directory, checked
// before anything is written.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "zorvastatic/error.hpp"
#include "zorvastatic/grid/index.hpp"

namespace zorvastatic {

// The length of the store file of a model of `dims` with these cubes; absent when it would not
// fit in 64 bits.
std::optional<std::uint64_t> spill_store_bytes(const Dims& dims,
                                               const std::vector<std::string>& cube_names);

// Sweeps the directory's stale stores, then fails with an I/O error (ENOSPC) naming the model's
// size, its live-set estimate against the memory budget, the store's size, the directory and
// its free bytes when the store would not fit. A directory not yet created is measured on its
// nearest existing parent; one that cannot be measured at all is left to the store writer.
Status check_spill_fits(const Dims& dims, const std::vector<std::string>& cube_names,
                        std::uint64_t estimate, std::uint64_t budget,
                        const std::filesystem::path& directory);

}  // namespace zorvastatic
