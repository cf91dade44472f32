#pragma once
// Nested-dissection ordering of the free nodes of a lattice whose equations couple nodes up to
// two apart along each axis (the minimum-curvature stencil and its edge extrapolation): blocks
// split across their longer side by separators two node lines thick, parts first, separators last.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zorvatools {

// Row indices (`node_row`, node i * ny + j, -1 for a node that is no unknown) in elimination order.
std::vector<std::int64_t> lattice_nested_dissection(std::size_t nx, std::size_t ny,
                                                    std::span<const std::int32_t> node_row);

}  // namespace zorvatools
