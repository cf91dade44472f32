// The iterative path of the minimum-curvature system (GMRES preconditioned by a lattice
// multigrid cycle): its interpolation, its agreement with the direct factorisation, restarts from
// a converged surface, the memory check and stopping a call.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>

#include "surface_differences.hpp"
#include "test_support.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/gridding/krylov.hpp"
#include "zorvatools/gridding/lattice_multigrid.hpp"
#include "zorvatools/gridding/min_curvature.hpp"
#include "zorvatools/gridding/relaxation.hpp"
#include "zorvatools/gridding/sparse_lu.hpp"

namespace zorvatools {
namespace {

// `count` samples at uniform random nodes (repeats allowed) of a tilted plane with two bumps.
std::vector<Sample> scattered(std::size_t nx, std::size_t ny, std::size_t count, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<std::size_t> pick_i(0, nx - 1), pick_j(0, ny - 1);
  std::vector<Sample> samples;
  for (std::size_t c = 0; c < count; ++c) {
    const auto i = static_cast<double>(pick_i(rng));
    const auto j = static_cast<double>(pick_j(rng));
    const double x = i / double(nx), y = j / double(ny);
    samples.push_back({i, j,
                       2000 + 40 * x - 25 * y +
                           30 * std::exp(-30 * ((x - 0.3) * (x - 0.3) + (y - 0.6) * (y - 0.6))) -
                           18 * std::exp(-50 * ((x - 0.7) * (x - 0.7) + (y - 0.2) * (y - 0.2)))});
  }
  return samples;
}

// Free nodes in the operator's row order: the shorter axis runs fastest.
std::vector<std::size_t> free_rows(std::size_t nx, std::size_t ny, const AnchorSet& anchors) {
  std::vector<std::size_t> rows;
  const bool j_outer = ny >= nx;
  for (std::size_t outer = 0; outer < (j_outer ? ny : nx); ++outer) {
    for (std::size_t inner = 0; inner < (j_outer ? nx : ny); ++inner) {
      const std::size_t node = j_outer ? inner * ny + outer : outer * ny + inner;
      if (anchors.node_anchor[node] < 0) rows.push_back(node);
    }
  }
  return rows;
}

constexpr struct {
  int di, dj;
  double w;
} kTaps[13] = {{0, 0, 16},    {0, 1, -6.25}, {0, -1, -6.25}, {1, 0, -6.25}, {-1, 0, -6.25},
               {1, 1, 1.5},   {-1, 1, 1.5},  {1, -1, 1.5},   {-1, -1, 1.5}, {0, 2, 0.75},
               {0, -2, 0.75}, {2, 0, 0.75},  {-2, 0, 0.75}};

// The stencil equation of node (i, j) through edge extrapolation, in extended precision,
// independent of the operator's assembly: zero at every free node of the exact surface.
long double equation(const Array2D<double>& grid, std::size_t node) {
  const std::size_t ny = grid.ny();
  long double s = 0;
  for (const auto& t : kTaps) {
    s += static_cast<long double>(t.w) *
         z_at(grid, grid.nx(), ny, std::int64_t(node / ny) + t.di, std::int64_t(node % ny) + t.dj);
  }
  return s;
}

// max |A x - b| / (||A|| max |x| + max |b|) over the free nodes, from the stencil equations.
double backward_error_of(const Array2D<double>& grid, const AnchorSet& anchors, double a_norm) {
  Array2D<double> anchored(grid.nx(), grid.ny(), 0.0);
  for (std::size_t k = 0; k < anchors.nodes.size(); ++k) {
    anchored.data()[anchors.nodes[k]] = anchors.values[k];
  }
  double r = 0, x = 0, b = 0;
  for (std::size_t node = 0; node < grid.data().size(); ++node) {
    if (anchors.node_anchor[node] >= 0) continue;
    r = std::fmax(r, std::fabs(static_cast<double>(equation(grid, node))));
    x = std::fmax(x, std::fabs(grid.data()[node]));
    b = std::fmax(b, std::fabs(static_cast<double>(equation(anchored, node))));
  }
  return r / (a_norm * x + b);
}

// The surface solved to the rounding of its depths: the direct solution refined with residuals
// of the stencil equations (13 taps through edge extrapolation, independent of the operator's
// assembly) accumulated in extended precision. Converges as long as the condition number times
// the rounding unit stays below 1; the oracle the two paths are held to.
Array2D<double> refined(const MinCurvatureOperator& direct, Array2D<double> grid,
                        const AnchorSet& anchors) {
  const std::size_t nx = grid.nx(), ny = grid.ny();
  const std::vector<std::size_t> rows = free_rows(nx, ny, anchors);
  auto lu = SparseLu::factor(direct.matrix(), 0.0, UINT64_MAX);
  EXPECT_TRUE(lu.has_value());
  std::vector<double> correction(rows.size());
  for (int step = 0; step < 4; ++step) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
      correction[r] = -static_cast<double>(equation(grid, rows[r]));
    }
    lu->solve_in_place(correction);
    for (std::size_t r = 0; r < rows.size(); ++r) grid.data()[rows[r]] += correction[r];
  }
  return grid;
}

// Interpolation reproduces cubics between coarse nodes and quadratics past the last one, on axes
// of odd and even length, short and long.
class InterpolationWeights : public ::testing::TestWithParam<std::size_t> {};

TEST_P(InterpolationWeights, ReproducePolynomialsOfTheirOrder) {
  const std::size_t n = GetParam();
  const std::size_t coarse = (n + 1) / 2;
  auto cubic = [](double x) { return 3 - 2 * x + 0.5 * x * x - 0.125 * x * x * x; };
  auto quadratic = [](double x) { return 3 - 2 * x + 0.5 * x * x; };
  std::vector<double> w;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t first = interpolation_weights(n, i, w);
    ASSERT_LE(first + w.size(), coarse) << "fine node " << i;
    const double x = static_cast<double>(i) / 2;
    const bool beyond = x > static_cast<double>(coarse - 1);
    // With fewer than four coarse nodes the order drops to what they can carry.
    const bool exact_cubic = !beyond && coarse >= 4;
    const auto p = exact_cubic ? +cubic : +quadratic;
    if (!exact_cubic && coarse < 3) continue;
    double s = 0, sum = 0;
    for (std::size_t k = 0; k < w.size(); ++k) {
      s += w[k] * p(static_cast<double>(first + k));
      sum += w[k];
    }
    EXPECT_NEAR(sum, 1.0, 1e-15) << "n " << n << " fine node " << i;
    EXPECT_NEAR(s, p(x), 1e-12) << "n " << n << " fine node " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Axes, InterpolationWeights,
                         ::testing::Values(5, 6, 7, 8, 9, 10, 17, 32, 101));

MinCurvatureOptions on(MinCurvaturePath path) {
  return {path, 0};
}
// The iterative path with hierarchies of several levels even on the small lattices of a test.
const MinCurvatureOptions kIterative{MinCurvaturePath::Iterative, 0, 400};

struct Shape {
  std::size_t nx, ny, count;
};

// On lattices the direct factorisation solves, the iterative solve gives the same surface.
class IterativeAgreesWithSparseLu : public ::testing::TestWithParam<Shape> {};

TEST_P(IterativeAgreesWithSparseLu, MeetsItsBackwardErrorAndAgreesWhereWellConditioned) {
  const Shape c = GetParam();
  int compared = 0, well_conditioned = 0;
  for (unsigned seed = 1; seed <= 3; ++seed) {
    const auto samples = scattered(c.nx, c.ny, c.count, seed * 131 + unsigned(c.nx));
    const AnchorSet anchors = collect_anchors(samples, Lattice::unit(c.nx, c.ny));
    if (!anchors_pin_bilinear(c.nx, c.ny, anchors)) continue;
    auto direct = MinCurvatureOperator::assemble(c.nx, c.ny, anchors, on(MinCurvaturePath::Sparse));
    ASSERT_TRUE(direct.has_value());
    auto iterative = MinCurvatureOperator::assemble(c.nx, c.ny, anchors, kIterative);
    ASSERT_TRUE(iterative.has_value()) << iterative.error().display();
    ASSERT_TRUE(iterative->uses_iterative());
    ASSERT_OK_AND_ASSIGN(Array2D<double> a, direct->solve(anchors.values));
    ASSERT_OK_AND_ASSIGN(Array2D<double> b, iterative->solve(anchors.values));
    const std::string what = std::to_string(c.nx) + "x" + std::to_string(c.ny) + " with " +
                             std::to_string(c.count) + " samples, seed " + std::to_string(seed) +
                             ", " + std::to_string(iterative->last_iterations()) + " iterations";
    // What the solve promises: the backward error it stops on, checked here independently.
    EXPECT_LE(backward_error_of(b, anchors, direct->matrix().norm_inf()), 2e-14) << what;
    // Where the conditioning lets the direct solve come within 1e-10 of the exact surface, the
    // iterative one comes within 1e-9. (Few anchors on a large lattice leave the direct surface
    // itself farther away, and a backward error of 1e-14 then allows more.)
    const Array2D<double> exact = refined(*direct, a, anchors);
    if (largest_difference(exact, a) <= 1e-10 * largest_abs(exact)) {
      EXPECT_LE(largest_difference(exact, b), 1e-9 * largest_abs(exact)) << what;
      ++well_conditioned;
    }
    for (std::size_t k = 0; k < anchors.nodes.size(); ++k) {
      EXPECT_EQ(b.data()[anchors.nodes[k]], anchors.values[k]);  // anchors exact
    }
    ++compared;
  }
  EXPECT_GE(compared, 2);
  // Lattices with an anchor every few tens of nodes are well conditioned.
  if (c.nx * c.ny <= 40 * c.count) {
    EXPECT_GE(well_conditioned, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Lattices, IterativeAgreesWithSparseLu,
                         ::testing::Values(Shape{6, 6, 8}, Shape{9, 14, 12}, Shape{33, 33, 6},
                                           Shape{40, 40, 50}, Shape{31, 57, 30}, Shape{64, 23, 40},
                                           Shape{90, 90, 50}, Shape{120, 80, 500}, Shape{2, 50, 8},
                                           Shape{110, 110, 15}));

TEST(IterativePath, ARestartFromTheConvergedSurfaceReturnsItUnchanged) {
  const std::size_t n = 80;
  const auto samples = scattered(n, n, 40, 7);
  const Lattice lattice = Lattice::unit(n, n);
  MinCurvatureCache cache;
  const Array2D<double> flat(n, n, 2000.0);
  ASSERT_OK_AND_ASSIGN(Array2D<double> first,
                       grid_min_curvature(samples, lattice, flat, &cache, kIterative));
  ASSERT_TRUE(cache.factored && *cache.factored && (*cache.factored)->uses_iterative());
  EXPECT_GT((*cache.factored)->last_iterations(), 0u);
  ASSERT_OK_AND_ASSIGN(Array2D<double> again,
                       grid_min_curvature(samples, lattice, first, &cache, kIterative));
  EXPECT_EQ((*cache.factored)->last_iterations(), 0u);
  EXPECT_EQ(again.data(), first.data());
  // From another start the answer is the same surface within the tolerance.
  ASSERT_OK_AND_ASSIGN(Array2D<double> other,
                       grid_min_curvature(samples, lattice, Array2D<double>(), &cache, kIterative));
  EXPECT_LE(largest_difference(other, first), 1e-9 * largest_abs(first));
}

TEST(IterativePath, AnchorsThatCannotPinTheSurfaceGoToTheRelaxation) {
  // Four anchors on one row: a singular system, which the iterative path does not attempt.
  const std::size_t n = 24;
  std::vector<Sample> samples;
  for (double i : {2.0, 7.0, 12.0, 20.0}) samples.push_back({i, 5, 100 + i});
  const AnchorSet anchors = collect_anchors(samples, Lattice::unit(n, n));
  auto op = MinCurvatureOperator::assemble(n, n, anchors, kIterative);
  ASSERT_FALSE(op.has_value());
  EXPECT_TRUE(is_singular_system(op.error()));
  ASSERT_OK_AND_ASSIGN(Array2D<double> grid,
                       grid_min_curvature(samples, Lattice::unit(n, n),
                                          Array2D<double>(n, n, 110.0), nullptr, kIterative));
  EXPECT_EQ(grid(7, 5), 107.0);
}

TEST(IterativePath, AHierarchyThatDoesNotFitIsRefusedBeforeItIsBuilt) {
  const std::size_t n = 200;
  const AnchorSet anchors = collect_anchors(scattered(n, n, 50, 3), Lattice::unit(n, n));
  auto op =
      MinCurvatureOperator::assemble(n, n, anchors, {MinCurvaturePath::Iterative, 8u << 20, 400});
  ASSERT_FALSE(op.has_value());
  EXPECT_NE(op.error().text().find("lattice 200x200"), std::string::npos) << op.error().text();
  EXPECT_FALSE(is_singular_system(op.error()));
}

TEST(IterativePath, AStoppedCallEndsTheSolveAndTheRelaxation) {
  class StopAtOnce final : public CallMonitor {
   public:
    bool should_stop() override { return true; }
    void progress(std::string_view, std::uint64_t, std::uint64_t, double) override {}
  } monitor;
  const std::size_t n = 60;
  // Scattered wells take the Krylov loop; four on one row cannot pin the surface and take the
  // relaxation sweeps.
  std::vector<Sample> on_a_row;
  for (double i : {2.0, 17.0, 31.0, 50.0}) on_a_row.push_back({i, 9, 100 + i});
  for (const auto& samples : {scattered(n, n, 30, 5), on_a_row}) {
    const CallScope scope(monitor, std::chrono::nanoseconds(0));
    auto grid =
        grid_min_curvature(samples, Lattice::unit(n, n), Array2D<double>(), nullptr, kIterative);
    ASSERT_FALSE(grid.has_value());
    EXPECT_EQ(grid.error().kind(), AlgoError::Kind::Interrupted);
  }
}

// GMRES on its own: a small nonsymmetric system with the identity as preconditioner is solved to
// the backward error asked for, and a start that already meets it is returned untouched.
TEST(Gmres, ReachesTheBackwardErrorAskedForAndKeepsAConvergedStart) {
  CompressedRows a;
  const std::size_t n = 50;
  a.n = n;
  a.start.push_back(0);
  for (std::size_t r = 0; r < n; ++r) {
    if (r > 0) a.column.push_back(std::int32_t(r - 1)), a.value.push_back(-1.3);
    a.column.push_back(std::int32_t(r)), a.value.push_back(3.0 + 0.01 * double(r));
    if (r + 1 < n) a.column.push_back(std::int32_t(r + 1)), a.value.push_back(-0.6);
    a.start.push_back(std::int64_t(a.column.size()));
  }
  std::vector<double> b(n), x(n, 0.0), r(n);
  for (std::size_t k = 0; k < n; ++k) b[k] = std::sin(double(k));
  const Preconditioner identity = [](std::span<const double> in, std::span<double> out) {
    std::copy(in.begin(), in.end(), out.begin());
  };
  for (const double tolerance : {1e-6, 1e-12, 1e-14}) {
    std::fill(x.begin(), x.end(), 0.0);
    ASSERT_OK_AND_ASSIGN(KrylovOutcome outcome, gmres(a, identity, b, x, {tolerance, 7, 500}));
    EXPECT_TRUE(outcome.converged);
    EXPECT_LE(backward_error(a, a.norm_inf(), b, x, r), tolerance);
    EXPECT_EQ(outcome.backward_error, backward_error(a, a.norm_inf(), b, x, r));
  }
  const std::vector<double> converged = x;
  ASSERT_OK_AND_ASSIGN(KrylovOutcome again, gmres(a, identity, b, x, {1e-12, 7, 500}));
  EXPECT_EQ(again.iterations, 0u);
  EXPECT_EQ(x, converged);
  std::fill(x.begin(), x.end(), 0.0);
  ASSERT_OK_AND_ASSIGN(KrylovOutcome short_of, gmres(a, identity, b, x, {1e-15, 3, 4}));
  EXPECT_FALSE(short_of.converged);
  EXPECT_EQ(short_of.iterations, 4u);
}

}  // namespace
}  // namespace zorvatools
