#include "zorvastatic/model/population.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "grid_fixtures.hpp"
#include "test_support.hpp"

namespace zorvastatic {
namespace {

using testing::box_grid;

const std::vector<double>& cube(const Grid& grid, const char* name) {
  return grid.properties.get(name)->values;
}

TEST(Populate, ConstantPriorsFillThreeCubes) {
  Grid grid = box_grid(2, 2, 3);
  ASSERT_OK(populate(grid, {0.25, 0.8, 0.3}, std::nullopt, std::nullopt, std::nullopt));
  EXPECT_EQ(cube(grid, "PORO"), std::vector<double>(12, 0.25));
  EXPECT_EQ(cube(grid, "NTG"), std::vector<double>(12, 0.8));
  EXPECT_EQ(cube(grid, "SW"), std::vector<double>(12, 0.3));
}

TEST(Populate, PriorsAreFractionsCheckedInOrder) {
  struct Case {
    ConstantPriors priors;
    const char* message;
  };
  const Case cases[] = {
      {{1.5, 0.8, 0.3}, "invalid input: porosity must be a fraction in [0,1], got 1.5"},
      {{-0.5, 2, 2}, "invalid input: porosity must be a fraction in [0,1], got -0.5"},
      {{std::nan(""), 0.8, 0.3}, "invalid input: porosity must be a fraction in [0,1], got NaN"},
      {{0.2, 1.01, 0.3}, "invalid input: net_to_gross must be a fraction in [0,1], got 1.01"},
      {{0.2, 0.8, -1}, "invalid input: water_saturation must be a fraction in [0,1], got -1"},
  };
  for (const Case& c : cases) {
    Grid grid = box_grid(2, 2, 1);
    EXPECT_ERROR_TEXT(populate(grid, c.priors, std::nullopt, std::nullopt, std::nullopt),
                      c.message);
    EXPECT_EQ(grid.properties.size(), 0u);
  }
  Grid grid = box_grid(2, 2, 1);
  EXPECT_TRUE(populate(grid, {1.0, 0.0, 1.0}, std::nullopt, std::nullopt, std::nullopt));
}

TEST(Populate, DepthProfileSelectsRecordsInclusively) {
  // Two layers: 2000-2025 and 2025-2050.
  Grid grid = box_grid(2, 2, 2);
  const std::vector<DepthRecord> profile = {
      {1990, 0.9, 0.9}, {2010, 0.1, 0.2}, {2025, 0.3, 0.6}, {2100, 0.9, 0.9}};
  ASSERT_OK(populate(grid, {0.25, 0.8, 0.3}, profile, std::nullopt, std::nullopt));
  const auto& poro = cube(grid, "PORO");
  const auto& sw = cube(grid, "SW");
  EXPECT_DOUBLE_EQ(poro[0], 0.2);  // 2010 and 2025 (on the bottom face)
  EXPECT_DOUBLE_EQ(sw[0], (0.1 * 0.2 + 0.3 * 0.6) / 0.4);
  EXPECT_DOUBLE_EQ(poro[4], 0.3);  // 2025 lies on the top face of the layer below too
  EXPECT_DOUBLE_EQ(sw[4], 0.6);
  EXPECT_EQ(cube(grid, "NTG"), std::vector<double>(8, 0.8));
}

TEST(Populate, CellsWithoutProfileRecordsGetThePriors) {
  Grid grid = box_grid(2, 2, 2);
  const std::vector<DepthRecord> profile = {{3000, 0.1, 0.1}};
  ASSERT_OK(populate(grid, {0.25, 0.8, 0.3}, profile, std::nullopt, std::nullopt));
  EXPECT_EQ(cube(grid, "PORO"), std::vector<double>(8, 0.25));
  EXPECT_EQ(cube(grid, "SW"), std::vector<double>(8, 0.3));
}

TEST(Populate, ProfileSwFailurePassesThrough) {
  Grid grid = box_grid(2, 2, 1);
  const std::vector<DepthRecord> profile = {{2010, 0.0, 0.5}};
  EXPECT_ERROR_TEXT(populate(grid, {0.25, 0.8, 0.3}, profile, std::nullopt, std::nullopt),
                    "invalid input: total pore volume is zero; Sw undefined");
}

TrendSurface local_trend(std::vector<double> values, std::size_t nx, std::size_t ny) {
  TrendSurface trend;
  trend.values = std::move(values);
  trend.nx = nx;
  trend.ny = ny;
  trend.frame = TrendSurface::Frame::Local;
  return trend;
}

TEST(Populate, ArealTrendScalesColumnsAndClamps) {
  Grid grid = box_grid(2, 2, 2);
  // Stretched over the 2 x 2 columns: factors 0.5, 1.5, 0, 2 around the mean 1.
  const ArealTrend areal{local_trend({0.5, 1.5, 0.0, 2.0}, 2, 2), true};
  ASSERT_OK(populate(grid, {0.4, 0.8, 0.3}, std::nullopt, areal, std::nullopt));
  const auto& ntg = cube(grid, "NTG");
  const auto& poro = cube(grid, "PORO");
  for (std::size_t k = 0; k < 2; ++k) {
    EXPECT_DOUBLE_EQ(ntg[4 * k + 0], 0.4);
    EXPECT_DOUBLE_EQ(ntg[4 * k + 1], 1.0);  // 1.2 clamped
    EXPECT_DOUBLE_EQ(ntg[4 * k + 2], 0.0);
    EXPECT_DOUBLE_EQ(ntg[4 * k + 3], 1.0);  // 1.6 clamped
    EXPECT_DOUBLE_EQ(poro[4 * k + 3], 0.8);
  }
  EXPECT_EQ(cube(grid, "SW"), std::vector<double>(8, 0.3));
}

TEST(Populate, UndefinedOrNonPositiveTrendLeavesCubesAlone) {
  for (const auto& values :
       {std::vector<double>(4, std::nan("")), std::vector<double>{-1, 1, -1, 0.5}}) {
    Grid grid = box_grid(2, 2, 1);
    ASSERT_OK(populate(grid, {0.2, 0.8, 0.3}, std::nullopt,
                       ArealTrend{local_trend(values, 2, 2), true}, std::nullopt));
    EXPECT_EQ(cube(grid, "NTG"), std::vector<double>(4, 0.8));
    EXPECT_EQ(cube(grid, "PORO"), std::vector<double>(4, 0.2));
  }
}

TEST(FillZoneLayers, OnlyTheZoneRangeChanges) {
  Grid grid = box_grid(2, 1, 3);
  ASSERT_OK(populate(grid, {0.2, 0.8, 0.3}, std::nullopt, std::nullopt, std::nullopt));
  ASSERT_OK(fill_zone_layers(grid, "PORO", {"Z", 1, 2}, 0.05, "zone-priors"));
  EXPECT_EQ(cube(grid, "PORO"), (std::vector<double>{0.2, 0.2, 0.05, 0.05, 0.2, 0.2}));
  EXPECT_ERROR_TEXT(fill_zone_layers(grid, "KH", {"Z", 0, 1}, 1, "zone-priors"),
                    "invalid input: zone-priors target cube 'KH' is not populated");
}

}  // namespace
}  // namespace zorvastatic
