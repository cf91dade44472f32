#pragma once
// In-place volumes clipped by the fluid contacts, over an in-memory grid or slab by slab.

#include <cstddef>

#include "zorvastatic/grid/grid.hpp"
#include "zorvastatic/volumetrics/contact_spec.hpp"
#include "zorvastatic/volumetrics/in_place.hpp"
#include "zorvastatic/volumetrics/slab_source.hpp"

namespace zorvastatic {

// Cells with k in [k_start, k_end) of an in-memory grid.
Result<InPlace> grid_volumetrics(const Grid& grid, const ContactSpec& spec, std::size_t k_start,
                                 std::size_t k_end, bool with_cells);

// The same computation over a slab source, one layer resident at a time.
Result<InPlace> compute_clipped(const SlabSource& source, const ContactSpec& spec,
                                std::size_t k_start, std::size_t k_end, bool with_cells);

}  // namespace zorvastatic
