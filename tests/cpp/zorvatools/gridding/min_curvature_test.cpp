#include "zorvatools/gridding/min_curvature.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "test_support.hpp"
#include "zorvatools/gridding/relaxation.hpp"

namespace zorvatools {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(ClassifySample, SnapsToTheNearestNodeWithHalvesAwayFromZero) {
  const std::vector<std::tuple<double, double, std::optional<NodeIJ>>> cases = {
      {2.5, 3.5, NodeIJ{3, 4}}, {-0.4, 0, NodeIJ{0, 0}}, {-0.6, 0, std::nullopt},
      {4.4, 5.2, NodeIJ{4, 5}}, {4.5, 0, std::nullopt},  {0, 5.5, std::nullopt},
      {kNaN, 1, std::nullopt},  {1, kInf, std::nullopt},
  };
  for (const auto& [x, y, node] : cases) {
    EXPECT_EQ(classify_sample(Lattice::unit(5, 6), x, y), node) << x << ", " << y;
  }
  const Lattice rotated{1000, 2000, 50, 25, 8, 9, 30, true};
  const Point2 p = rotated.node_xy(6, 2);
  EXPECT_EQ(classify_sample(rotated, p.x + 3, p.y - 2), (NodeIJ{6, 2}));
  Lattice flat = Lattice::unit(4, 4);
  flat.spacing_y = 0;
  EXPECT_EQ(classify_sample(flat, 1, 1), std::nullopt);
}

TEST(ZAt, ExtrapolatesLinearlyAlongIFirstThenJ) {
  Array2D<double> g(3, 4);
  for (std::size_t n = 0; n < 12; ++n) g.data()[n] = static_cast<double>(n * n);  // curved
  EXPECT_EQ(z_at(g, 3, 4, 1, 2), g(1, 2));
  EXPECT_EQ(z_at(g, 3, 4, -2, 2), 2 * (2 * g(0, 2) - g(1, 2)) - g(0, 2));
  EXPECT_EQ(z_at(g, 3, 4, 0, 4), 2 * g(0, 3) - g(0, 2));
  // A corner outside both axes resolves i first: 2 z(0, -1) - z(1, -1).
  EXPECT_EQ(z_at(g, 3, 4, -1, -1), 2 * (2 * g(0, 0) - g(0, 1)) - (2 * g(1, 0) - g(1, 1)));
}

AnchorSet anchors_at(std::size_t nx, std::size_t ny, std::vector<NodeIJ> nodes) {
  std::vector<Sample> samples;
  for (const NodeIJ& n : nodes) {
    samples.push_back({static_cast<double>(n.i), static_cast<double>(n.j), 0});
  }
  return collect_anchors(samples, Lattice::unit(nx, ny));
}

TEST(MinCurvatureOperator, SumsRepeatedEdgeTapsAndNumbersTheShorterAxisFastest) {
  // Node (0, 0) is free and numbered first; its diagonal gathers the centre, the extrapolated
  // axis taps (-1,0), (0,-1), (-2,0), (0,-2) and the corner tap (-1,-1):
  // 16 - 2 * 12.5 + 2 * 2.25 + 4 * 1.5 = 1.5.
  ASSERT_OK_AND_ASSIGN(
      MinCurvatureOperator op,
      MinCurvatureOperator::assemble(5, 5, anchors_at(5, 5, {{2, 2}, {4, 4}, {4, 0}, {0, 4}})));
  EXPECT_EQ(op.free_count(), 21u);
  EXPECT_EQ(op.band().at(0, 0), 1.5);
  ASSERT_OK_AND_ASSIGN(
      MinCurvatureOperator tall,
      MinCurvatureOperator::assemble(4, 9, anchors_at(4, 9, {{0, 0}, {3, 0}, {0, 8}, {3, 8}})));
  ASSERT_OK_AND_ASSIGN(
      MinCurvatureOperator wide,
      MinCurvatureOperator::assemble(9, 4, anchors_at(9, 4, {{0, 0}, {8, 0}, {0, 3}, {8, 3}})));
  EXPECT_EQ(tall.band().b, wide.band().b);
  EXPECT_LE(tall.band().b, 2 * 4u);
}

TEST(MinCurvatureOperator, CollinearOrTooFewAnchorsAreSingularUnlessTheShiftRescuesThem) {
  // (j - 2) * (a + b * i) vanishes on every anchor of row 2: the plain system is singular.
  const std::vector<NodeIJ> three = {{0, 2}, {2, 2}, {4, 2}};
  std::vector<NodeIJ> four = three;
  four.push_back({6, 2});
  EXPECT_ERROR_TEXT(MinCurvatureOperator::assemble(7, 5, anchors_at(7, 5, three)),
                    "invalid argument: MinCurvatureOperator: conditioning system is singular (too "
                    "few / collinear hard anchors to pin the surface)");
  EXPECT_TRUE(MinCurvatureOperator::assemble(7, 5, anchors_at(7, 5, four)).has_value());
  // Through the driver the shifted system still passes through the anchors.
  std::vector<Sample> row;
  for (const NodeIJ& n : four) row.push_back({double(n.i), double(n.j), 1.0 + double(n.i)});
  ASSERT_OK_AND_ASSIGN(Array2D<double> g, grid_min_curvature(row, Lattice::unit(7, 5), {}));
  for (const Sample& s : row) EXPECT_EQ(g(std::size_t(s.x), std::size_t(s.y)), s.z);
  for (double z : g.data()) EXPECT_TRUE(std::isfinite(z));
}

double plane(double i, double j) {
  return 1000 + 3 * i - 2 * j;
}

TEST(GridMinCurvature, ReproducesPlanesFromFourOrMoreAnchors) {
  const Lattice lattice{500, 800, 25, 25, 9, 7, 20, false};
  std::vector<Sample> flat, tilted;
  for (const NodeIJ n : std::vector<NodeIJ>{{0, 0}, {8, 1}, {2, 6}, {5, 3}, {7, 6}}) {
    const Point2 p = lattice.node_xy(static_cast<double>(n.i), static_cast<double>(n.j));
    flat.push_back({p.x, p.y, 1000});
    tilted.push_back({p.x, p.y, plane(static_cast<double>(n.i), static_cast<double>(n.j))});
  }
  ASSERT_OK_AND_ASSIGN(Array2D<double> level, grid_min_curvature(flat, lattice, {}));
  ASSERT_OK_AND_ASSIGN(Array2D<double> slope, grid_min_curvature(tilted, lattice, {}));
  for (std::size_t i = 0; i < 9; ++i) {
    for (std::size_t j = 0; j < 7; ++j) {
      EXPECT_NEAR(level(i, j), 1000, 1e-9);
      EXPECT_NEAR(slope(i, j), plane(static_cast<double>(i), static_cast<double>(j)), 1e-9);
    }
  }
}

TEST(GridMinCurvature, SamplesOnOneNodeAnchorItAtTheirMeanAndOneSampleRelaxesTheSeed) {
  const std::vector<Sample> samples = {{2, 2, 10}, {0, 0, 1}, {2.2, 1.9, 20}, {4, 4, 3}, {0, 4, 2}};
  const AnchorSet anchors = collect_anchors(samples, Lattice::unit(5, 5));
  EXPECT_EQ(anchors.nodes, (std::vector<std::size_t>{12, 0, 24, 4}));  // first appearance
  EXPECT_EQ(anchors.values, (std::vector<double>{15, 1, 3, 2}));
  ASSERT_OK_AND_ASSIGN(Array2D<double> g, grid_min_curvature(samples, Lattice::unit(5, 5), {}));
  EXPECT_EQ(g(2, 2), 15);

  const std::vector<Sample> one = {{2, 3, 40}};
  ASSERT_OK_AND_ASSIGN(Array2D<double> same,
                       grid_min_curvature(one, Lattice::unit(6, 5), Array2D<double>(6, 5, 40)));
  EXPECT_EQ(same, Array2D<double>(6, 5, 40));
  ASSERT_OK_AND_ASSIGN(Array2D<double> pulled,
                       grid_min_curvature(one, Lattice::unit(6, 5), Array2D<double>(6, 5, 0)));
  EXPECT_EQ(pulled(2, 3), 40);
  EXPECT_GT(pulled(2, 2), 0);  // the seed moved towards the anchor
  EXPECT_ERROR_TEXT(grid_min_curvature({}, Lattice::unit(3, 3), {}),
                    "empty input: min-curvature gridding needs samples");
}

TEST(GridMinCurvature, SingleRowLatticeReturnsTheStartWithAnchorsApplied) {
  // The off-lattice sample is ignored as an anchor but weighs in the inverse-distance start.
  const std::vector<Sample> samples = {{0, 1, 5}, {0, 4, 7}, {0, 9, 100}};
  ASSERT_OK_AND_ASSIGN(Array2D<double> g, grid_min_curvature(samples, Lattice::unit(1, 6), {}));
  EXPECT_EQ(g(0, 1), 5);
  EXPECT_EQ(g(0, 4), 7);
  const double w[3] = {1.0, 1.0 / 4, 1.0 / 49};  // node (0, 2)
  EXPECT_DOUBLE_EQ(g(0, 2), (w[0] * 5 + w[1] * 7 + w[2] * 100) / (w[0] + w[1] + w[2]));

  ASSERT_OK_AND_ASSIGN(Array2D<double> seeded,
                       grid_min_curvature(samples, Lattice::unit(1, 6), Array2D<double>(1, 6, -1)));
  EXPECT_EQ(seeded.data(), (std::vector<double>{-1, 5, -1, -1, 7, -1}));
}

TEST(InverseDistanceSurface, ExactHitsWinAndNodesWithoutWeightAreUndefined) {
  const std::vector<Sample> samples = {{1, 0, 3}, {1, 0, 8}, {kNaN, 0, 50}, {0, 0, 1}};
  const Array2D<double> g = inverse_distance_surface(samples, Lattice::unit(3, 1));
  EXPECT_EQ(g(1, 0), 3);  // the first sample at distance 0
  EXPECT_EQ(g(0, 0), 1);
  // The sample without a position does not poison the surface.
  EXPECT_DOUBLE_EQ(g(2, 0), (3 + 8 + 1.0 / 4) / (1 + 1 + 1.0 / 4));
  EXPECT_TRUE(std::isnan(inverse_distance_surface({}, Lattice::unit(2, 2))(1, 1)));
}

TEST(RelaxMinCurvature, StopsBelowTheToleranceOrAfterTheSweepLimit) {
  std::vector<std::int32_t> fixed(16, -1);
  Array2D<double> level(4, 4, 7.0);
  fixed[5] = 0;
  const RelaxationOutcome still = relax_min_curvature(level, fixed).value();
  EXPECT_EQ(still.sweeps, 1u);
  EXPECT_EQ(still.last_change, 0);

  // Two far-apart anchors of opposite sign on a long strip converge very slowly.
  const std::size_t nx = 40, ny = 3;
  Array2D<double> strip(nx, ny, 0.0);
  std::vector<std::int32_t> pins(nx * ny, -1);
  strip(0, 1) = 1e9;
  pins[0 * ny + 1] = 0;
  strip(nx - 1, 1) = -1e9;
  pins[(nx - 1) * ny + 1] = 1;
  const RelaxationOutcome slow = relax_min_curvature(strip, pins).value();
  EXPECT_EQ(slow.sweeps, kMaxRelaxationSweeps);
  EXPECT_GE(slow.last_change, kRelaxationTolerance);
}

TEST(GridMinCurvature, CacheReusesTheFactorisationWithIdenticalResults) {
  const Lattice lattice = Lattice::unit(8, 6);
  std::vector<Sample> samples = {{0, 0, 4}, {7, 0, -2}, {3, 5, 9}, {6, 4, 1}, {2, 2, 0.5}};
  MinCurvatureCache cache;
  ASSERT_OK_AND_ASSIGN(Array2D<double> first, grid_min_curvature(samples, lattice, {}, &cache));
  ASSERT_TRUE(cache.factored.has_value());
  // A different seed does not matter to the direct solve.
  ASSERT_OK_AND_ASSIGN(Array2D<double> again,
                       grid_min_curvature(samples, lattice, Array2D<double>(8, 6, 3.0), &cache));
  EXPECT_EQ(again, first);
  // New values on the same nodes reuse the factors; the result equals a fresh solve.
  samples[2].z = -30;
  ASSERT_OK_AND_ASSIGN(Array2D<double> moved, grid_min_curvature(samples, lattice, {}, &cache));
  ASSERT_OK_AND_ASSIGN(Array2D<double> fresh, grid_min_curvature(samples, lattice, {}));
  EXPECT_EQ(moved, fresh);
  EXPECT_EQ(moved(3, 5), -30);
  // A new anchor layout replaces the cached one.
  samples.push_back({5, 1, 2});
  ASSERT_OK_AND_ASSIGN(Array2D<double> more, grid_min_curvature(samples, lattice, {}, &cache));
  ASSERT_OK_AND_ASSIGN(Array2D<double> more_fresh, grid_min_curvature(samples, lattice, {}));
  EXPECT_EQ(more, more_fresh);
  EXPECT_EQ(cache.anchor_nodes.size(), 6u);
}

}  // namespace
}  // namespace zorvatools
