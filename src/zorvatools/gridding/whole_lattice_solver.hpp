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
// line; the rest is a dense system of twice the shorter axis, factored once. A solve costs two
// lattice transforms, a few passes over the lattice and one dense substitution.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/gridding/dense_lu.hpp"
#include "zorvatools/gridding/sine_transform.hpp"

namespace zorvatools {

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
  // Bytes held while building (the solver keeps about half of it).
  static std::uint64_t bytes_estimate(std::size_t nx, std::size_t ny);

  [[nodiscard]] std::size_t nx() const { return nx_; }
  [[nodiscard]] std::size_t ny() const { return ny_; }
  // values = A'^-1 values, nodes i * ny + j.
  void solve(std::span<double> values);
  // out = A'^-1 e_node.
  void solve_unit(std::size_t node, std::span<double> out);

 private:
  WholeLatticeSolver(std::size_t nx, std::size_t ny, Weights weights);
  [[nodiscard]] AlgoResult<void> factor_capacitance();
  void load(std::span<const double> values);
  void store(std::span<double> values);
  void solve_coefficients();
  void axis_unit(std::size_t axis, std::size_t node, std::span<double> out) const;

  std::size_t nx_, ny_;
  std::size_t n1_, n2_;  // the shorter axis, then the longer (the transform's rows and columns)
  bool transposed_;      // the shorter axis is j
  Weights weights_;
  LatticeSineTransform transform_;
  std::vector<double> dinv_;  // 1 / f(lambda1 + lambda2), 1 at the four corner coefficients
  // Coefficients of the unit vectors at the two ends of each axis (p), and the edge rows'
  // excess of P over G^2 in coefficients (q).
  std::array<std::vector<double>, 2> p1_, q1_, p2_, q2_;
  std::vector<double> caa_inv_;   // per column: the inverse 2 x 2 capacitance of the row edges
  std::optional<DenseLu> schur_;  // the column edges' capacitance after eliminating the rows'
  std::vector<double> ta_, tb_, sa_, acc_;  // solve scratch
  std::vector<double> unit1_, unit2_;
};

}  // namespace zorvatools
