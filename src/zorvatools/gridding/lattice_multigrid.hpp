#pragma once
// A multigrid V-cycle for a lattice system whose unknowns are the free nodes of an nx x ny
// lattice. Each coarser lattice keeps every other node along both axes; corrections are carried
// between lattices by cubic interpolation (exact for cubics, enough for a fourth-order operator,
// where linear transfers are not). The coarse operators are Galerkin products P^T A P of a
// symmetric surrogate of the fine system: 0.75 L^T L + 0.25 G^T G, with L the 5-point Laplacian
// of every node (ghost nodes by linear extrapolation, so planes have none) and G the difference
// along every lattice edge, restricted to the free nodes. Its rows equal the fine system's at
// least two nodes from the edges. The interpolation into the fine lattice is zero at the anchors,
// which the products then carry exactly to every level; every coarse operator is symmetric
// positive definite, so symmetric Gauss-Seidel (forward before, backward after the coarse
// correction) converges on each. The fine level smooths with the fine system itself; the
// coarsest is factored once. Serial, so its results never depend on the thread count.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "zorvatools/gridding/compressed_rows.hpp"
#include "zorvatools/gridding/sparse_lu.hpp"

namespace zorvatools {

// Systems this small are factored rather than coarsened.
inline constexpr std::size_t kMultigridCoarsestUnknowns = 4000;

struct MultigridLevels;  // the matrices and scratch of every lattice; shared by copies

class LatticeMultigrid {
 public:
  // `a`: the fine system, one row per free node; `node_free`: each lattice node's (i * ny + j)
  // row, -1 for a fixed node. Fails when the
  // coarsest system cannot be factored. Lattices of at most `coarsest_unknowns` unknowns are not
  // coarsened further.
  static std::expected<LatticeMultigrid, SparseLuFailure> build(
      const CompressedRows& a, std::size_t nx, std::size_t ny,
      std::span<const std::int32_t> node_free,
      std::size_t coarsest_unknowns = kMultigridCoarsestUnknowns);

  // z = one V-cycle for the fine system `a` (the one it was built from) applied to r from a zero
  // start: an approximate inverse of `a`. Reuses the hierarchy's scratch: one caller at a time.
  void apply(const CompressedRows& a, std::span<const double> r, std::span<double> z) const;

  [[nodiscard]] std::size_t level_count() const;
  // Stored matrix entries over the coarse levels and transfers, the coarsest factors excluded.
  [[nodiscard]] std::uint64_t operator_entries() const;

 private:
  explicit LatticeMultigrid(std::shared_ptr<MultigridLevels> levels) : levels_(std::move(levels)) {}
  std::shared_ptr<MultigridLevels> levels_;
};

// Peak bytes of building the hierarchy for a fine system of n unknowns, as a bound to check
// before building.
std::uint64_t multigrid_bytes_estimate(std::uint64_t n);

// The surrogate 0.75 L^T L + 0.25 G^T G of an nx x ny lattice restricted to its free nodes, rows
// and columns numbered by `node_free` (-1 for fixed nodes), `free_nodes` listing each row's node.
CompressedRows surrogate_rows(std::size_t nx, std::size_t ny,
                              std::span<const std::int32_t> node_free,
                              std::span<const std::size_t> free_nodes);

// Weights of the 1-D interpolation from a coarse axis of (n + 1) / 2 nodes (node k at fine 2k)
// to fine node i of an n-node axis: cubic Lagrange on the four nearest coarse nodes, shifted
// inwards near the ends, quadratic when extrapolating past the last coarse node. Returns the
// first coarse node; `weights` gets one weight per node from it.
std::size_t interpolation_weights(std::size_t n, std::size_t i, std::vector<double>& weights);

}  // namespace zorvatools
