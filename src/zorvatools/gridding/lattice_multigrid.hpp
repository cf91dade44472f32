#pragma once
// A multigrid V-cycle for a lattice system whose unknowns are the free nodes of an nx x ny
// lattice: each coarser lattice keeps every other node along both axes, corrections are carried
// between lattices by cubic interpolation (exact for cubics, enough for a fourth-order operator,
// where linear transfers are not), each coarse lattice carries the same stencil and edge rule
// scaled to its spacing plus a penalty that holds corrections near zero at the anchors,
// Gauss-Seidel smooths, and the coarsest system is factored once. Used as the preconditioner of
// the Krylov solve; serial, so its results never depend on the thread count.
//
// Galerkin products of the stencil are not used: its edge rows are not symmetric, and after a
// few levels the products lose positive diagonals near the edges, where Gauss-Seidel diverges.

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
inline constexpr std::size_t kMultigridCoarsestUnknowns = 25000;

struct MultigridLevels;  // the matrices and scratch of every lattice; shared by copies

class LatticeMultigrid {
 public:
  // `a`: the fine system, one row per free node; `node_fixed`: each lattice node's (i * ny + j)
  // fixed index, -1 for a free node; `node_free`: its row, -1 for a fixed node. Fails when the
  // coarsest system cannot be factored. Lattices of at most `coarsest_unknowns` unknowns are not
  // coarsened further.
  static std::expected<LatticeMultigrid, SparseLuFailure> build(
      const CompressedRows& a, std::size_t nx, std::size_t ny,
      std::span<const std::int32_t> node_fixed, std::span<const std::int32_t> node_free,
      std::size_t coarsest_unknowns = kMultigridCoarsestUnknowns);

  // z = one V-cycle applied to r from a zero start: an approximate inverse of the fine system.
  // Works in the hierarchy's own scratch, which copies share: their cycles run one at a time.
  void apply(std::span<const double> r, std::span<double> z) const;

  [[nodiscard]] std::size_t level_count() const;
  // Stored matrix entries over all levels, the coarsest factors excluded.
  [[nodiscard]] std::uint64_t operator_entries() const;

 private:
  explicit LatticeMultigrid(std::shared_ptr<MultigridLevels> levels) : levels_(std::move(levels)) {}
  std::shared_ptr<MultigridLevels> levels_;
};

// Bytes of the hierarchy for a fine system of n unknowns, as a bound to check before building.
std::uint64_t multigrid_bytes_estimate(std::uint64_t n);

// Weights of the 1-D interpolation from a coarse axis of (n + 1) / 2 nodes (node k at fine 2k)
// to fine node i of an n-node axis: cubic Lagrange on the four nearest coarse nodes, shifted
// inwards near the ends, quadratic when extrapolating past the last coarse node. Returns the
// first coarse node; `weights` gets one weight per node from it.
std::size_t interpolation_weights(std::size_t n, std::size_t i, std::vector<double>& weights);

}  // namespace zorvatools
