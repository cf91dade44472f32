// The paths of the minimum-curvature system (the unpivoted band, the pivoting sparse LU and the
// transform solve), the choice between them, the memory check, and the relaxation that serves
// anchors which cannot pin the surface.
#include <gtest/gtest.h>

#include <Eigen/Sparse>
#include <Eigen/SparseLU>

#include <chrono>
#include <cmath>
#include <random>
#include <string>

#include "surface_differences.hpp"
#include "test_support.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/worker_pool.hpp"
#include "zorvatools/gridding/min_curvature.hpp"
#include "zorvatools/gridding/relaxation.hpp"

namespace zorvatools {
namespace {

// Depth of the test surfaces: a tilted plane with two Gaussian bumps, in node units.
double depth(double i, double j, double nx, double ny) {
  const double x = i / nx, y = j / ny;
  return 2000 + 40 * x - 25 * y +
         30 * std::exp(-30 * ((x - 0.3) * (x - 0.3) + (y - 0.6) * (y - 0.6))) -
         18 * std::exp(-50 * ((x - 0.7) * (x - 0.7) + (y - 0.2) * (y - 0.2)));
}

// `count` samples at uniform random nodes (repeats allowed).
std::vector<Sample> scattered(std::size_t nx, std::size_t ny, std::size_t count, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<std::size_t> pick_i(0, nx - 1), pick_j(0, ny - 1);
  std::vector<Sample> samples;
  for (std::size_t c = 0; c < count; ++c) {
    const auto i = static_cast<double>(pick_i(rng));
    const auto j = static_cast<double>(pick_j(rng));
    samples.push_back({i, j, depth(i, j, double(nx), double(ny))});
  }
  return samples;
}

// The 13-tap stencil at node (i, j) of a full surface, through edge extrapolation: the
// equation every free node of a minimum-curvature surface satisfies (= 0), evaluated here
// independently of the operator's assembly.
double stencil_at(const Array2D<double>& g, std::size_t i, std::size_t j) {
  static constexpr struct {
    int di, dj;
    double w;
  } kTaps[13] = {{0, 0, 16},    {0, 1, -6.25}, {0, -1, -6.25}, {1, 0, -6.25}, {-1, 0, -6.25},
                 {1, 1, 1.5},   {-1, 1, 1.5},  {1, -1, 1.5},   {-1, -1, 1.5}, {0, 2, 0.75},
                 {0, -2, 0.75}, {2, 0, 0.75},  {-2, 0, 0.75}};
  double s = 0;
  for (const auto& t : kTaps) {
    s += t.w * z_at(g, g.nx(), g.ny(), std::int64_t(i) + t.di, std::int64_t(j) + t.dj);
  }
  return s;
}

// Largest |stencil| over the free nodes, relative to the largest depth.
double largest_equation_residual(const Array2D<double>& g, const AnchorSet& anchors) {
  double worst = 0;
  for (std::size_t i = 0; i < g.nx(); ++i) {
    for (std::size_t j = 0; j < g.ny(); ++j) {
      if (anchors.node_anchor[i * g.ny() + j] < 0)
        worst = std::fmax(worst, std::fabs(stencil_at(g, i, j)));
    }
  }
  return worst / largest_abs(g);
}

// Free nodes in the operator's row order: the shorter axis runs fastest.
std::vector<std::size_t> free_rows(std::size_t nx, std::size_t ny, const AnchorSet& anchors) {
  std::vector<std::size_t> rows;
  auto visit = [&](std::size_t i, std::size_t j) {
    if (anchors.node_anchor[i * ny + j] < 0) rows.push_back(i * ny + j);
  };
  if (ny >= nx) {
    for (std::size_t j = 0; j < ny; ++j) {
      for (std::size_t i = 0; i < nx; ++i) visit(i, j);
    }
  } else {
    for (std::size_t i = 0; i < nx; ++i) {
      for (std::size_t j = 0; j < ny; ++j) visit(i, j);
    }
  }
  return rows;
}

// An independent solve of the same equations: Eigen's supernodal sparse LU (column ordering,
// partial pivoting) of the operator's matrix, with the right-hand side taken from the stencil
// applied to the anchor values alone.
Array2D<double> independent_solve(const MinCurvatureOperator& op, std::size_t nx, std::size_t ny,
                                  const AnchorSet& anchors) {
  const CompressedRows& a = op.matrix();
  std::vector<Eigen::Triplet<double>> entries;
  for (std::size_t r = 0; r < a.n; ++r) {
    for (auto p = a.start[r]; p < a.start[r + 1]; ++p) {
      entries.emplace_back(static_cast<int>(r), a.column[p], a.value[p]);
    }
  }
  Eigen::SparseMatrix<double> m(static_cast<Eigen::Index>(a.n), static_cast<Eigen::Index>(a.n));
  m.setFromTriplets(entries.begin(), entries.end());
  Array2D<double> anchored(nx, ny, 0.0);
  for (std::size_t k = 0; k < anchors.nodes.size(); ++k) {
    anchored.data()[anchors.nodes[k]] = anchors.values[k];
  }
  const std::vector<std::size_t> rows = free_rows(nx, ny, anchors);
  Eigen::VectorXd b(static_cast<Eigen::Index>(a.n));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    b[static_cast<Eigen::Index>(r)] = -stencil_at(anchored, rows[r] / ny, rows[r] % ny);
  }
  Eigen::SparseLU<Eigen::SparseMatrix<double>> lu;
  lu.compute(m);
  EXPECT_EQ(lu.info(), Eigen::Success);
  Eigen::VectorXd x = lu.solve(b);
  // Refinement with residuals accumulated in extended precision: converges to the exact solution
  // of these equations as long as the condition number times the rounding unit stays below 1.
  for (int step = 0; step < 6; ++step) {
    Eigen::VectorXd r(b.size());
    for (std::size_t row = 0; row < a.n; ++row) {
      long double sum = b[static_cast<Eigen::Index>(row)];
      for (auto p = a.start[row]; p < a.start[row + 1]; ++p) {
        sum -= static_cast<long double>(a.value[p]) * x[a.column[p]];
      }
      r[static_cast<Eigen::Index>(row)] = static_cast<double>(sum);
    }
    x += lu.solve(r);
  }
  Array2D<double> out = anchored;
  for (std::size_t r = 0; r < rows.size(); ++r)
    out.data()[rows[r]] = x[static_cast<Eigen::Index>(r)];
  return out;
}

// `count` wells at uniform random positions on a 9 km square mapped onto an n x n lattice; depth
// a plane plus two Gaussian bumps.
std::vector<Sample> wells_on_square(std::size_t n, std::size_t count, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> metres(0, 9000);
  const double spacing = 9000.0 / static_cast<double>(n - 1);
  std::vector<Sample> samples;
  for (std::size_t c = 0; c < count; ++c) {
    const double x = metres(rng), y = metres(rng);
    const double z = 2000 + 0.004 * x - 0.003 * y +
                     30 * std::exp(-((x - 3000) * (x - 3000) + (y - 5000) * (y - 5000)) / 1.28e6) -
                     20 * std::exp(-((x - 6500) * (x - 6500) + (y - 2000) * (y - 2000)) / 7.2e5);
    samples.push_back({std::round(x / spacing), std::round(y / spacing), z});
  }
  return samples;
}

MinCurvatureOptions on(MinCurvaturePath path) {
  return {path, 0};
}

TEST(MinCurvaturePaths, EveryPathGivesTheBandsSurfaceOnManyShapesAndControlSets) {
  struct Case {
    std::size_t nx, ny, count;
  };
  const Case cases[] = {{5, 5, 4},    {7, 12, 9},    {12, 7, 9},   {2, 9, 5},
                        {9, 2, 5},    {20, 20, 6},   {31, 17, 40}, {3, 40, 12},
                        {40, 33, 25}, {64, 48, 200}, {16, 16, 256}};
  int compared = 0;
  for (const Case& c : cases) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
      const auto samples = scattered(c.nx, c.ny, c.count, seed * 977 + c.nx);
      const Lattice lattice = Lattice::unit(c.nx, c.ny);
      const AnchorSet anchors = collect_anchors(samples, lattice);
      if (!anchors_pin_bilinear(c.nx, c.ny, anchors)) continue;
      auto band = MinCurvatureOperator::assemble(c.nx, c.ny, anchors, on(MinCurvaturePath::Band));
      ASSERT_TRUE(band.has_value()) << c.nx << "x" << c.ny << " seed " << seed;
      if (!band->uses_band()) continue;  // compared only where the band factorises
      auto sparse =
          MinCurvatureOperator::assemble(c.nx, c.ny, anchors, on(MinCurvaturePath::Sparse));
      ASSERT_TRUE(sparse.has_value());
      ASSERT_FALSE(sparse->uses_band());
      auto spectral =
          MinCurvatureOperator::assemble(c.nx, c.ny, anchors, on(MinCurvaturePath::Spectral));
      ASSERT_TRUE(spectral.has_value());
      ASSERT_TRUE(spectral->uses_spectral());
      ASSERT_OK_AND_ASSIGN(Array2D<double> a, band->solve(anchors.values));
      ASSERT_OK_AND_ASSIGN(Array2D<double> b, sparse->solve(anchors.values));
      ASSERT_OK_AND_ASSIGN(Array2D<double> t, spectral->solve(anchors.values));
      EXPECT_TRUE(spectral->uses_spectral());  // its solve met the check without the sparse LU
      EXPECT_LE(largest_difference(a, b), 1e-9 * largest_abs(a))
          << c.nx << "x" << c.ny << " seed " << seed;
      EXPECT_LE(largest_difference(a, t), 1e-9 * largest_abs(a))
          << c.nx << "x" << c.ny << " seed " << seed;
      ++compared;
    }
  }
  EXPECT_GE(compared, 30);
}

TEST(MinCurvaturePaths, EverySolutionSatisfiesTheStencilEquationsAtItsFreeNodes) {
  const std::pair<std::size_t, std::size_t> shapes[] = {{14, 11}, {3, 30}, {45, 38}};
  for (const auto& [nx, ny] : shapes) {
    const auto samples = scattered(nx, ny, 12, 5);
    const AnchorSet anchors = collect_anchors(samples, Lattice::unit(nx, ny));
    for (const MinCurvaturePath path :
         {MinCurvaturePath::Band, MinCurvaturePath::Sparse, MinCurvaturePath::Spectral}) {
      ASSERT_OK_AND_ASSIGN(MinCurvatureOperator op,
                           MinCurvatureOperator::assemble(nx, ny, anchors, on(path)));
      ASSERT_OK_AND_ASSIGN(Array2D<double> g, op.solve(anchors.values));
      EXPECT_LE(largest_equation_residual(g, anchors), 1e-12) << nx << "x" << ny;
    }
  }
}

TEST(MinCurvaturePaths, AWellPosedSystemTheBandCannotFactorIsSolvedWithoutAShift) {
  // Eight wells on 161 x 161 nodes pin every bilinear, but the unpivoted band meets a pivot
  // below its tolerance: the pivoting LU solves the unshifted equations.
  const std::size_t n = 161;
  const AnchorSet anchors = collect_anchors(wells_on_square(n, 8, 1), Lattice::unit(n, n));
  ASSERT_TRUE(anchors_pin_bilinear(n, n, anchors));
  ASSERT_OK_AND_ASSIGN(MinCurvatureOperator op,
                       MinCurvatureOperator::assemble(n, n, anchors, on(MinCurvaturePath::Band)));
  EXPECT_FALSE(op.uses_band());
  ASSERT_OK_AND_ASSIGN(Array2D<double> g, op.solve(anchors.values));
  EXPECT_LE(largest_equation_residual(g, anchors), 1e-12);
  for (std::size_t a = 0; a < anchors.nodes.size(); ++a) {
    EXPECT_EQ(g.data()[anchors.nodes[a]], anchors.values[a]);
  }
}

TEST(MinCurvaturePaths, FiftyWellsOn301SquaredAgreeWithAnIndependentSolveOfTheSameEquations) {
  // The unpivoted band cannot factor this well-posed system, and a shifted retry moved the surface
  // by metres; at this size the cheapest path is the transform solve anyway, and the sparse LU
  // the other choice. The interior must match an independent pivoting solve. The equations'
  // condition number makes about a millimetre the floor of agreement between any two
  // double-precision solves of them.
  const std::size_t n = 301;
  const AnchorSet anchors = collect_anchors(wells_on_square(n, 50, 1), Lattice::unit(n, n));
  ASSERT_OK_AND_ASSIGN(MinCurvatureOperator op, MinCurvatureOperator::assemble(n, n, anchors));
  EXPECT_TRUE(op.uses_spectral());
  ASSERT_OK_AND_ASSIGN(Array2D<double> g, op.solve(anchors.values));
  const Array2D<double> reference = independent_solve(op, n, n, anchors);
  double worst = 0;
  for (std::size_t i = 2; i + 2 < n; ++i) {
    for (std::size_t j = 2; j + 2 < n; ++j)
      worst = std::fmax(worst, std::fabs(g(i, j) - reference(i, j)));
  }
  EXPECT_LE(worst, 0.005);  // metres
  EXPECT_LE(largest_equation_residual(reference, anchors), 1e-12);
  EXPECT_LE(largest_equation_residual(g, anchors), 1e-12);
  ASSERT_OK_AND_ASSIGN(MinCurvatureOperator sparse,
                       MinCurvatureOperator::assemble(n, n, anchors, on(MinCurvaturePath::Sparse)));
  ASSERT_OK_AND_ASSIGN(Array2D<double> s, sparse.solve(anchors.values));
  EXPECT_LE(largest_difference(s, g), 0.005);
}

TEST(MinCurvaturePaths, AnchorsThatCannotPinABilinearAreRecognised) {
  auto anchors = [](std::size_t nx, std::size_t ny, std::vector<std::pair<int, int>> nodes) {
    std::vector<Sample> samples;
    for (auto [i, j] : nodes) samples.push_back({double(i), double(j), 1.0});
    return collect_anchors(samples, Lattice::unit(nx, ny));
  };
  EXPECT_TRUE(anchors_pin_bilinear(9, 9, anchors(9, 9, {{0, 0}, {8, 0}, {0, 8}, {8, 8}})));
  EXPECT_TRUE(anchors_pin_bilinear(9, 9, anchors(9, 9, {{1, 1}, {5, 2}, {3, 7}, {7, 6}})));
  EXPECT_FALSE(anchors_pin_bilinear(9, 9, anchors(9, 9, {{0, 0}, {8, 8}, {3, 5}})));  // three
  EXPECT_FALSE(anchors_pin_bilinear(9, 9, anchors(9, 9, {{0, 0}, {2, 2}, {5, 5}, {8, 8}})));
  EXPECT_FALSE(anchors_pin_bilinear(9, 9, anchors(9, 9, {{0, 1}, {2, 4}, {4, 7}, {6, 10}})));
  // One row and one column: (i - 1) (j - 2) vanishes on all of them.
  EXPECT_FALSE(anchors_pin_bilinear(9, 9, anchors(9, 9, {{0, 2}, {4, 2}, {8, 2}, {1, 0}, {1, 7}})));
  // A rectangular hyperbola i j = 8.
  EXPECT_FALSE(anchors_pin_bilinear(9, 9, anchors(9, 9, {{1, 8}, {2, 4}, {4, 2}, {8, 1}})));
}

TEST(MinCurvaturePaths, CertainlySingularAnchorsTakeTheShiftedSystemOnEitherPath) {
  // Four anchors on one diagonal: the shifted system gives the same finite surface on both paths.
  std::vector<Sample> line;
  for (int k = 0; k < 4; ++k) line.push_back({double(2 * k), double(2 * k), 100.0 + k});
  const AnchorSet anchors = collect_anchors(line, Lattice::unit(9, 8));
  ASSERT_OK_AND_ASSIGN(MinCurvatureOperator band,
                       MinCurvatureOperator::assemble(9, 8, anchors, on(MinCurvaturePath::Band)));
  ASSERT_OK_AND_ASSIGN(MinCurvatureOperator sparse,
                       MinCurvatureOperator::assemble(9, 8, anchors, on(MinCurvaturePath::Sparse)));
  // Asked for, the transform solve gives way to the shifted sparse LU.
  ASSERT_OK_AND_ASSIGN(
      MinCurvatureOperator spectral,
      MinCurvatureOperator::assemble(9, 8, anchors, on(MinCurvaturePath::Spectral)));
  EXPECT_FALSE(spectral.uses_spectral());
  ASSERT_OK_AND_ASSIGN(Array2D<double> a, band.solve(anchors.values));
  ASSERT_OK_AND_ASSIGN(Array2D<double> b, sparse.solve(anchors.values));
  ASSERT_OK_AND_ASSIGN(Array2D<double> c, spectral.solve(anchors.values));
  EXPECT_EQ(c, b);
  for (double z : a.data()) ASSERT_TRUE(std::isfinite(z));
  for (const Sample& s : line) EXPECT_EQ(b(std::size_t(s.x), std::size_t(s.y)), s.z);
  EXPECT_LE(largest_difference(a, b), 1e-6 * largest_abs(a));
}

TEST(MinCurvaturePaths, TheCheapestPathFollowsTheLatticeAndItsAnchors) {
  enum class Path { Band, Sparse, Spectral };
  auto path_of = [](std::size_t nx, std::size_t ny, std::vector<Sample> samples) {
    const AnchorSet anchors = collect_anchors(samples, Lattice::unit(nx, ny));
    auto op = MinCurvatureOperator::assemble(nx, ny, anchors);
    EXPECT_TRUE(op.has_value());
    if (!op) return Path::Sparse;
    return op->uses_band() ? Path::Band : op->uses_spectral() ? Path::Spectral : Path::Sparse;
  };
  EXPECT_EQ(path_of(20, 20, scattered(20, 20, 30, 3)), Path::Band);
  EXPECT_EQ(path_of(60, 45, scattered(60, 45, 30, 3)), Path::Band);
  EXPECT_EQ(path_of(160, 150, scattered(160, 150, 30, 3)), Path::Spectral);
  // Anchors on one line cannot pin the surface: the shifted sparse LU.
  std::vector<Sample> line;
  for (int k = 0; k < 10; ++k) line.push_back({double(10 * k), double(10 * k), 1.0 + k});
  EXPECT_EQ(path_of(160, 150, line), Path::Sparse);
  // A dense set of anchors makes the transform solve's dense system the larger cost.
  EXPECT_EQ(path_of(160, 150, scattered(160, 150, 6000, 3)), Path::Sparse);
}

// Ctrl-C inside the band factorisation: the call ends with the stop, not with a surface, and a
// cache keeps no factors from it.
// The band polls between pivots; the sparse LU runs on a thread of its own while the caller
// polls, and is left to finish alone.
TEST(MinCurvaturePaths, AStoppedCallEndsTheFactorisation) {
  class StopAtOnce final : public CallMonitor {
   public:
    bool should_stop() override { return true; }
    void progress(std::string_view, std::uint64_t, std::uint64_t, double) override {}
  } monitor;
  for (const MinCurvaturePath path :
       {MinCurvaturePath::Band, MinCurvaturePath::Sparse, MinCurvaturePath::Spectral}) {
    for (const std::size_t n : {40, 90}) {
      const auto samples = scattered(n, n, 30, 11);
      const Lattice lattice = Lattice::unit(n, n);
      MinCurvatureCache cache;
      {
        const CallScope scope(monitor, std::chrono::nanoseconds(0));
        auto grid = grid_min_curvature(samples, lattice, Array2D<double>(), &cache, on(path));
        ASSERT_FALSE(grid.has_value());
        EXPECT_EQ(grid.error().kind(), AlgoError::Kind::Interrupted);
      }
      ASSERT_OK_AND_ASSIGN(
          Array2D<double> grid,
          grid_min_curvature(samples, lattice, Array2D<double>(), &cache, on(path)));
      ASSERT_TRUE(cache.factored && *cache.factored);
      EXPECT_EQ((*cache.factored)->uses_band(), path == MinCurvaturePath::Band);
      EXPECT_EQ((*cache.factored)->uses_spectral(), path == MinCurvaturePath::Spectral);
      EXPECT_EQ(grid.data()[collect_anchors(samples, lattice).nodes[0]],
                collect_anchors(samples, lattice).values[0]);
    }
  }
}

TEST(MinCurvaturePaths, ASystemThatDoesNotFitInMemoryFailsBeforeTakingIt) {
  const AnchorSet anchors = collect_anchors(scattered(200, 150, 30, 4), Lattice::unit(200, 150));
  // Too small even for the assembly.
  EXPECT_ERROR_TEXT(
      MinCurvatureOperator::assemble(200, 150, anchors, {MinCurvaturePath::Cheapest, 1000000}),
      "invalid argument: minimum-curvature solve of lattice 200x150 needs 5880000 bytes (5.6 MiB) "
      "of memory, more than the 1000000 bytes (1.0 MiB) available");
  // Room to assemble but not for any path's factors.
  auto factors =
      MinCurvatureOperator::assemble(200, 150, anchors, {MinCurvaturePath::Cheapest, 8000000});
  ASSERT_FALSE(factors.has_value());
  EXPECT_NE(factors.error().text().find("lattice 200x150 needs "), std::string::npos)
      << factors.error().text();
  // Room for the transform solve, not for the sparse LU's factors: it serves.
  ASSERT_OK_AND_ASSIGN(
      MinCurvatureOperator lean,
      MinCurvatureOperator::assemble(200, 150, anchors, {MinCurvaturePath::Cheapest, 12000000}));
  EXPECT_TRUE(lean.uses_spectral());
  // The driver reports it instead of relaxing.
  const auto samples = scattered(200, 150, 30, 4);
  auto grid = grid_min_curvature(samples, Lattice::unit(200, 150), {}, nullptr,
                                 {MinCurvaturePath::Sparse, 12000000});
  ASSERT_FALSE(grid.has_value());
  EXPECT_NE(grid.error().text().find("lattice 200x150 needs "), std::string::npos);
}

class RestartsReuseTheirSolver : public testing::TestWithParam<MinCurvaturePath> {};

TEST_P(RestartsReuseTheirSolver, BitForBitAndInCopies) {
  const auto samples = scattered(70, 90, 40, 8);
  const Lattice lattice = Lattice::unit(70, 90);
  const MinCurvatureOptions sparse = on(GetParam());
  MinCurvatureCache cache;
  ASSERT_OK_AND_ASSIGN(Array2D<double> first,
                       grid_min_curvature(samples, lattice, {}, &cache, sparse));
  ASSERT_TRUE(cache.factored && *cache.factored && !(*cache.factored)->uses_band());
  EXPECT_EQ((*cache.factored)->uses_spectral(), GetParam() == MinCurvaturePath::Spectral);
  const MinCurvatureCache copy = cache;  // copies share the factors or hold their own
  MinCurvatureCache second = copy;
  ASSERT_OK_AND_ASSIGN(
      Array2D<double> again,
      grid_min_curvature(samples, lattice, Array2D<double>(70, 90, 1.0), &second, sparse));
  EXPECT_EQ(again, first);
  ASSERT_OK_AND_ASSIGN(Array2D<double> fresh,
                       grid_min_curvature(samples, lattice, {}, nullptr, sparse));
  EXPECT_EQ(fresh, first);
}
TEST(MinCurvaturePaths, TheTransformSolveDoesNotDependOnTheThreads) {
  const auto samples = scattered(90, 130, 60, 12);
  const Lattice lattice = Lattice::unit(90, 130);
  const MinCurvatureOptions spectral = on(MinCurvaturePath::Spectral);
  set_max_threads(1);
  auto one = grid_min_curvature(samples, lattice, {}, nullptr, spectral);
  set_max_threads(4);
  auto four = grid_min_curvature(samples, lattice, {}, nullptr, spectral);
  set_max_threads(0);
  ASSERT_TRUE(one && four);
  EXPECT_EQ(*one, *four);
}

INSTANTIATE_TEST_SUITE_P(Paths, RestartsReuseTheirSolver,
                         testing::Values(MinCurvaturePath::Sparse, MinCurvaturePath::Spectral));

// The sweep as the definition reads, on the grid's own layout through z_at.
void reference_sweeps(Array2D<double>& g, const std::vector<std::int32_t>& fixed,
                      std::size_t count) {
  const std::size_t nx = g.nx(), ny = g.ny();
  for (std::size_t s = 0; s < count; ++s) {
    for (std::size_t j = 0; j < ny; ++j) {
      for (std::size_t i = 0; i < nx; ++i) {
        if (fixed[i * ny + j] >= 0) continue;
        auto z = [&](int di, int dj) {
          return z_at(g, nx, ny, std::int64_t(i) + di, std::int64_t(j) + dj);
        };
        const double n = z(0, 1) + z(0, -1) + z(1, 0) + z(-1, 0);
        const double d = z(1, 1) + z(-1, 1) + z(1, -1) + z(-1, -1);
        const double f = z(0, 2) + z(0, -2) + z(2, 0) + z(-2, 0);
        const double target = (0.25 * n + 0.75 * (8 * n - 2 * d - f)) * 0.0625;
        g(i, j) = g(i, j) + 1.5 * (target - g(i, j));
      }
    }
  }
}

TEST(RelaxMinCurvature, SweepsAreBitIdenticalToTheDefinitionOnEveryShape) {
  // Small shapes from a rough start; larger ones (rows advancing together, in groups with a
  // remainder) from a slightly disturbed plane, which the sweeps settle in a few hundred passes.
  struct Case {
    std::size_t nx, ny;
    double roughness;
  };
  const Case cases[] = {{2, 2, 10},  {2, 7, 10},   {7, 2, 10},     {3, 3, 10},     {5, 9, 10},
                        {13, 6, 10}, {11, 11, 10}, {40, 30, 1e-3}, {27, 21, 1e-3}, {31, 13, 1e-3}};
  for (const Case& c : cases) {
    const std::size_t nx = c.nx, ny = c.ny;
    Array2D<double> start(nx, ny);
    for (std::size_t n = 0; n < nx * ny; ++n) {
      start.data()[n] =
          0.3 * double(n / ny) - 0.2 * double(n % ny) + c.roughness * std::sin(0.7 * double(n));
    }
    std::vector<std::int32_t> fixed(nx * ny, -1);
    fixed[0] = 0;
    fixed[(nx / 2) * ny + ny / 2] = 1;
    Array2D<double> relaxed = start;
    const RelaxationOutcome outcome = relax_min_curvature(relaxed, fixed).value();
    Array2D<double> replay = start;
    reference_sweeps(replay, fixed, outcome.sweeps);
    EXPECT_EQ(relaxed, replay) << nx << "x" << ny << " after " << outcome.sweeps << " sweeps";
  }
}

TEST(GridMinCurvature, FewerThanFourAnchorsRelaxWithoutFactoring) {
  // Three non-collinear controls on a large lattice: the direct system is certainly singular
  // (a bilinear vanishes on any three nodes), so the seed is relaxed at once.
  const std::vector<Sample> three = {{1, 1, 5}, {30, 4, 6}, {12, 35, 7}};
  MinCurvatureCache cache;
  ASSERT_OK_AND_ASSIGN(Array2D<double> g, grid_min_curvature(three, Lattice::unit(40, 40),
                                                             Array2D<double>(40, 40, 6.0), &cache));
  ASSERT_TRUE(cache.factored.has_value());
  EXPECT_FALSE(cache.factored->has_value());
  for (const Sample& s : three) EXPECT_EQ(g(std::size_t(s.x), std::size_t(s.y)), s.z);
}

}  // namespace
}  // namespace zorvatools
