#include "zorvastatic/gridder/surface.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "test_support.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {
namespace {

const double kNaN = std::nan("");

TEST(Surface, ConstantNeedsTwoByTwo) {
  EXPECT_EQ(Surface::constant(2, 3, 5.0).values(), std::vector<double>(6, 5.0));
  EXPECT_THROW(Surface::constant(1, 3, 5.0), zorvatools::InternalFault);
}

TEST(Surface, OffsetByFieldChecksCountThenFiniteness) {
  Surface s(2, 2, {1, kNaN, 3, 4});
  EXPECT_ERROR_TEXT(s.offset_by_field({0, 0, 0, 0, 0}),
                    "invalid input: offset field has 5 values, expected 4 (2x2)");
  Surface big(3, 2, std::vector<double>(6, 0.0));
  std::vector<double> field(6, 0.0);
  field[5] = std::numeric_limits<double>::infinity();
  EXPECT_ERROR_TEXT(big.offset_by_field(field),
                    "invalid input: offset field must be finite, got inf");
  ASSERT_OK_AND_ASSIGN(Surface moved, s.offset_by_field({10, 10, 10, 10}));
  EXPECT_EQ(moved.at(0, 0), 11);
  EXPECT_TRUE(std::isnan(moved.at(1, 0)));
  EXPECT_EQ(moved.at(1, 1), 14);
}

TEST(Surface, RepairMinThicknessMovesOnlyThinOrCrossedNodes) {
  const Surface top = Surface::constant(2, 2, 100);
  const Surface lower(2, 2, {99, 100, 101, kNaN});
  ASSERT_OK_AND_ASSIGN(ThicknessRepair zero, lower.repair_min_thickness(top, 0.0));
  EXPECT_EQ(zero.moved_nodes, 1u);
  EXPECT_EQ(zero.worst_m, -1);
  EXPECT_EQ(zero.surface.at(0, 0), 100);
  EXPECT_TRUE(std::isnan(zero.surface.at(1, 1)));

  ASSERT_OK_AND_ASSIGN(ThicknessRepair negzero, lower.repair_min_thickness(top, -0.0));
  EXPECT_EQ(negzero.moved_nodes, 1u);
  EXPECT_ERROR_TEXT(lower.repair_min_thickness(top, -1),
                    "invalid input: min_thickness_m must be finite and >= 0, got -1");
  EXPECT_ERROR_TEXT(lower.repair_min_thickness(top, kNaN),
                    "invalid input: min_thickness_m must be finite and >= 0, got NaN");
}

TEST(Surface, RepairOfUncrossedThinSurfaceReportsWorstZero) {
  const Surface top(2, 2, {100, 100, kNaN, 100});
  const Surface lower = *top.offset_by_field({2, 2, 2, 2});
  ASSERT_OK_AND_ASSIGN(ThicknessRepair r, lower.repair_min_thickness(top, 5));
  EXPECT_EQ(r.moved_nodes, 3u);  // the NaN node is never moved
  EXPECT_EQ(r.worst_m, 0);
  EXPECT_EQ(r.surface.at(0, 0), 105);
}

TEST(Surface, LatticeMismatchNamesBaseThenTop) {
  const Surface base = Surface::constant(3, 2, 1);
  const Surface top = Surface::constant(2, 4, 1);
  EXPECT_ERROR_TEXT(base.repair_min_thickness(top, 1),
                    "invalid input: base lattice 3x2 does not match top 2x4");
  EXPECT_ERROR_TEXT(base.guard_below(top, true),
                    "invalid input: base lattice 3x2 does not match top 2x4");
}

TEST(Surface, GuardBelowFailsOrClamps) {
  const Surface top = Surface::constant(3, 2, 100);
  const Surface base(3, 2, {97, 99, 97, 120, kNaN, 130});
  EXPECT_ERROR_TEXT(base.guard_below(top, false),
                    "base surface crosses above the top at 3 node(s); worst separation -3 m "
                    "(thin/crossing surfaces collapse GRV)");
  ASSERT_OK_AND_ASSIGN(Surface clamped, base.guard_below(top, true));
  EXPECT_EQ(clamped.values(), (std::vector<double>{100, 100, 100, 120, 100, 130}));
}

TEST(Surface, GuardBelowWithoutCrossingKeepsUndefinedNodes) {
  const Surface top = Surface::constant(2, 2, 100);
  const Surface base(2, 2, {kNaN, 110, 120, 130});
  ASSERT_OK_AND_ASSIGN(Surface kept, base.guard_below(top, true));
  EXPECT_TRUE(std::isnan(kept.at(0, 0)));
  EXPECT_EQ(kept.at(1, 1), 130);
}

}  // namespace
}  // namespace zorvastatic
