// Explicit node spacing on both roads, its agreement with the georeference, and the name of the
// single-zone road's zone.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "stack_fixtures.hpp"
#include "test_support.hpp"
#include "zorvastatic/model/builder.hpp"

namespace zorvastatic {
namespace {

using testing::grid_of;

// A 5 x 3-node lattice: 4 x 2 columns of 25 m x 40 m, 100 m x 80 m in all.
constexpr std::size_t kNi = 5;
constexpr std::size_t kNj = 3;
constexpr double kDx = 25;
constexpr double kDy = 40;
constexpr double kFootprint = 4 * kDx * 2 * kDy;

StaticModelBuilder builder_of(double area_m2 = 1e6) {
  auto top = std::make_shared<Horizon>(
      Horizon{"Top", std::vector<double>(kNi * kNj, 2000), kNi, kNj, HorizonRole::Top});
  auto base = std::make_shared<Horizon>(
      Horizon{"Base", std::vector<double>(kNi * kNj, 2050), kNi, kNj, HorizonRole::Base});
  const Wireframe wireframe{
      {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}, {Contact{2100, ContactKind::Owc}}, {top, base}};
  const BuildSpec spec{Conformity::proportional(), area_m2, 50, 5, {0.25, 0.8, 0.3}};
  auto builder = StaticModelBuilder::from_wireframe(wireframe, spec);
  EXPECT_TRUE(builder);
  builder->node_spacing = NodeSpacing{kDx, kDy};
  return std::move(*builder);
}

void with_stack(StaticModelBuilder& builder) {
  builder.horizon_stack = HorizonStack{
      {StackHorizon::mapped("A", std::vector<double>(kNi * kNj, 2000), kNi, kNj),
       StackHorizon::mapped("B", std::vector<double>(kNi * kNj, 2020), kNi, kNj),
       StackHorizon::mapped("C", std::vector<double>(kNi * kNj, 2050), kNi, kNj)},
      {{"Z1", std::nullopt, {Conformity::proportional(), 2}, {}},
       {"Z2", std::nullopt, {Conformity::proportional(), 3}, {{2100, ContactKind::Owc}}}}};
}

void expect_pillars_on_the_spacing(const StaticModel& model) {
  const auto& pillars = model.grid.geom.pillars();
  ASSERT_EQ(pillars.size(), kNi * kNj);
  const Pillar& last = pillars.back();
  EXPECT_EQ(last.top.x, kDx * (kNi - 1));
  EXPECT_EQ(last.top.y, kDy * (kNj - 1));
}

TEST(NodeSpacing, HonouredOnBothRoadsWhateverTheArea) {
  ASSERT_OK_AND_ASSIGN(const StaticModel single, builder_of().build());
  expect_pillars_on_the_spacing(single);
  EXPECT_NEAR(*single.bulk_volume(), kFootprint * 50, 1e-6);

  StaticModelBuilder stacked = builder_of();
  with_stack(stacked);
  ASSERT_OK_AND_ASSIGN(const StaticModel stack, std::move(stacked).build());
  expect_pillars_on_the_spacing(stack);
  EXPECT_NEAR(*stack.bulk_volume(), kFootprint * 50, 1e-6);
}

TEST(NodeSpacing, TheStreamingRoadHonoursIt) {
  StaticModelBuilder builder = builder_of();
  builder.spill_budget_bytes = 1;  // any model streams
  const auto directory = std::filesystem::temp_directory_path() / "zv_spacing_spill";
  builder.spill_dir = directory;
  {
    ASSERT_OK_AND_ASSIGN(const StaticModel model, std::move(builder).build());
    ASSERT_TRUE(model.spilled());
    EXPECT_NEAR(*model.bulk_volume(), kFootprint * 50, 1e-3);
  }
  std::filesystem::remove_all(directory);
}

TEST(NodeSpacing, WellTieConesUseIt) {
  // A cone of 30 m around node (1, 1) reaches (0, 1) and (2, 1), 25 m away, but not (1, 0),
  // 40 m away: with the square-footprint rule both neighbours would lie 25 m away.
  StaticModelBuilder builder = builder_of();
  with_stack(builder);
  builder.well_ties = {{"W", {{"B", 2026}}, 25, 40, 1, 1}};
  builder.tie_radius_m = 30;
  ASSERT_OK_AND_ASSIGN(const StaticModel model, std::move(builder).build());
  const Horizon& b = *model.wireframe.horizons[1];
  EXPECT_NEAR(b.depths[1 + kNi * 1], 2026, 1e-9);
  EXPECT_NEAR(b.depths[0 + kNi * 1], 2020 + 6 * (1 - 25.0 / 30), 1e-9);
  EXPECT_NEAR(b.depths[1 + kNi * 0], 2020, 1e-9);
}

TEST(NodeSpacing, RefusedWhenNotPositiveOrAgainstTheGeoreference) {
  for (const NodeSpacing bad :
       {NodeSpacing{0, 1}, NodeSpacing{1, -1}, NodeSpacing{NAN, 1}, NodeSpacing{1, INFINITY}}) {
    StaticModelBuilder builder = builder_of();
    builder.node_spacing = bad;
    auto model = std::move(builder).build();
    ASSERT_FALSE(model);
    EXPECT_TRUE(model.error().display().starts_with(
        "invalid input: node spacing must be finite and > 0, got "));
  }
  for (const bool stack : {false, true}) {
    StaticModelBuilder builder = builder_of();
    if (stack) with_stack(builder);
    builder.georef = Georef{1000, 2000, kDx, 50, 30, true};
    EXPECT_ERROR_TEXT(std::move(builder).build(),
                      "invalid input: node spacing 25 x 40 m does not match the georeference "
                      "spacing 25 x 50 m");
  }
  StaticModelBuilder agreeing = builder_of();
  agreeing.georef = Georef{1000, 2000, kDx, kDy, 30, true};
  ASSERT_OK(std::move(agreeing).build());
}

TEST(NodeSpacing, AbsentKeepsTheSquareFootprint) {
  StaticModelBuilder builder = builder_of(400.0 * 400.0);
  builder.node_spacing.reset();
  builder.georef = Georef{0, 0, 7, 9, 0, false};  // not consulted for the spacing
  ASSERT_OK_AND_ASSIGN(const StaticModel model, std::move(builder).build());
  const Pillar& last = model.grid.geom.pillars().back();
  EXPECT_EQ(last.top.x, 400);
  EXPECT_EQ(last.top.y, 400);
}

TEST(SingleZoneName, NamesTheZoneItsPopulationAndItsTable) {
  StaticModelBuilder builder = builder_of();
  builder.single_zone_name = "Upper";
  builder.single_zone_label = "#d9a441";
  builder.zone_priors = {{"Upper", ConstantPriors{0.1, 0.5, 0.2}}};
  ASSERT_OK_AND_ASSIGN(const StaticModel model, std::move(builder).build());
  ASSERT_EQ(model.zone_table.zones.size(), 1u);
  EXPECT_EQ(model.zone_table.zones[0].name, "Upper");
  EXPECT_EQ(model.zone_table.zones[0].label, "#d9a441");
  EXPECT_EQ(model.grid.properties.get("PORO")->values.front(), 0.1);

  StaticModelBuilder unnamed = builder_of();
  unnamed.zone_priors = {{"Upper", ConstantPriors{}}};
  EXPECT_ERROR_TEXT(
      std::move(unnamed).build(),
      "invalid input: per-zone population: zone 'Upper' is not in the model's zone table");
}

}  // namespace
}  // namespace zorvastatic
