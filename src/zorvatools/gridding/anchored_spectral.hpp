#pragma once
// The minimum-curvature system with anchors, solved through the whole-lattice solver instead of
// a factorisation of the system itself. With w = A'^-1 r (r: the free rows' right-hand side,
// zero at the anchors), the surface is
//   z = w + A'^-1 (sum over anchors a of beta_a e_a) + sum over corners c of gamma_c hat_c,
// which meets every free row for any beta, gamma with zero corner values of the A'^-1 part (A'
// is A there). beta and gamma come from a dense system of order anchors + 4, built from one
// whole-lattice solve per anchor (its Green's function):
//   [ G(anchors)   hat(anchors) ] [beta ]   [ v - w(anchors) ]
//   [ G(corners)   0            ] [gamma] = [ -w(corners)    ]
// so the work grows with the anchors, not with the lattice's fill.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/gridding/dense_lu.hpp"
#include "zorvatools/gridding/whole_lattice_solver.hpp"

namespace zorvatools {

class AnchoredSpectralSolver {
 public:
  // Fails with Interrupted when the call is stopped and with the singular-system text when the
  // anchors do not pin the surface. Throws std::bad_alloc when memory runs out.
  static AlgoResult<AnchoredSpectralSolver> build(std::size_t nx, std::size_t ny,
                                                  std::span<const std::size_t> anchor_nodes,
                                                  WholeLatticeSolver::Weights weights);
  static std::uint64_t bytes_estimate(std::size_t nx, std::size_t ny, std::size_t anchors);

  // The surface (nodes i * ny + j) taking `anchor_values` at the anchors whose free rows equal
  // `node_rhs` (nodes; its anchor entries are ignored; empty for zero).
  void solve(std::span<const double> anchor_values, std::span<const double> node_rhs,
             std::span<double> out);

 private:
  AnchoredSpectralSolver(WholeLatticeSolver whole, std::span<const std::size_t> anchor_nodes);
  [[nodiscard]] double corner_hat(std::size_t corner, std::size_t node) const;

  WholeLatticeSolver whole_;
  std::vector<std::size_t> anchors_;
  std::size_t corners_[4];
  std::optional<DenseLu> system_;  // order anchors + 4
  std::vector<double> w_, coefficients_;
};

}  // namespace zorvatools
