#pragma once
// The minimum-curvature operator of a whole lattice, every node free, made invertible by adding
// the corner values along its bilinear null space: A' z = A z + sum over corners c of
// z(c) * hat_c, with hat_c the bilinear that is 1 at corner c and 0 at the other three.
//
// A is b (P (x) I + I (x) P + 2 G (x) G) - t (G (x) I + I (x) G), with G the second difference
// whose end rows are zero and P = G^T G (the stencil with its edge taps extrapolated). P differs
// from G^2 only in its two end rows, so A is f(G (x) I + I (x) G), f(s) = b s^2 - t s, plus the
// edge rows. The sine transforms diagonalise f(...); a capacitance system with one unknown per
// edge node and edge row puts the edge rows back. Its part along the longer axis is 2 x 2 per
// line; the rest, of twice the shorter axis, falls into four dense blocks by the lattice's
// mirror symmetries, factored once. A solve costs two lattice transforms, a few passes over the
// lattice and four small dense substitutions.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/gridding/sine_transform.hpp"

namespace zorvatools {

// Nodes at which Green's functions are read (see WholeLatticeSolver::solve_unit_at): each
// node's column in the transform and a slot holding the first-axis basis at its row, shared by
// the nodes of one row.
struct NodeSamples {
  std::vector<std::size_t> row, column;
  std::vector<std::uint32_t> slot;
  std::size_t slots = 0;
  std::vector<double> basis;  // basis[m * slots + s]: first-axis coefficient m at slot s's row
};

class WholeLatticeSolver {
 public:
  // Biharmonic weight b and tension weight t of the operator above, t >= 0 < b.
  struct Weights {
    double biharmonic = 0;
    double tension = 0;
  };

  // Fails with Interrupted when the call is stopped, and with the singular-system text when the
  // capacitance system cannot be factored. Throws std::bad_alloc when memory runs out.
  static AlgoResult<WholeLatticeSolver> build(std::size_t nx, std::size_t ny, Weights weights);
  // Bytes held while building: the factors (about half of it) and one solver's scratch.
  static std::uint64_t bytes_estimate(std::size_t nx, std::size_t ny);
  // Bytes of one more solver's scratch (a copy shares the factors).
  static std::uint64_t scratch_bytes(std::size_t nx, std::size_t ny);

  [[nodiscard]] std::size_t nx() const;
  [[nodiscard]] std::size_t ny() const;
  // values = A'^-1 values, nodes i * ny + j.
  void solve(std::span<double> values);
  // out = A'^-1 e_node.
  void solve_unit(std::size_t node, std::span<double> out);
  // out[t] = (A'^-1 e_node) at sample t. A few samples cost half a transform and one pass over
  // the lattice per sampled row instead of a whole inverse transform.
  [[nodiscard]] NodeSamples samples_at(std::span<const std::size_t> nodes) const;
  void solve_unit_at(std::size_t node, const NodeSamples& samples, std::span<double> out);

 private:
  struct Factors;
  explicit WholeLatticeSolver(std::shared_ptr<const Factors> factors);
  void load(std::span<const double> values);
  void store(std::span<double> values);
  void copy_nodes(std::span<const double> from, std::span<double> to, bool into_transform) const;
  void load_unit(std::size_t node);
  // On the transform's values, or (from_unit) on the loaded unit vector's coefficients.
  void solve_coefficients(bool from_unit);

  std::shared_ptr<const Factors> factors_;
  LatticeSineTransform transform_;
  std::vector<double> ta_, tb_, sa_, acc_, edge_scratch_;  // solve scratch
  std::vector<double> unit1_, unit2_;
};

}  // namespace zorvatools
