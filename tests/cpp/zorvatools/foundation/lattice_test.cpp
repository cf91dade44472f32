#include "zorvatools/foundation/lattice.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zorvatools {
namespace {

TEST(Lattice, NodeXyWithAndWithoutFlip) {
  Lattice lattice{1000, 2000, 50, 25, 10, 10, 0, false};
  EXPECT_EQ(lattice.node_xy(2, 3), (Point2{1100, 2075}));
  lattice.yflip = true;
  EXPECT_EQ(lattice.node_xy(2, 3), (Point2{1100, 1925}));
}

TEST(Lattice, RotationNinetyPutsTheIAxisAlongY) {
  const Lattice lattice{0, 0, 10, 5, 3, 3, 90, false};
  const Point2 p = lattice.node_xy(1, 0);
  EXPECT_NEAR(p.x, 0, 1e-12);
  EXPECT_DOUBLE_EQ(p.y, 10);
}

TEST(Lattice, XyToIjInvertsNodeXyForAnyRotationAndFlip) {
  for (double rotation : {0.0, 30.0, 90.0, -135.0, 400.0}) {
    for (bool flip : {false, true}) {
      const Lattice lattice{-500, 7000, 12.5, 40, 9, 9, rotation, flip};
      for (double i : {0.0, 3.0, 8.0}) {
        for (double j : {0.0, 1.0, 7.0}) {
          const Point2 p = lattice.node_xy(i, j);
          auto ij = lattice.xy_to_ij(p.x, p.y);
          ASSERT_TRUE(ij.has_value());
          EXPECT_NEAR(ij->first, i, 1e-9);
          EXPECT_NEAR(ij->second, j, 1e-9);
        }
      }
    }
  }
}

TEST(Lattice, XyToIjIsUndefinedForDegenerateInput) {
  Lattice lattice{0, 0, 0, 1, 2, 2, 0, false};
  EXPECT_FALSE(lattice.xy_to_ij(1, 1));
  lattice.spacing_x = 1;
  EXPECT_FALSE(lattice.xy_to_ij(std::nan(""), 1));
  lattice.rotation_deg = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(lattice.xy_to_ij(1, 1));
  lattice.rotation_deg = 0;
  auto outside = lattice.xy_to_ij(-3, 5);
  ASSERT_TRUE(outside);
  EXPECT_EQ(outside->first, -3);  // not clipped to the lattice
}

}  // namespace
}  // namespace zorvatools
