#pragma once
// Node offsets of a lattice, nearest first, for searches that spiral out from a node. Each offset
// carries the least squared distance that any two nodes so far apart can compute from their
// positions, rounding of the positions and of the distance included: a search can stop at the
// first offset whose least distance exceeds what it still accepts, and never miss a node whose
// computed distance would have ranked, ties included.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "zorvatools/foundation/array2d.hpp"
#include "zorvatools/foundation/lattice.hpp"

namespace zorvatools {

// An offset of (+-di, +-dj) nodes, or blocks of nodes: the four it names share the least
// distance.
struct LatticeOffset {
  double least_distance2 = 0;  // no pair of nodes so offset computes a smaller squared distance
  std::uint32_t di = 0;
  std::uint32_t dj = 0;
};

// The least squared distance of every offset (di, dj), di < nx and dj < ny, as element (di, dj).
// nx and ny must fit in 32 bits and the node positions be finite (node_positions_finite).
[[nodiscard]] Array2D<double> least_distances2(const Lattice& lattice);

// The least squared distances between blocks of `block` x `block` nodes (block (bi, bj) holds
// nodes (bi block + a, bj block + b), a, b < block): element (di, dj) is the least over every
// pair of nodes, one in a block and one in a block di blocks and dj blocks away.
[[nodiscard]] Array2D<double> block_least_distances2(const Array2D<double>& least,
                                                     std::size_t block);

// The offsets whose least distance is at most `max_distance2`, in ascending least distance.
[[nodiscard]] std::vector<LatticeOffset> offsets_within(const Array2D<double>& least,
                                                        double max_distance2);

// Whether every node position of the lattice is finite, its rounding bounded.
[[nodiscard]] bool node_positions_finite(const Lattice& lattice);

}  // namespace zorvatools
