// The sine-and-hat transform of a lattice and the whole-lattice solver built on it, checked
// against the assembled stencil rows.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "test_support.hpp"
#include "zorvatools/gridding/sine_transform.hpp"
#include "zorvatools/gridding/stencil_rows.hpp"
#include "zorvatools/gridding/whole_lattice_solver.hpp"

namespace zorvatools {
namespace {

struct Shape {
  std::size_t nx, ny;
};
const Shape kShapes[] = {{2, 2}, {2, 6}, {6, 2}, {3, 3}, {3, 8}, {9, 4}, {17, 12}, {12, 17}};

std::vector<double> random_values(std::size_t count, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(-1, 1);
  std::vector<double> v(count);
  for (double& x : v) x = unit(rng);
  return v;
}

double largest_abs(const std::vector<double>& v) {
  double m = 0;
  for (double x : v) m = std::fmax(m, std::fabs(x));
  return m;
}

// Second difference with zero end rows along the first axis of an n1 x n2 array.
std::vector<double> second_difference_along_rows(const std::vector<double>& v, std::size_t n1,
                                                 std::size_t n2) {
  std::vector<double> out(v.size(), 0.0);
  for (std::size_t i = 1; i + 1 < n1; ++i) {
    for (std::size_t k = 0; k < n2; ++k) {
      out[i * n2 + k] = v[(i - 1) * n2 + k] - 2 * v[i * n2 + k] + v[(i + 1) * n2 + k];
    }
  }
  return out;
}

TEST(LatticeSineTransform, InvertsAndDiagonalisesTheSecondDifference) {
  for (const Shape& s : kShapes) {
    LatticeSineTransform t(s.nx, s.ny);
    const std::vector<double> z = random_values(s.nx * s.ny, 3);
    std::copy(z.begin(), z.end(), t.values().begin());
    t.forward();
    const std::vector<double> coefficients(t.values().begin(), t.values().end());
    t.inverse();
    for (std::size_t p = 0; p < z.size(); ++p) {
      EXPECT_NEAR(t.values()[p], z[p], 1e-13) << s.nx << "x" << s.ny;
    }
    // The transform of G z is lambda times the transform of z, hats included (their lambda is 0).
    const std::vector<double> gz = second_difference_along_rows(z, s.nx, s.ny);
    std::copy(gz.begin(), gz.end(), t.values().begin());
    t.forward();
    for (std::size_t i = 0; i < s.nx; ++i) {
      const double lambda = second_difference_eigenvalue(s.nx, i);
      for (std::size_t k = 0; k < s.ny; ++k) {
        EXPECT_NEAR(t.values()[i * s.ny + k], lambda * coefficients[i * s.ny + k], 1e-13)
            << s.nx << "x" << s.ny << " at " << i << "," << k;
      }
    }
  }
}

TEST(LatticeSineTransform, UnitCoefficientsAreTheTransformOfAUnitVector) {
  for (const std::size_t n : {2, 3, 4, 9, 30}) {
    LatticeSineTransform t(n, 2);
    std::vector<double> unit(n);
    for (std::size_t node = 0; node < n; ++node) {
      std::fill(t.values().begin(), t.values().end(), 0.0);
      t.values()[node * 2] = 1;  // the same unit vector in both columns
      t.values()[node * 2 + 1] = 1;
      t.forward();
      unit_coefficients(n, node, unit);
      for (std::size_t m = 0; m < n; ++m) {
        EXPECT_NEAR(t.values()[m * 2], unit[m], 1e-14) << n << " node " << node << " m " << m;
      }
    }
  }
}

// A' z: the assembled stencil of the whole lattice plus the corner values along their hats.
std::vector<double> apply_patched_operator(std::size_t nx, std::size_t ny,
                                           const std::vector<double>& z) {
  std::vector<std::int32_t> fixed(nx * ny, -1), free_index(nx * ny);
  std::vector<std::size_t> nodes(nx * ny);
  for (std::size_t n = 0; n < nx * ny; ++n) {
    free_index[n] = static_cast<std::int32_t>(n);
    nodes[n] = n;
  }
  const StencilSystem system =
      assemble_stencil(nx, ny, StencilWeights::at_level(0), fixed, free_index, nodes, false);
  std::vector<double> out(nx * ny);
  system.rows.multiply(z, out);
  const double corner[4] = {z[0], z[ny - 1], z[(nx - 1) * ny], z[nx * ny - 1]};
  for (std::size_t i = 0; i < nx; ++i) {
    const double u = double(i) / double(nx - 1);
    for (std::size_t j = 0; j < ny; ++j) {
      const double v = double(j) / double(ny - 1);
      out[i * ny + j] += (1 - u) * (1 - v) * corner[0] + (1 - u) * v * corner[1] +
                         u * (1 - v) * corner[2] + u * v * corner[3];
    }
  }
  return out;
}

const WholeLatticeSolver::Weights kWeights{0.75, 0.25};

TEST(WholeLatticeSolver, SolvesThePatchedOperatorOnEveryShape) {
  for (const Shape& s : kShapes) {
    ASSERT_OK_AND_ASSIGN(WholeLatticeSolver solver,
                         WholeLatticeSolver::build(s.nx, s.ny, kWeights));
    const std::vector<double> r = random_values(s.nx * s.ny, 7);
    std::vector<double> z = r;
    solver.solve(z);
    const std::vector<double> back = apply_patched_operator(s.nx, s.ny, z);
    double worst = 0;
    for (std::size_t p = 0; p < r.size(); ++p) worst = std::fmax(worst, std::fabs(back[p] - r[p]));
    EXPECT_LE(worst, 1e-11 * largest_abs(r)) << s.nx << "x" << s.ny;
    // The Green's function of a node is the solve of its unit vector, whole or read at a few
    // nodes (two on one row, the corners, repeats).
    const std::vector<std::size_t> targets = {
        0, s.ny - 1, s.nx * s.ny - 1, s.ny + 1, s.ny + 1, s.ny, s.nx * s.ny / 2, (s.nx - 1) * s.ny};
    const NodeSamples samples = solver.samples_at(targets);
    for (const std::size_t node : {std::size_t{0}, s.ny + 1, s.nx * s.ny - 1, s.nx * s.ny / 2}) {
      std::vector<double> unit(s.nx * s.ny, 0.0), green(s.nx * s.ny), sampled(targets.size());
      unit[node] = 1;
      solver.solve(unit);
      solver.solve_unit(node, green);
      solver.solve_unit_at(node, samples, sampled);
      for (std::size_t p = 0; p < green.size(); ++p) {
        EXPECT_NEAR(green[p], unit[p], 1e-12 * largest_abs(unit)) << s.nx << "x" << s.ny;
      }
      for (std::size_t t = 0; t < targets.size(); ++t) {
        EXPECT_NEAR(sampled[t], unit[targets[t]], 1e-12 * largest_abs(unit))
            << s.nx << "x" << s.ny << " sample " << t;
      }
    }
  }
}

TEST(WholeLatticeSolver, ACopySharesTheFactorsAndSolvesOnItsOwnScratch) {
  ASSERT_OK_AND_ASSIGN(WholeLatticeSolver solver, WholeLatticeSolver::build(31, 24, kWeights));
  WholeLatticeSolver copy = solver;
  const std::vector<double> r = random_values(31 * 24, 9);
  std::vector<double> a = r, b = r;
  solver.solve(a);
  copy.solve(b);
  EXPECT_EQ(a, b);
  // Interleaved solves do not disturb each other.
  std::vector<double> c = r, d = r;
  for (double& x : d) x *= 2;
  copy.solve(d);
  solver.solve(c);
  EXPECT_EQ(c, a);
}

}  // namespace
}  // namespace zorvatools
