#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <cmath>
#include <limits>

#include "stack_fixtures.hpp"
#include "test_support.hpp"
#include "zorvastatic/gridder/stack_framework.hpp"
#include "zorvastatic/gridder/stack_resolve.hpp"
#include "zorvastatic/gridder/stack_thickness.hpp"

namespace zorvastatic {
namespace {

using testing::grid_of;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const TaperSpec kTaper{};

double plane(std::size_t i, std::size_t j) {
  return 2000 + 2.0 * double(i) + double(j);
}

TEST(StackThickness, ControlsAndColocatedSamplesSkipUndefinedNodes) {
  const std::vector<double> upper = {10, kNaN, 10, 10, 10, 10};
  const std::vector<double> lower = {15, 20, 8, kNaN, 12, 13};
  EXPECT_EQ(controls_from_surface(lower, 3, 2),
            (std::vector<ControlPoint>{{0, 0, 15}, {1, 0, 20}, {2, 0, 8}, {1, 1, 12}, {2, 1, 13}}));
  // Thickness never goes negative: node (2, 0) has the lower surface above the upper.
  EXPECT_EQ(colocated_thickness_samples(upper, lower, {}, 3, 2),
            (std::vector<ControlPoint>{{0, 0, 5}, {2, 0, 0}, {1, 1, 2}, {2, 1, 3}}));
  const std::vector<double> extra(6, 1.5);
  EXPECT_EQ(colocated_thickness_samples(upper, lower, extra, 3, 2),
            (std::vector<ControlPoint>{{0, 0, 6.5}, {2, 0, 1.5}, {1, 1, 3.5}, {2, 1, 4.5}}));
}

TEST(StackThickness, PickFieldsFromTops) {
  const Surface surface(5, 4, grid_of(5, 4, plane));
  struct Case {
    std::vector<ControlPoint> tops;
    bool above;
    double constant;
  } cases[] = {
      {{{2, 1, plane(2, 1) + 20}}, false, 20},  // one top 20 m below: 20 m everywhere
      {{{2, 1, plane(2, 1) - 3}}, false, 0},    // a top above the surface: no thickness
      {{{3, 2, plane(3, 2) - 7}}, true, 7},     // one top 7 m above, as a height
      {{{3, 2, plane(3, 2) + 7}}, true, 0},
  };
  for (const Case& c : cases) {
    auto field = c.above ? pick_height_field(c.tops, surface, 5, 4, kTaper)
                         : pick_thickness_field(c.tops, surface, 5, 4, kTaper);
    ASSERT_OK(field);
    EXPECT_EQ(*field, std::vector<double>(20, c.constant));
  }

  // Several tops are solved: the field honours each and is nowhere negative.
  const std::vector<ControlPoint> tops = {
      {0, 0, plane(0, 0) + 4}, {4, 3, plane(4, 3) + 12}, {2, 2, plane(2, 2) - 5}};
  ASSERT_OK_AND_ASSIGN(const std::vector<double> field,
                       pick_thickness_field(tops, surface, 5, 4, kTaper));
  EXPECT_NEAR(field[0], 4, 1e-6);
  EXPECT_NEAR(field[4 + 5 * 3], 12, 1e-6);
  for (const double t : field) EXPECT_GE(t, 0);

  EXPECT_ERROR_TEXT(pick_thickness_field({}, surface, 5, 4, kTaper),
                    "invalid input: structural solve needs at least one control point");
  EXPECT_ERROR_TEXT(pick_thickness_field({{1, 1, 2000}, {5, 0, 2000}}, surface, 5, 4, kTaper),
                    "grid error: control (5,0) outside lattice 5x4");
}

TEST(StackFramework, BoundaryRing) {
  EXPECT_EQ(stack_boundary_ring(std::nullopt, std::nullopt, 3, 2),
            (std::vector<Point2>{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}));
  const Georef georef{0, 0, 10, 10, 0, false};
  EXPECT_EQ(stack_boundary_ring(std::nullopt, georef, 3, 2),
            (std::vector<Point2>{{-5, -5}, {15, -5}, {15, 5}, {-5, 5}, {-5, -5}}));
  // A y-flip runs rows towards -y; an explicit boundary wins over everything.
  const Georef flipped{100, 200, 10, 20, 0, true};
  EXPECT_EQ(stack_boundary_ring(std::nullopt, flipped, 3, 2)[2], (Point2{115, 190}));
  const std::vector<Point2> explicit_ring = {{1, 2}, {3, 4}, {5, 6}, {1, 2}};
  EXPECT_EQ(stack_boundary_ring(explicit_ring, georef, 3, 2), explicit_ring);
  // Rotated a quarter turn counter-clockwise, the i axis points along +y.
  const auto rotated = stack_boundary_ring(std::nullopt, Georef{0, 0, 10, 10, 90, false}, 3, 2);
  EXPECT_NEAR(rotated[1].x, 5, 1e-9);
  EXPECT_NEAR(rotated[1].y, 15, 1e-9);
}

// A plane reference A, tops-only T1 between A and the sparse map B (30 m below A), tops-only T2
// below B, on a 9 x 9 lattice.
HorizonStack four_horizon_stack() {
  const auto sparse = [](std::size_t i, std::size_t j) {
    return i % 4 == 0 && j % 4 == 0 ? plane(i, j) + 30 : kNaN;
  };
  return {{StackHorizon::mapped("A", grid_of(9, 9, plane), 9, 9),
           StackHorizon::tops_only("T1", {{2, 2, plane(2, 2) + 10}, {6, 6, plane(6, 6) + 35}}),
           StackHorizon::mapped("B", grid_of(9, 9, sparse), 9, 9),
           StackHorizon::tops_only("T2", {{4, 4, plane(4, 4) + 42}})},
          {}};
}

TEST(ResolveStack, TopsOnlyBetweenAndBelowMappedHorizons) {
  ASSERT_OK_AND_ASSIGN(const ResolvedStack resolved,
                       resolve_stack_surfaces(four_horizon_stack(), 9, 9, kTaper));
  EXPECT_EQ(resolved.horizons,
            (std::vector<HorizonResolution>{{"A", true, ResolutionMethod::Reference, "", 81},
                                            {"T1", false, ResolutionMethod::TopsBetween, "A", 2},
                                            {"B", true, ResolutionMethod::Isochore, "A", 9},
                                            {"T2", false, ResolutionMethod::TopsBelow, "B", 1}}));
  const Surface& a = resolved.surfaces[0];
  const Surface& t1 = resolved.surfaces[1];
  const Surface& b = resolved.surfaces[2];
  const Surface& t2 = resolved.surfaces[3];
  for (std::size_t j = 0; j < 9; ++j) {
    for (std::size_t i = 0; i < 9; ++i) {
      EXPECT_NEAR(a.at(i, j), plane(i, j), 1e-6);
      EXPECT_NEAR(b.at(i, j), plane(i, j) + 30, 1e-6);
      EXPECT_LE(a.at(i, j), t1.at(i, j));
      EXPECT_LE(t1.at(i, j), b.at(i, j));
      EXPECT_EQ(t2.at(i, j), b.at(i, j) + 12);  // one top: a constant 12 m below B
    }
  }
  EXPECT_NEAR(t1.at(2, 2), plane(2, 2) + 10, 1e-6);
  // The top 5 m below B stops exactly on B.
  EXPECT_EQ(t1.at(6, 6), b.at(6, 6));
}

// Horizons mapped on the reference's nodes reuse its factorisation; the surfaces must be those
// of separate solves, bit for bit, on any number of threads.
TEST(ResolveStack, SharedFactorisationMatchesSeparateSolves) {
  const auto on_grid_nodes = [](double below) {
    return grid_of(9, 9, [below](std::size_t i, std::size_t j) {
      return i % 3 == 0 && j % 4 == 0 ? plane(i, j) + below + 0.5 * double(i * j % 5) : kNaN;
    });
  };
  const HorizonStack stack{{StackHorizon::mapped("A", on_grid_nodes(0), 9, 9),
                            StackHorizon::mapped("B", on_grid_nodes(10), 9, 9),
                            StackHorizon::mapped("C", on_grid_nodes(25), 9, 9),
                            StackHorizon::mapped("D", on_grid_nodes(40), 9, 9)},
                           {}};
  const std::vector<double>& a = stack.horizons[0].grid()->values;
  const auto controls = controls_from_surface(a, 9, 9);
  ASSERT_OK_AND_ASSIGN(const Surface solved, solve_surface_converged(9, 9, controls));
  const Surface reference = taper_beyond_data(solved, controls, kTaper);
  for (const std::size_t threads : {1, 2}) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
    ASSERT_OK_AND_ASSIGN(const ResolvedStack resolved, resolve_stack_surfaces(stack, 9, 9, kTaper));
    EXPECT_EQ(resolved.surfaces[0], reference);
    std::vector<double> above(81, 0.0);
    for (std::size_t h = 1; h < 4; ++h) {
      const auto samples =
          colocated_thickness_samples(a, stack.horizons[h].grid()->values, {}, 9, 9);
      ASSERT_OK_AND_ASSIGN(const Surface thickness, solve_surface_converged(9, 9, samples));
      std::vector<double> c = taper_beyond_data(thickness, samples, kTaper).values();
      clamp_non_negative(c);
      for (std::size_t n = 0; n < c.size(); ++n) c[n] = std::fmax(c[n], above[n]);
      ASSERT_OK_AND_ASSIGN(const Surface expected, reference.offset_by_field(c));
      EXPECT_EQ(resolved.surfaces[h], expected) << stack.horizons[h].name;
      above = c;
    }
  }
}

TEST(ResolveStack, MappedHorizonsWithoutColocatedNodes) {
  // A defined on the left, B only on the right (a plane crossing A): B is solved from its own
  // nodes and coincides with A wherever it would lie above it. C shares no node with A either but
  // does with B, so its thickness is rebuilt below B.
  const auto left = [](std::size_t i, std::size_t) { return i <= 1 ? 2000.0 : kNaN; };
  const auto b_right = [](std::size_t i, std::size_t) { return i >= 3 ? 1990 + 5.0 * i : kNaN; };
  const auto c_right = [](std::size_t i, std::size_t) { return i >= 3 ? 2040.0 : kNaN; };
  const HorizonStack stack{{StackHorizon::mapped("A", grid_of(5, 5, left), 5, 5),
                            StackHorizon::mapped("B", grid_of(5, 5, b_right), 5, 5),
                            StackHorizon::mapped("C", grid_of(5, 5, c_right), 5, 5)},
                           {}};
  ASSERT_OK_AND_ASSIGN(const ResolvedStack resolved, resolve_stack_surfaces(stack, 5, 5, kTaper));
  EXPECT_EQ(resolved.horizons[1],
            (HorizonResolution{"B", true, ResolutionMethod::OwnNodes, "", 10}));
  EXPECT_EQ(resolved.horizons[2],
            (HorizonResolution{"C", true, ResolutionMethod::RebuiltAgainst, "B", 10}));
  const Surface& a = resolved.surfaces[0];
  for (std::size_t j = 0; j < 5; ++j) {
    for (std::size_t i = 0; i < 5; ++i) {
      const double own = 1990 + 5.0 * double(i);
      EXPECT_NEAR(resolved.surfaces[1].at(i, j), std::max(own, 2000.0), 1e-6);
      if (i < 2) {
        EXPECT_EQ(resolved.surfaces[1].at(i, j), a.at(i, j));
      }
      // Rebuilt below B where both are defined: C - B plus B's own thickness below A.
      EXPECT_GE(resolved.surfaces[2].at(i, j), resolved.surfaces[1].at(i, j));
    }
  }
  EXPECT_NEAR(resolved.surfaces[2].at(4, 2), 2040, 1e-6);
}

TEST(ResolveStack, MappedHorizonsNeverCrossAndTopsMayPrecedeTheReference) {
  // C is 5 m below A where B is 10 m below it: C is raised onto B there.
  const auto b = [](std::size_t, std::size_t) { return 2010.0; };
  const auto c = [](std::size_t i, std::size_t) { return i < 2 ? 2005.0 : 2020.0; };
  const HorizonStack stack{{StackHorizon::tops_only("T0", {{1, 1, 1993}}),
                            StackHorizon::mapped("A", std::vector<double>(16, 2000), 4, 4),
                            StackHorizon::mapped("B", grid_of(4, 4, b), 4, 4),
                            StackHorizon::mapped("C", grid_of(4, 4, c), 4, 4)},
                           {}};
  ASSERT_OK_AND_ASSIGN(const ResolvedStack resolved, resolve_stack_surfaces(stack, 4, 4, kTaper));
  EXPECT_EQ(resolved.horizons[0],
            (HorizonResolution{"T0", false, ResolutionMethod::TopsAbove, "A", 1}));
  for (std::size_t j = 0; j < 4; ++j) {
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(resolved.surfaces[0].at(i, j), resolved.surfaces[1].at(i, j) - 7);
      EXPECT_GE(resolved.surfaces[3].at(i, j), resolved.surfaces[2].at(i, j));
    }
  }
  EXPECT_EQ(resolved.surfaces[3].at(0, 0), resolved.surfaces[2].at(0, 0));
}

TEST(ResolveStack, RefusesBadStacks) {
  const auto good = [] { return StackHorizon::mapped("A", std::vector<double>(9, 2000), 3, 3); };
  StackHorizon short_values = good();
  short_values.grid()->values.pop_back();
  StackHorizon short_mask = good();
  short_mask.grid()->mask.resize(4);
  StackHorizon infinite = good();
  infinite.grid()->values[5] = std::numeric_limits<double>::infinity();
  const std::vector<double> undefined(9, kNaN);
  const struct {
    std::vector<StackHorizon> horizons;
    std::size_t ni;
    const char* message;
  } cases[] = {
      {{good()}, 1, "grid error: stack lattice must be at least 2x2, got 1x3"},
      {{},
       3,
       "grid error: horizon stack has no mapped horizon (the first mapped horizon is its "
       "reference)"},
      {{StackHorizon::tops_only("T", {{0, 0, 1}})},
       3,
       "grid error: horizon stack has no mapped horizon (the first mapped horizon is its "
       "reference)"},
      {{good()},
       4,
       "invalid input: mapped horizon 'A' lattice 3x3 does not match the 4x3 stack "
       "lattice"},
      {{short_values},
       3,
       "invalid input: mapped horizon 'A' has 8 control values, expected 9 (3x3)"},
      {{short_mask}, 3, "invalid input: mapped horizon 'A' has 4 control mask entries, expected 9"},
      {{infinite}, 3, "invalid input: mapped horizon 'A' has a non-finite depth inf at node (2,1)"},
      {{good(), StackHorizon::tops_only("T", {{1, 3, 2010}})},
       3,
       "grid error: tops-only horizon 'T' top (1,3) is off the 3x3 control lattice"},
      {{good(), StackHorizon::tops_only("T", {{1, 1, kNaN}})},
       3,
       "invalid input: tops-only horizon 'T' top (1,1) has a non-finite depth NaN"},
      {{good(), StackHorizon::tops_only("T", {})},
       3,
       "invalid input: structural solve needs at least one control point"},
      {{StackHorizon::mapped("N", undefined, 3, 3), good()},
       3,
       "grid error: mapped horizon 'N' is fully undefined (all NaN)"},
      {{good(), StackHorizon::mapped("N", undefined, 3, 3)},
       3,
       "grid error: mapped horizon 'N' is fully undefined (all NaN)"},
  };
  for (const auto& c : cases) {
    EXPECT_ERROR_TEXT(resolve_stack_surfaces({c.horizons, {}}, c.ni, 3, kTaper), c.message);
  }
}

}  // namespace
}  // namespace zorvastatic
