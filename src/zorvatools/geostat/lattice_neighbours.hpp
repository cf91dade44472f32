#pragma once
// The informed nodes of a lattice and the search for the ones nearest a node: a spiral over the
// lattice's node offsets, nearest first, that reads which nodes are informed straight from a
// grid. Informed nodes are numbered in the order they were informed; the search ranks them by
// the squared Euclidean distance computed from the two node positions, ties by that number,
// exactly as a nearest-neighbour walk over the same positions does.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/geostat/lattice_offsets.hpp"

namespace zorvatools {

class LatticeNeighbours {
 public:
  struct Hit {
    double distance2 = 0;     // squared distance from the node searched around
    std::uint32_t index = 0;  // how many nodes were informed before this one
    std::uint32_t node = 0;   // i * ny + j
  };

  // Nothing informed yet. A search takes at most `max_count` nodes, none farther than
  // sqrt(max_distance2) (one exactly that far is taken). The lattice must have fewer than 2^32
  // nodes, at finite positions (node_positions_finite).
  LatticeNeighbours(const Lattice& lattice, double max_distance2, std::size_t max_count);

  [[nodiscard]] std::size_t node(std::size_t i, std::size_t j) const { return i * ny_ + j; }
  // Lattice::node_xy of the node.
  [[nodiscard]] Point2 position(std::size_t node) const { return positions_[node]; }
  [[nodiscard]] bool informed(std::size_t node) const { return index_[node] != kUninformed; }
  [[nodiscard]] std::size_t informed_count() const { return informed_count_; }

  // Informs the node, which must not be informed yet; it takes the next number.
  void inform(std::size_t node);

  // The informed nodes nearest node (i, j), nearest first, ties by ascending number; valid
  // until the next search.
  [[nodiscard]] std::span<const Hit> nearest(std::size_t i, std::size_t j);

 private:
  static constexpr std::uint32_t kUninformed = std::numeric_limits<std::uint32_t>::max();

  // Offers the node to the hits if it is informed; `bound` is the farthest squared distance
  // still taken, tightened once the hits are full.
  void consider(std::size_t node, Point2 from, double& bound);

  std::size_t nx_ = 0;
  std::size_t ny_ = 0;
  double max_distance2_ = 0;
  std::vector<Point2> positions_;     // per node
  std::vector<std::uint32_t> index_;  // per node: its number, or kUninformed
  std::size_t informed_count_ = 0;
  std::vector<LatticeOffset> offsets_;
  std::vector<Hit> hits_;  // sized once: the most a search can take
  std::size_t hit_count_ = 0;
};

}  // namespace zorvatools
