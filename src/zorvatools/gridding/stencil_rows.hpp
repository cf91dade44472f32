#pragma once
// Rows of the 13-tap minimum-curvature stencil for the free nodes of a lattice, each tap expanded
// through linear extrapolation at the edges onto real nodes; taps on fixed nodes become
// couplings that feed the right-hand side.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zorvatools/gridding/compressed_rows.hpp"

namespace zorvatools {

// Weights of 0.75 x biharmonic (20, -8, 2, 1) + 0.25 x negative Laplacian (4, -1) on a lattice
// of spacing 2^level, scaled so that coarse lattices match the Galerkin product of the finer
// ones (the biharmonic part by 4^-level, the Laplacian part unchanged). Level 0 is the stencil
// (16, -6.25, 1.5, 0.75).
struct StencilWeights {
  double centre, axis, diagonal, axis2;
  static StencilWeights at_level(unsigned level);
};

struct StencilCoupling {
  std::int32_t fixed;  // index of the fixed node (an anchor)
  double weight;
};

struct StencilSystem {
  CompressedRows rows;
  std::vector<std::size_t> coupling_start;  // row r's couplings: [start[r], start[r + 1])
  std::vector<StencilCoupling> couplings;
  std::size_t half_bandwidth = 0;           // largest |row - column|
};

// The stencil rows of every free node in free order (`free_nodes[r]` is row r's node, i * ny + j),
// taps applied in the order centre; (0,+1), (0,-1), (+1,0), (-1,0); the diagonals (+1,+1),
// (-1,+1), (+1,-1), (-1,-1); (0,+2), (0,-2), (+2,0), (-2,0), repeated taps summed in that order.
// `node_fixed` gives each node's fixed index (-1 for free), `node_free` its row (-1 for fixed).
StencilSystem assemble_stencil(std::size_t nx, std::size_t ny, const StencilWeights& weights,
                               std::span<const std::int32_t> node_fixed,
                               std::span<const std::int32_t> node_free,
                               std::span<const std::size_t> free_nodes, bool keep_couplings);

}  // namespace zorvatools
