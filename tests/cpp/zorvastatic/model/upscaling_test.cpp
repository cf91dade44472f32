#include <gtest/gtest.h>

#include <cmath>

#include "grid_fixtures.hpp"
#include "test_support.hpp"
#include "zorvastatic/model/areal_lattice.hpp"
#include "zorvastatic/model/pipeline.hpp"

namespace zorvastatic {
namespace {

using testing::box_grid;

// 4 x 3 columns of 100 m, 5 layers of 10 m from 2000 m; column centres at 50, 150, ...
Grid grid() {
  return box_grid(4, 3, 5);
}

PropertyPipeline pipeline(std::vector<WellLog> wells, UpscaleMethod method) {
  return PropertyPipeline::upscale_only("PORO", std::move(wells), method);
}

TEST(ArealLattice, CentresAndSpacingsOfTheColumns) {
  ASSERT_OK_AND_ASSIGN(zorvatools::Lattice lattice, areal_lattice(grid()));
  EXPECT_EQ(lattice.origin_x, 50);
  EXPECT_EQ(lattice.origin_y, 50);
  EXPECT_EQ(lattice.spacing_x, 100);
  EXPECT_EQ(lattice.spacing_y, 100);
  EXPECT_EQ(lattice.nx, 4u);
  EXPECT_EQ(lattice.ny, 3u);
}

TEST(ArealLattice, NeedsTwoByTwoColumns) {
  EXPECT_ERROR_TEXT(areal_lattice(box_grid(1, 7, 2)),
                    "invalid input: property pipeline needs an areal lattice of at least 2x2 "
                    "columns, got 1x7");
}

TEST(Upscale, AveragesSamplesPerCellAndCountsSharedBoundariesTwice) {
  // Column (1, 2); layer 0 spans 2000-2010, layer 1 spans 2010-2020.
  const WellLog well{{{2002, 0.1}, {2008, 0.3}, {2010, 0.5}, {2015, 0.2}}, 150, 250};
  ASSERT_OK_AND_ASSIGN(
      UpscaledCube up,
      upscale_cells_with_georef(pipeline({well}, UpscaleMethod::Arithmetic), grid(), std::nullopt));
  const Dims dims{4, 3, 5};
  EXPECT_DOUBLE_EQ(up.values[dims.linear(1, 2, 0)], 0.3);   // 0.1, 0.3, 0.5
  EXPECT_DOUBLE_EQ(up.values[dims.linear(1, 2, 1)], 0.35);  // 0.5, 0.2
  EXPECT_TRUE(std::isnan(up.values[dims.linear(1, 2, 2)]));
  EXPECT_TRUE(std::isnan(up.values[dims.linear(0, 2, 0)]));
  EXPECT_EQ(up.report.property, "PORO");
  EXPECT_EQ(up.report.informed_cells, 2u);
  EXPECT_EQ(up.report.sample_count, 5u);
  EXPECT_DOUBLE_EQ(up.report.sample_mean, (0.1 + 0.3 + 0.5 + 0.5 + 0.2) / 5);
  EXPECT_DOUBLE_EQ(up.report.upscaled_mean, 0.325);
  EXPECT_DOUBLE_EQ(up.report.min, 0.3);
  EXPECT_DOUBLE_EQ(up.report.max, 0.35);
  EXPECT_FALSE(up.report.simulated);
}

TEST(Upscale, WellAboveTheGridLeavesEverythingUndefined) {
  const WellLog well{{{100, 0.2}, {200, 0.3}}, 50, 50};
  ASSERT_OK_AND_ASSIGN(
      UpscaledCube up,
      upscale_cells_with_georef(pipeline({well}, UpscaleMethod::Arithmetic), grid(), std::nullopt));
  for (double v : up.values) EXPECT_TRUE(std::isnan(v));
  EXPECT_EQ(up.report.informed_cells, 0u);
  EXPECT_EQ(up.report.sample_count, 0u);
  for (double v : {up.report.sample_mean, up.report.upscaled_mean, up.report.min, up.report.max}) {
    EXPECT_TRUE(std::isnan(v));
  }
}

TEST(Upscale, HalfwayBetweenColumnsGoesToTheLargerIndexAndLaterWellsOverwrite) {
  const WellLog first{{{2005, 0.1}}, 100, 50};   // half-way between columns 0 and 1
  const WellLog second{{{2005, 0.4}}, 140, 60};  // same column, later in the list
  const WellLog outside{{{2005, 0.9}}, -80, 50};
  ASSERT_OK_AND_ASSIGN(
      UpscaledCube up,
      upscale_cells_with_georef(pipeline({first, second, outside}, UpscaleMethod::Arithmetic),
                                grid(), std::nullopt));
  const Dims dims{4, 3, 5};
  EXPECT_TRUE(std::isnan(up.values[dims.linear(0, 0, 0)]));
  EXPECT_DOUBLE_EQ(up.values[dims.linear(1, 0, 0)], 0.4);
  EXPECT_EQ(up.report.sample_count, 2u);
}

TEST(Upscale, HarmonicWithZeroSampleFails) {
  const WellLog well{{{2005, 0.0}, {2006, 4}}, 50, 50};
  EXPECT_ERROR_TEXT(
      upscale_cells_with_georef(pipeline({well}, UpscaleMethod::Harmonic), grid(), std::nullopt),
      "invalid input: geometric/harmonic mean needs values > 0, got 0");
  EXPECT_ERROR_TEXT(
      upscale_cells_with_georef({"NTG", std::nullopt, std::nullopt}, grid(), std::nullopt),
      "invalid input: property 'NTG' has no upscale step (call .upscale(...))");
}

TEST(Upscale, RotatedGeoreferenceIsTriedFirst) {
  // World frame: column centres from (1000, 5000), rotated 90 degrees: column i runs north.
  const Georef georef{1000, 5000, 100, 100, 90, false};
  const zorvatools::Point2 world = georef.lattice(4, 3).node_xy(2, 1);
  const WellLog well{{{2005, 0.25}}, world.x, world.y};
  ASSERT_OK_AND_ASSIGN(
      UpscaledCube up,
      upscale_cells_with_georef(pipeline({well}, UpscaleMethod::Arithmetic), grid(), georef));
  const Dims dims{4, 3, 5};
  EXPECT_DOUBLE_EQ(up.values[dims.linear(2, 1, 0)], 0.25);
}

TEST(Upscale, UnrotatedGeoreferenceFallsBackAfterTheLocalFrame) {
  const Georef georef{10000, 20000, 100, 100, 0, false};
  const WellLog local{{{2005, 0.1}}, 250, 150};      // local column (2, 1)
  const WellLog world{{{2005, 0.2}}, 10100, 20200};  // only the world frame places it: (1, 2)
  ASSERT_OK_AND_ASSIGN(UpscaledCube up,
                       upscale_cells_with_georef(
                           pipeline({local, world}, UpscaleMethod::Arithmetic), grid(), georef));
  const Dims dims{4, 3, 5};
  EXPECT_DOUBLE_EQ(up.values[dims.linear(2, 1, 0)], 0.1);
  EXPECT_DOUBLE_EQ(up.values[dims.linear(1, 2, 0)], 0.2);
}

}  // namespace
}  // namespace zorvastatic
