#pragma once
// The assembled and factored minimum-curvature system: free nodes are the unknowns, anchors feed
// the right-hand side.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zorvatools/foundation/array2d.hpp"
#include "zorvatools/foundation/error.hpp"
#include "zorvatools/gridding/band_lu.hpp"

namespace zorvatools {

// Lattice nodes holding at least one sample, numbered in order of first appearance. Nodes are
// numbered i * ny + j, as in Array2D.
struct AnchorSet {
  std::vector<std::int32_t> node_anchor;  // anchor index of every node, -1 for none
  std::vector<std::size_t> nodes;         // node of each anchor
  std::vector<double> values;             // mean depth of the samples snapped to each anchor
};

inline constexpr const char* kSingularSystemText =
    "MinCurvatureOperator: conditioning system is singular (too few / collinear hard anchors to "
    "pin the surface)";

class MinCurvatureOperator {
 public:
  // Assembles the stencil rows of every free node on an nx x ny lattice (both >= 2) and factors
  // them; fails with the singular-system text when the band cannot be factored.
  static AlgoResult<MinCurvatureOperator> assemble(std::size_t nx, std::size_t ny,
                                                   const AnchorSet& anchors);

  // The surface pinned to `anchor_values` (one per anchor): anchors take their values, free
  // nodes the solution. Borrows the right-hand-side scratch for the duration of the call.
  Array2D<double> solve(std::span<const double> anchor_values);

  [[nodiscard]] std::size_t free_count() const { return free_nodes_.size(); }
  [[nodiscard]] const BandLu& band() const { return lu_; }

 private:
  struct Coupling {
    std::int32_t anchor;
    double weight;
  };

  MinCurvatureOperator(std::size_t nx, std::size_t ny, const AnchorSet& anchors);
  void number_free_nodes();
  void assemble_rows();
  // Adds one weighted stencil tap of `row`, expanded through edge extrapolation onto real nodes.
  void accumulate(std::uint32_t row, std::int64_t i, std::int64_t j, double weight);
  [[nodiscard]] std::size_t half_bandwidth() const;
  [[nodiscard]] bool factor();

  std::size_t nx_;
  std::size_t ny_;
  std::size_t anchor_count_;
  std::vector<std::int32_t> node_anchor_;
  std::vector<std::int32_t> node_free_;
  std::vector<std::size_t> free_nodes_;
  SparseEntries entries_;                    // released once factored
  std::vector<std::size_t> coupling_start_;  // row r's couplings: [start[r], start[r + 1])
  std::vector<Coupling> couplings_;
  BandLu lu_;
  std::vector<double> rhs_;
};

}  // namespace zorvatools
