#pragma once
// The informed nodes of a lattice, each with its value, and the search for the ones nearest a
// node: a spiral over the lattice's offsets, nearest first, that reads which nodes are informed
// straight from a bitmap. Informed nodes are numbered in the order they were informed; the
// search ranks them by the squared Euclidean distance computed from the two node positions, ties
// by that number, exactly as a nearest-neighbour walk over the same positions does.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "zorvatools/foundation/array2d.hpp"
#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/geostat/lattice_offsets.hpp"

namespace zorvatools {

class LatticeNeighbours {
 public:
  struct Hit {
    double distance2 = 0;     // squared distance from the node searched around
    std::uint32_t index = 0;  // how many nodes were informed before this one
    std::uint32_t node = 0;   // i * ny + j
    std::uint32_t i = 0;
    std::uint32_t j = 0;
    Point2 position;
    double value = 0;
  };

  // Nothing informed yet. A search takes at most `max_count` nodes, none farther than
  // sqrt(max_distance2) (one exactly that far is taken). The lattice must have fewer than 2^32
  // nodes, at finite positions (node_positions_finite).
  LatticeNeighbours(const Lattice& lattice, double max_distance2, std::size_t max_count);

  [[nodiscard]] std::size_t node(std::size_t i, std::size_t j) const { return i * ny_ + j; }
  // Lattice::node_xy(i, j), to the bit: it sums a part that depends on i alone and one that
  // depends on j alone, so one table of each serves every node.
  [[nodiscard]] Point2 position(std::size_t i, std::size_t j) const {
    return {along_i_[i].x + along_j_[j].x, along_i_[i].y + along_j_[j].y};
  }
  // The two tables behind position(): node_xy(i, 0), and node_xy(0, j) with the origin at (0, 0).
  [[nodiscard]] std::span<const Point2> along_i() const { return along_i_; }
  [[nodiscard]] std::span<const Point2> along_j() const { return along_j_; }
  // The most nodes along i, and along j, between a node and any node a search around it can find.
  [[nodiscard]] std::size_t reach_i() const { return reach_i_; }
  [[nodiscard]] std::size_t reach_j() const { return reach_j_; }
  [[nodiscard]] bool informed(std::size_t i, std::size_t j) const {
    return (block_bits(i / kBlock, j / kBlock) >> bit_in_block(i, j) & 1) != 0;
  }
  [[nodiscard]] std::size_t informed_count() const { return informed_count_; }

  // Informs the node, which must not be informed yet; it takes the next number.
  void inform(std::size_t i, std::size_t j, double value);
  // Replaces the value of an informed node (searches read values only for the nodes they keep).
  void set_value(std::size_t i, std::size_t j, double value);

  // The informed nodes nearest node (i, j), nearest first, ties by ascending number; valid
  // until the next search.
  [[nodiscard]] std::span<const Hit> nearest(std::size_t i, std::size_t j);

  // Asks for what a search around node (i, j) reads first, so that a search started a little
  // later finds it in cache.
  void prefetch_around(std::size_t i, std::size_t j) const;

  // Every node's value, NaN where not informed; leaves the values empty.
  [[nodiscard]] Array2D<double> take_values() { return std::move(values_); }

 private:
  // Which nodes are informed, kept by blocks of 8 x 8 nodes: one word per block, bit 8 a + b
  // for node (8 bi + a, 8 bj + b). A sparsely informed lattice is searched block by block.
  static constexpr std::size_t kBlock = 8;

  [[nodiscard]] std::uint64_t block_bits(std::size_t bi, std::size_t bj) const {
    return informed_bits_[bi * blocks_y_ + bj];
  }
  [[nodiscard]] static unsigned bit_in_block(std::size_t i, std::size_t j) {
    return static_cast<unsigned>(i % kBlock * kBlock + j % kBlock);
  }

  // The two spirals, over nodes and over blocks: they find the same nodes, the one over blocks
  // faster while few nodes are informed. `bound` is the farthest squared distance still taken.
  void search_nodes(std::size_t i, std::size_t j, Point2 from, double& bound);
  void search_blocks(std::size_t i, std::size_t j, Point2 from, double& bound);
  // The spiral over nodes where every pair of nodes one offset apart computes one distance: over
  // single signed offsets, their distances known beforehand.
  void search_exact(std::size_t i, std::size_t j, double& bound);
  // Offers node (i, j), informed, to the hits; tightens the bound once they are full.
  void consider(std::size_t i, std::size_t j, Point2 from, double& bound);
  // A node found, while the search runs: the little it needs to rank the node.
  struct Candidate {
    double distance2;
    std::uint32_t index;
    std::uint32_t i;
    std::uint32_t j;
  };
  void build_exact_offsets();
  // Adds the node to the candidates, unless they are full and it ranks after all of them.
  void take(const Candidate& found);

  std::size_t nx_ = 0;
  std::size_t ny_ = 0;
  std::size_t blocks_x_ = 0;
  std::size_t blocks_y_ = 0;
  double max_distance2_ = 0;
  std::vector<Point2> along_i_;               // node_xy(i, 0)
  std::vector<Point2> along_j_;               // node_xy(0, j) with the origin at (0, 0)
  std::vector<std::uint64_t> informed_bits_;  // per block
  std::vector<std::uint32_t> index_;          // per node: its number, where informed
  Array2D<double> values_;
  std::size_t informed_count_ = 0;
  std::vector<LatticeOffset> offsets_;  // between nodes
  std::size_t reach_i_ = 0;             // the largest di, and dj, of the offsets
  std::size_t reach_j_ = 0;
  std::vector<LatticeOffset> block_offsets_;  // between blocks
  // Where the node positions give exact lags: the offsets within the radius, each sign apart,
  // with the squared distance every pair of nodes so offset computes, in ascending distance.
  struct SignedOffset {
    double distance2;
    std::int32_t di;
    std::int32_t dj;
  };
  std::vector<SignedOffset> exact_offsets_;
  std::vector<Candidate> collected_;  // what a search over them collects, ties to the last too
  bool exact_ = false;
  std::vector<Candidate> candidates_;  // sized once: the most a search can take
  std::size_t candidate_count_ = 0;
  std::vector<Hit> hits_;           // the candidates kept, with their positions and values
  std::size_t prefetch_reach_ = 0;  // nodes either side a search reads once most are informed
};

}  // namespace zorvatools
