#pragma once
// Node offsets of a lattice, nearest first, for searches that spiral out from a node. Each offset
// carries the least squared distance that any two nodes so far apart can compute from their
// positions, rounding of the positions and of the distance included: a search can stop at the
// first offset whose least distance exceeds what it still accepts, and never miss a node whose
// computed distance would have ranked, ties included.

#include <cstdint>
#include <vector>

#include "zorvatools/foundation/lattice.hpp"

namespace zorvatools {

// An offset of (+-di, +-dj) nodes: the four nodes it names share the least distance.
struct LatticeOffset {
  double least_distance2 = 0;  // no pair of nodes so offset computes a smaller squared distance
  std::uint32_t di = 0;
  std::uint32_t dj = 0;
};

// The offsets (di, dj) with di < nx and dj < ny whose least squared distance is at most
// `max_distance2`, in ascending least distance. At most nx * ny of them; nx and ny must fit in
// 32 bits and the node positions be finite (node_positions_finite).
[[nodiscard]] std::vector<LatticeOffset> lattice_offsets_within(const Lattice& lattice,
                                                                double max_distance2);

// Whether every node position of the lattice is finite, its rounding bounded.
[[nodiscard]] bool node_positions_finite(const Lattice& lattice);

}  // namespace zorvatools
