#include "zorvatools/geostat/sgs.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "test_support.hpp"
#include "zorvatools/geostat/collocated_secondary.hpp"
#include "zorvatools/geostat/local_kriging.hpp"
#include "zorvatools/geostat/nscore.hpp"
#include "zorvatools/geostat/ziggurat_normal.hpp"

namespace zorvatools {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

SgsParams spherical_params(double range, std::size_t max_neighbours = 12, double radius = 400) {
  SgsParams params;
  params.max_neighbours = max_neighbours;
  params.radius_m = radius;
  params.variogram = IsotropicVariogram{0, 1, range, VariogramModel::Spherical};
  return params;
}

// A 12 x 9 lattice of 25 m and data, two of them off the nodes.
const Lattice kLattice{1000, 2000, 25, 25, 12, 9, 0, false};
const std::vector<ConditioningDatum> kData = {
    {1000, 2000, 0.12}, {1100, 2050, 0.30}, {1210, 2140, 0.22}, {1274, 2196, 0.05},
    {1150, 2100, 0.27}, {1030, 2190, 0.18}, {1180, 2010, 0.08}, {1251, 2049, 0.33}};

TEST(Sgs, RejectsBadParametersBeforeAnythingElse) {
  const std::string search = "invalid argument: sgs: need max_neighbours >= 1 and radius > 0";
  SgsParams params = spherical_params(100, 0);
  params.secondary = Array2D<double>(3, 3);  // also the wrong shape
  params.variogram = IsotropicVariogram{0, 0, -1, VariogramModel::Spherical};  // and invalid
  EXPECT_ERROR_TEXT(sgs_seeded(kData, kLattice, params, 1), search);
  for (double radius : {0.0, -5.0, kNaN, kInf}) {
    EXPECT_ERROR_TEXT(sgs_seeded(kData, kLattice, spherical_params(100, 8, radius), 1), search);
  }

  params = spherical_params(100);
  params.secondary = Array2D<double>(9, 12);  // transposed
  EXPECT_ERROR_TEXT(sgs_seeded(kData, kLattice, params, 1),
                    "invalid argument: sgs: collocated secondary shape must match the lattice "
                    "(ncol, nrow)");
  for (double rho : {kNaN, 1.5}) {
    params.secondary = Array2D<double>(12, 9, 1.0);
    params.collocated_rho = rho;
    EXPECT_ERROR_TEXT(sgs_seeded(kData, kLattice, params, 1),
                      "invalid argument: sgs: collocated_rho must be finite and within [-1, 1]");
  }
  // Nodes are numbered in 32 bits: a larger lattice is refused before anything is allocated.
  Lattice huge = kLattice;
  huge.nx = 70'000;
  huge.ny = 70'000;
  EXPECT_ERROR_TEXT(sgs_seeded(kData, huge, spherical_params(100), 1),
                    "invalid argument: sgs: a lattice of 70000 x 70000 nodes is more than the "
                    "simulation can hold (4294967295 nodes)");
  // Node positions that are not numbers would make every distance NaN.
  for (auto spoil :
       {+[](Lattice& l) { l.origin_y = kNaN; }, +[](Lattice& l) { l.rotation_deg = kInf; },
        +[](Lattice& l) { l.spacing_x = 1e300; }}) {
    Lattice spoiled = kLattice;
    spoil(spoiled);
    EXPECT_ERROR_TEXT(sgs_seeded(kData, spoiled, spherical_params(100), 1),
                      "invalid argument: sgs: lattice node coordinates must be finite and below "
                      "1e150 in magnitude");
  }
  params = spherical_params(100);
  params.variogram = AnisotropicVariogram{0, 0, 100, 100, 10, 0, VariogramModel::Spherical};
  EXPECT_ERROR_TEXT(sgs_seeded(kData, kLattice, params, 1),
                    "invalid argument: anisotropic variogram: total sill (nugget + sill) must be "
                    "positive");
}

// The node (i, j) a datum snaps to, or nothing when it is off the lattice.
std::optional<std::pair<std::size_t, std::size_t>> node_of(const Lattice& lattice,
                                                           const ConditioningDatum& d) {
  const auto ij = lattice.xy_to_ij(d.x, d.y);
  if (!ij) return std::nullopt;
  const double i = std::round(ij->first);
  const double j = std::round(ij->second);
  if (i < 0 || j < 0 || i >= lattice.nx || j >= lattice.ny) return std::nullopt;
  return std::pair{static_cast<std::size_t>(i), static_cast<std::size_t>(j)};
}

TEST(Sgs, HonoursDataStaysInRangeAndRepeatsForASeed) {
  const SgsParams params = spherical_params(150);
  ASSERT_OK_AND_ASSIGN(const auto first, sgs_seeded(kData, kLattice, params, 42));
  ASSERT_OK_AND_ASSIGN(const auto again, sgs_seeded(kData, kLattice, params, 42));
  ASSERT_OK_AND_ASSIGN(const auto other, sgs_seeded(kData, kLattice, params, 43));
  ASSERT_TRUE(first.same_shape(12, 9));
  EXPECT_EQ(first, again);

  std::vector<bool> is_data(12 * 9, false);
  for (const auto& d : kData) {
    const auto node = node_of(kLattice, d);
    ASSERT_TRUE(node);
    EXPECT_EQ(first(node->first, node->second), d.value);
    EXPECT_EQ(other(node->first, node->second), d.value);
    is_data[node->first * 9 + node->second] = true;
  }
  std::size_t changed = 0;
  for (std::size_t i = 0; i < 12; ++i) {
    for (std::size_t j = 0; j < 9; ++j) {
      EXPECT_GE(first(i, j), 0.05);
      EXPECT_LE(first(i, j), 0.33);
      if (!is_data[i * 9 + j] && first(i, j) != other(i, j)) ++changed;
    }
  }
  // Nodes beyond the extreme scores map to the extreme data in either run; most still differ.
  EXPECT_GT(changed, (12u * 9 - kData.size()) * 3 / 4);
}

TEST(Sgs, OneDatumOrEqualDataFillEveryNode) {
  const std::vector<ConditioningDatum> one = {{1100, 2100, 0.2}};
  const std::vector<ConditioningDatum> equal = {{1100, 2100, 0.2}, {1200, 2000, 0.2}};
  for (const auto& data : {one, equal}) {
    ASSERT_OK_AND_ASSIGN(const auto result, sgs_seeded(data, kLattice, spherical_params(80), 9));
    for (double v : result.data()) EXPECT_EQ(v, 0.2);
  }
}

TEST(Sgs, AFullyInformedLatticeReturnsItsData) {
  const Lattice lattice{0, 0, 10, 10, 3, 2, 0, false};
  std::vector<ConditioningDatum> data;
  for (int j = 0; j < 2; ++j) {
    for (int i = 0; i < 3; ++i) data.push_back({10.0 * i, 10.0 * j, 1.0 + i + 3 * j});
  }
  for (std::uint64_t seed : {0u, 1u, 77u}) {
    ASSERT_OK_AND_ASSIGN(const auto result, sgs_seeded(data, lattice, spherical_params(30), seed));
    for (int j = 0; j < 2; ++j) {
      for (int i = 0; i < 3; ++i) EXPECT_EQ(result(i, j), 1.0 + i + 3 * j);
    }
  }
}

// A single node to simulate is not shuffled: its deviate is the stream's first.
TEST(Sgs, APathOfOneNodeTakesTheFirstDeviate) {
  const Lattice lattice{0, 0, 30, 30, 2, 1, 0, false};
  const std::vector<ConditioningDatum> data = {
      {0, 0, 2.0}, {900, 0, 1.0}, {900, 0, 3.0}, {900, 0, 4.0}, {900, 0, 6.0}};
  const SgsParams params = spherical_params(100);
  std::vector<double> values;
  for (const auto& d : data) values.push_back(d.value);
  const NormalScore transform = NormalScore::fit(values);
  SkScratch kriging;
  kriging.neighbours = {{0, 0, -30, 0, transform.forward(2.0)}};
  const Correlation rho(params.variogram);
  const SkEstimate estimate = simple_kriging(rho, std::nullopt, kriging);
  for (std::uint64_t seed : {0u, 12u}) {
    ChaCha12 rng = ChaCha12::from_seed(seed);
    const double expected = transform.back(estimate.mean + estimate.std_dev * ziggurat_normal(rng));
    ASSERT_OK_AND_ASSIGN(const auto result, sgs_seeded(data, lattice, params, seed));
    EXPECT_EQ(result(0, 0), 2.0);
    EXPECT_EQ(result(1, 0), expected) << seed;
  }
}

// Data off the lattice or without a position are not placed, but their values still belong to
// the distribution the simulation draws from. The first datum on a node represents it.
TEST(Sgs, UnplacedDataShapeTheDistributionAndTheFirstDatumWinsANode) {
  const Lattice lattice{0, 0, 10, 10, 8, 8, 0, false};
  const std::vector<ConditioningDatum> data = {
      {30, 30, 1.0}, {31, 29, 4.0}, {-500, 0, 5.0}, {kNaN, 10, 3.0}, {10, kInf, 2.0}};
  ASSERT_OK_AND_ASSIGN(const auto result, sgs_seeded(data, lattice, spherical_params(40), 3));
  EXPECT_EQ(result(3, 3), 1.0);
  const auto [lowest, highest] = std::ranges::minmax(result.data());
  EXPECT_EQ(lowest, 1.0);
  EXPECT_GT(highest, 4.0);  // only values above 4 come from the unplaced data
  EXPECT_LE(highest, 5.0);
}

TEST(Sgs, DataSnapThroughRotationAndFlip) {
  const Lattice lattice{500, 800, 20, 10, 6, 5, 35, true};
  const Point2 p = lattice.node_xy(4, 1);
  const Point2 q = lattice.node_xy(0.4, 3.5);  // rounds half away to (0, 4)
  const std::vector<ConditioningDatum> data = {{p.x, p.y, 7.0}, {q.x, q.y, 9.0}, {0, 0, 8.0}};
  ASSERT_OK_AND_ASSIGN(const auto result, sgs_seeded(data, lattice, spherical_params(60), 5));
  EXPECT_EQ(result(4, 1), 7.0);
  EXPECT_EQ(result(0, 4), 9.0);
}

// With rho = 0 the secondary adds nothing; with rho = 1 it fixes every simulated node to its
// standardised value, mapped back through the transform.
TEST(Sgs, CollocatedSecondaryAtTheExtremeCorrelations) {
  Array2D<double> secondary(12, 9);
  for (std::size_t i = 0; i < 12; ++i) {
    for (std::size_t j = 0; j < 9; ++j) secondary(i, j) = std::sin(0.5 * i) + 0.1 * j;
  }
  secondary(5, 5) = kNaN;
  SgsParams params = spherical_params(120);
  ASSERT_OK_AND_ASSIGN(const auto plain, sgs_seeded(kData, kLattice, params, 8));
  params.secondary = secondary;
  params.collocated_rho = 0;
  ASSERT_OK_AND_ASSIGN(const auto uncorrelated, sgs_seeded(kData, kLattice, params, 8));
  EXPECT_EQ(uncorrelated, plain);

  params.collocated_rho = 1;
  ASSERT_OK_AND_ASSIGN(const auto result, sgs_seeded(kData, kLattice, params, 8));
  std::vector<double> values;
  for (const auto& d : kData) values.push_back(d.value);
  const NormalScore transform = NormalScore::fit(values);
  const Array2D<double> standardised = standardised_secondary(secondary);
  for (std::size_t i = 0; i < 12; ++i) {
    for (std::size_t j = 0; j < 9; ++j) {
      const bool is_data = std::ranges::any_of(
          kData, [&](const auto& d) { return node_of(kLattice, d) == std::pair{i, j}; });
      if (!is_data) {
        EXPECT_NEAR(result(i, j), transform.back(standardised(i, j)), 1e-9);
      }
    }
  }
}

TEST(CollocatedSecondary, StandardisesOverTheFiniteEntries) {
  Array2D<double> secondary(2, 3, kNaN);
  secondary(0, 0) = 1;
  secondary(1, 0) = 3;
  secondary(0, 2) = 5;
  secondary(1, 2) = 7;
  const Array2D<double> out = standardised_secondary(secondary);
  const double sd = std::sqrt(5.0);  // population variance of 1, 3, 5, 7
  EXPECT_DOUBLE_EQ(out(0, 0), -3 / sd);
  EXPECT_DOUBLE_EQ(out(1, 0), -1 / sd);
  EXPECT_DOUBLE_EQ(out(1, 2), 3 / sd);
  EXPECT_EQ(out(0, 1), 0.0);  // non-finite entries sit at the mean

  Array2D<double> constant(2, 2, 4.0);
  constant(1, 1) = kNaN;
  EXPECT_EQ(standardised_secondary(constant), Array2D<double>(2, 2, 0.0));
  const Array2D<double> undefined(2, 2, kNaN);
  const Array2D<double> unchanged = standardised_secondary(undefined);
  for (double v : unchanged.data()) EXPECT_TRUE(std::isnan(v));
}

}  // namespace
}  // namespace zorvatools
