// Depths near the largest double: the solve must not turn finite controls into NaN.
#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "zorvastatic/gridder/surface_solve.hpp"
#include "zorvastatic/model/flat_model.hpp"

namespace zorvastatic {
namespace {

TEST(HugeDepths, ASolveOfFiniteControlsStaysFinite) {
  std::vector<ControlPoint> flat;
  std::vector<ControlPoint> tilted;
  for (std::size_t j = 0; j < 6; ++j) {
    for (std::size_t i = 0; i < 6; ++i) {
      flat.push_back({i, j, 1e308});
      if ((i + j) % 3 == 0) {
        tilted.push_back(
            {i, j, 1.7e308 - 1e307 * static_cast<double>(i) - 2e306 * static_cast<double>(j)});
      }
    }
  }
  ASSERT_OK_AND_ASSIGN(const Surface level, solve_surface_converged(6, 6, flat));
  for (double z : level.values()) EXPECT_EQ(z, 1e308);
  ASSERT_OK_AND_ASSIGN(const Surface plane, solve_surface_converged(6, 6, tilted));
  for (std::size_t j = 0; j < 6; ++j) {
    for (std::size_t i = 0; i < 6; ++i) {
      const double expected =
          1.7e308 - 1e307 * static_cast<double>(i) - 2e306 * static_cast<double>(j);
      EXPECT_NEAR(plane.at(i, j) / expected, 1.0, 1e-12) << i << ", " << j;
    }
  }
}

TEST(HugeDepths, AFlatModelAtTheEdgeOfTheDoublesBuilds) {
  FlatModelParams params;
  params.depth_m = 1e308;
  auto builder = flat_model_builder(params);
  ASSERT_TRUE(builder);
  ASSERT_OK_AND_ASSIGN(const StaticModel model, std::move(*builder).build());
  // 50 m below 1e308 is 1e308 again: every layer has lost its thickness.
  for (double z : model.grid.geom.zcorn()) EXPECT_EQ(z, 1e308);
  ASSERT_OK_AND_ASSIGN(const InPlace in_place, model.in_place_impl(false));
  EXPECT_EQ(in_place.cells, 0u);
  EXPECT_EQ(in_place.grv_m3, 0);
}

}  // namespace
}  // namespace zorvastatic
