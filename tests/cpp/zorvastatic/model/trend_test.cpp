#include "zorvastatic/model/trend.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace zorvastatic {
namespace {

using zorvatools::Lattice;

TEST(TrendResample, LocalTrendIsStretchedOverTheTarget) {
  TrendSurface trend;
  trend.values = {0, 1, 2, 3, 4, 5, 6, 7, 8};  // value = i + 3 j on a 3 x 3 grid
  trend.nx = 3;
  trend.ny = 3;
  const Lattice target{50, 50, 100, 100, 10, 10, 0, false};
  auto out = trend.resample_to(target);
  ASSERT_TRUE(out);
  for (std::size_t j = 0; j < 10; ++j) {
    for (std::size_t i = 0; i < 10; ++i) {
      // Linear data is reproduced exactly by bilinear interpolation.
      EXPECT_NEAR((*out)(i, j), (i * 2.0 / 9.0) + 3 * (j * 2.0 / 9.0), 1e-12);
    }
  }
}

TEST(TrendResample, WorldTrendFarAwayCoversNothing) {
  TrendSurface trend;
  trend.values.assign(4, 1.0);
  trend.nx = 2;
  trend.ny = 2;
  trend.origin_x = 1e6;
  trend.spacing_x = trend.spacing_y = 10;
  trend.frame = TrendSurface::Frame::World;
  auto out = trend.resample_to(Lattice{0, 0, 10, 10, 5, 5, 0, false});
  ASSERT_TRUE(out);
  for (double v : out->data()) EXPECT_TRUE(std::isnan(v));
}

TEST(TrendResample, UndefinedNearestNodeAndPartialCorners) {
  TrendSurface trend;
  const double nan = std::nan("");
  trend.values = {1, nan, 3, 5};  // 2 x 2, node (1, 0) undefined
  trend.nx = 2;
  trend.ny = 2;
  trend.frame = TrendSurface::Frame::World;
  const Lattice target{0, 0, 0.25, 0.25, 5, 5, 0, false};  // source nodes 1 m apart
  auto out = trend.resample_to(target);
  ASSERT_TRUE(out);
  EXPECT_TRUE(std::isnan((*out)(4, 0)));  // nearest source node is the undefined one
  // (0.25, 0): only the two defined corners with weight count: (1*0.75) / 0.75 = 1
  EXPECT_DOUBLE_EQ((*out)(1, 0), 1.0);
  // (0.5, 0.5): weights 0.25 each on 1, 3, 5 -> 3
  EXPECT_DOUBLE_EQ((*out)(2, 2), 3.0);
  EXPECT_DOUBLE_EQ((*out)(4, 4), 5.0);
}

TEST(TrendResample, DegenerateSourceFails) {
  TrendSurface empty;
  auto out = empty.resample_to(Lattice{0, 0, 1, 1, 2, 2, 0, false});
  ASSERT_FALSE(out);
  EXPECT_EQ(out.error().display(),
            "invalid geometry: resample: degenerate source geometry (empty grid or zero node "
            "spacing)");
  TrendSurface flat;
  flat.values.assign(4, 1);
  flat.nx = flat.ny = 2;
  flat.spacing_x = 0;
  flat.frame = TrendSurface::Frame::World;
  EXPECT_FALSE(flat.resample_to(Lattice{0, 0, 1, 1, 2, 2, 0, false}));
}

}  // namespace
}  // namespace zorvastatic
