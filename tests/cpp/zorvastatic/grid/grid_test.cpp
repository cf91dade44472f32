#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "zorvastatic/grid/box_construction.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {
namespace {

CellCorners unit_cube() {
  return {{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}}};
}

TEST(Dims, RejectsZeroSizes) {
  EXPECT_ERROR_TEXT(Dims::create(0, 5, 3), "grid error: dimensions must be non-zero, got (0,5,3)");
  ASSERT_OK_AND_ASSIGN(Dims dims, Dims::create(2, 3, 4));
  EXPECT_EQ(dims.cell_count(), 24u);
}

TEST(Dims, IterVisitsCellsInLinearOrderAndTripleInverts) {
  const Dims dims{3, 2, 2};
  std::size_t expected = 0;
  for (const CellIndex& cell : dims.iter()) {
    EXPECT_EQ(dims.linear(cell), expected);
    EXPECT_EQ(dims.triple(expected), cell);
    ++expected;
  }
  EXPECT_EQ(expected, 12u);
}

TEST(HexahedronVolume, UnitCubeIsMinusOneAndMirroringFlipsTheSign) {
  CellCorners cube = unit_cube();
  EXPECT_DOUBLE_EQ(hexahedron_volume(cube), -1.0);
  CellCorners mirrored;
  for (int n = 0; n < 8; ++n) mirrored[n] = cube[(n + 4) % 8];
  EXPECT_DOUBLE_EQ(hexahedron_volume(mirrored), 1.0);
}

TEST(HexahedronVolume, ScaledAndShearedBoxesAreExact) {
  CellCorners box = unit_cube();
  for (Point3& p : box) {
    p.x = p.x * 100 + 0.5 * p.z;  // shear along x keeps the volume
    p.y *= 50;
    p.z = p.z * 10 + 2000;
  }
  EXPECT_NEAR(std::fabs(hexahedron_volume(box)), 50000.0, 1e-7);
}

TEST(HexahedronVolume, WarpedCellIsTranslationInvariantAndMirrorsSign) {
  CellCorners warped = unit_cube();
  warped[3].z = 1;  // top face warped: corner 3 pulled down to the bottom plane
  const double v = hexahedron_volume(warped);
  EXPECT_GT(std::fabs(v), 0.5);
  EXPECT_LT(std::fabs(v), 1.0);
  CellCorners moved = warped;
  for (Point3& p : moved) p = {p.x + 1000, p.y - 250, p.z + 3000};
  EXPECT_NEAR(hexahedron_volume(moved), v, 1e-9);
  CellCorners mirrored;
  for (int n = 0; n < 8; ++n) mirrored[n] = warped[(n + 4) % 8];
  EXPECT_NEAR(hexahedron_volume(mirrored), -v, 1e-15);
}

TEST(BuildBox, UnitBoxHasUnitVolumeAndCornerPillars) {
  Grid box = unit_box();
  const auto& pillars = box.geom.pillars();
  ASSERT_EQ(pillars.size(), 4u);
  EXPECT_EQ(pillars[0], (Pillar{{0, 0, 0}, {0, 0, 1}}));
  EXPECT_EQ(pillars[1], (Pillar{{1, 0, 0}, {1, 0, 1}}));
  EXPECT_EQ(pillars[2], (Pillar{{0, 1, 0}, {0, 1, 1}}));
  EXPECT_EQ(pillars[3], (Pillar{{1, 1, 0}, {1, 1, 1}}));
  EXPECT_EQ(box.geom.cell_volume_at(0), 1.0);
  EXPECT_TRUE(box.geom.vertical());
  EXPECT_EQ(box.layers.size(), 1u);
  EXPECT_EQ(box.layers[0].name, "layer_0");
}

TEST(BuildBox, ValidatesInOrder) {
  EXPECT_ERROR_TEXT(build_box({0, 1, 1, 1, 1, 0, 1}),
                    "invalid input: area must be a finite value > 0, got 0");
  EXPECT_ERROR_TEXT(build_box({1, std::nan(""), 1, 1, 1, 0, 1}),
                    "invalid input: gross height must be a finite value > 0, got NaN");
  EXPECT_ERROR_TEXT(build_box({-1, -1, 1, 1, 1, 0, -1}),
                    "invalid input: area must be a finite value > 0, got -1");
  EXPECT_ERROR_TEXT(build_box({1, 1, 1, 1, 1, 0, INFINITY}),
                    "invalid input: aspect ratio must be a finite value > 0, got inf");
}

TEST(BuildBox, AspectRatioSetsExtentsAndLayersStack) {
  ASSERT_OK_AND_ASSIGN(Grid box, build_box({100, 30, 2, 1, 3, 1000, 4}));
  const auto& pillars = box.geom.pillars();
  EXPECT_EQ(pillars.back().top.x, 20);
  EXPECT_EQ(pillars.back().top.y, 5);
  const CellCorners bottom_cell = box.geom.cell_corners({1, 0, 2});
  EXPECT_EQ(bottom_cell[0].z, 1020);
  EXPECT_EQ(bottom_cell[7].z, 1030);
  double total = 0;
  for (std::size_t c = 0; c < box.dims().cell_count(); ++c) total += box.geom.cell_volume_at(c);
  EXPECT_NEAR(total, 100 * 30, 1e-9);
}

Pillar slanted() {
  return {{0, 0, 1000}, {100, 0, 2000}};
}

TEST(CornerPointGeom, CornersFollowSlantedPillarsAndExtrapolate) {
  EXPECT_EQ(point_on_pillar(slanted(), 1500).x, 50);
  EXPECT_EQ(point_on_pillar(slanted(), 2500).x, 150);
  EXPECT_EQ(point_on_pillar(slanted(), 500).x, -50);
  const Pillar flat{{3, 4, 10}, {9, 9, 10}};
  EXPECT_EQ(point_on_pillar(flat, 77), (Point3{3, 4, 77}));
}

CornerPointGeom slanted_cell(double depth) {
  std::vector<Pillar> pillars;
  for (int pj = 0; pj < 2; ++pj) {
    for (int pi = 0; pi < 2; ++pi) {
      const double x = pi * 10.0, y = pj * 10.0;
      pillars.push_back({{x, y, 0}, {x + 10, y, 10}});  // leans +x by 45 degrees
    }
  }
  std::vector<double> zcorn = {depth,     depth,     depth,     depth,
                               depth + 1, depth + 1, depth + 1, depth + 1};
  return CornerPointGeom(Dims{1, 1, 1}, std::move(pillars), std::move(zcorn));
}

TEST(CornerPointGeom, NonVerticalCellVolumeMatchesTheParallelepiped) {
  const CornerPointGeom geom = slanted_cell(20);  // below the pillars' bottom: extrapolated
  EXPECT_FALSE(geom.vertical());
  EXPECT_NEAR(geom.cell_volume_at(0), 100.0, 1e-9);
  EXPECT_EQ(geom.cell_corners({0, 0, 0})[0].x, 20);
}

TEST(CornerPointGeom, EqualDepthsGiveZeroVolume) {
  std::vector<Pillar> pillars = {{{0, 0, 0}, {0, 0, 1}},
                                 {{1, 0, 0}, {1, 0, 1}},
                                 {{0, 1, 0}, {0, 1, 1}},
                                 {{1, 1, 0}, {1, 1, 1}}};
  CornerPointGeom geom(Dims{1, 1, 1}, std::move(pillars), std::vector<double>(8, 5.0));
  EXPECT_EQ(geom.cell_volume_at(0), 0.0);
}

TEST(CornerPointGeom, BrokenInvariantsAreInternalFaults) {
  EXPECT_THROW(CornerPointGeom(Dims{1, 1, 1}, {}, std::vector<double>(8)),
               zorvatools::InternalFault);
  const CornerPointGeom geom = slanted_cell(0);
  EXPECT_THROW((void)geom.cell_corners({1, 0, 0}), zorvatools::InternalFault);
}

TEST(Properties, SetReplacesAndRejectsWrongCounts) {
  Properties properties(8);
  ASSERT_OK(properties.set({"PORO", std::vector<double>(8, 0.2)}));
  EXPECT_ERROR_TEXT(properties.set({"PORO", std::vector<double>(7, 0.3)}),
                    "invalid input: property 'PORO' has 7 values, expected 8");
  EXPECT_EQ(properties.get("PORO")->values[0], 0.2);  // the earlier cube stays
  ASSERT_OK(properties.set({"PORO", std::vector<double>(8, 0.3)}));
  EXPECT_EQ(properties.take_values("PORO"), std::vector<double>(8, 0.3));
  EXPECT_EQ(properties.get("PORO"), nullptr);
  EXPECT_TRUE(properties.take_values("absent").empty());
}

}  // namespace
}  // namespace zorvastatic
