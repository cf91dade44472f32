#include "zorvastatic/model/builder.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "zorvastatic/model/flat_model.hpp"

namespace zorvastatic {
namespace {

const double kNaN = std::nan("");

std::shared_ptr<const Horizon> horizon(std::string name, HorizonRole role, std::size_t ni,
                                       std::size_t nj, double depth) {
  return std::make_shared<Horizon>(
      Horizon{std::move(name), std::vector<double>(ni * nj, depth), ni, nj, role});
}

Wireframe wireframe(std::vector<std::shared_ptr<const Horizon>> horizons) {
  return Wireframe{{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}},
                   {Contact{2100, ContactKind::Owc}},
                   std::move(horizons)};
}

BuildSpec spec(double area = 1e6, double gross = 50, std::size_t nk = 5) {
  return BuildSpec{Conformity::proportional(), area, gross, nk, ConstantPriors{0.25, 0.8, 0.3}};
}

TEST(FromWireframe, ValidatesInOrder) {
  const auto top = horizon("T", HorizonRole::Top, 3, 3, 2000);
  EXPECT_ERROR_TEXT(StaticModelBuilder::from_wireframe(wireframe({}), spec()),
                    "grid error: wireframe has no Top horizon");
  EXPECT_ERROR_TEXT(StaticModelBuilder::from_wireframe(
                        wireframe({horizon("T", HorizonRole::Top, 1, 5, 2000)}), spec(0, 0, 0)),
                    "grid error: top surface needs at least 2x2 nodes");
  EXPECT_ERROR_TEXT(StaticModelBuilder::from_wireframe(wireframe({top}), spec(0, 1, 0)),
                    "grid error: nk must be non-zero");
  for (double bad : {0.0, -1.0, kNaN, static_cast<double>(INFINITY)}) {
    auto result = StaticModelBuilder::from_wireframe(wireframe({top}), spec(bad, bad));
    ASSERT_FALSE(result);
    EXPECT_TRUE(
        result.error().display().starts_with("invalid input: area_m2 must be finite and > 0"));
  }
  EXPECT_ERROR_TEXT(StaticModelBuilder::from_wireframe(wireframe({top}), spec(1, -2)),
                    "invalid input: gross_height_m must be finite and > 0, got -2");
  EXPECT_ERROR_TEXT(StaticModelBuilder::from_wireframe(
                        wireframe({horizon("T", HorizonRole::Top, 3, 3, kNaN)}), spec()),
                    "grid error: top surface is fully undefined (all NaN)");
  Wireframe dry = wireframe({top, horizon("I", HorizonRole::Intermediate, 3, 3, 1)});
  dry.contacts.clear();
  EXPECT_ERROR_TEXT(StaticModelBuilder::from_wireframe(dry, spec()),
                    "grid error: wireframe has no fluid contact");
}

TEST(FromWireframe, BaseAndIntermediateWarnings) {
  const auto top = horizon("T", HorizonRole::Top, 3, 3, 2000);
  const auto nan_base = horizon("B0", HorizonRole::Base, 3, 3, kNaN);
  const auto wrong = horizon("B1", HorizonRole::Base, 4, 3, 2050);
  const auto base = horizon("B2", HorizonRole::Base, 3, 3, 2040);
  const auto extra = horizon("B3", HorizonRole::Base, 3, 3, 2060);
  const auto mid = horizon("M", HorizonRole::Intermediate, 3, 3, 2020);
  const auto second_top = horizon("T2", HorizonRole::Top, 3, 3, 1);
  ASSERT_OK_AND_ASSIGN(
      StaticModelBuilder builder,
      StaticModelBuilder::from_wireframe(
          wireframe({top, nan_base, wrong, base, extra, mid, second_top}), spec()));
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"B0", "Base surface is fully undefined (all NaN)"},
      {"B1", "Base lattice 4x3 does not match Top 3x3"},
      {"B3", "a Base horizon is already in use (only the first is honoured)"},
      {"M", "intermediate horizons are unused until multi-zone layering (P5)"},
  };
  ASSERT_EQ(builder.warnings.size(), expected.size());
  for (std::size_t n = 0; n < expected.size(); ++n) {
    EXPECT_EQ(builder.warnings[n].kind, BuildWarning::Kind::Horizon);
    EXPECT_EQ(builder.warnings[n].horizon, expected[n].first);
    EXPECT_EQ(builder.warnings[n].message, expected[n].second);
  }
  EXPECT_EQ(builder.warnings[3].role, HorizonRole::Intermediate);
  ASSERT_TRUE(builder.base_controls.has_value());
  EXPECT_EQ(builder.base_controls->front().z, 2040);
  EXPECT_EQ(builder.top_max_i, 2u);
  EXPECT_EQ(builder.inputs_ref_string(), "wireframe");
  EXPECT_GT(builder.spill_budget_bytes, 0u);
  EXPECT_EQ(builder.wireframe.horizons[0].get(), top.get());  // shared, never copied
}

TEST(Build, FlatModelGeometryAndPopulation) {
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder builder, flat_model_builder({}));
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(builder).build());
  const Dims& dims = model.grid.dims();
  EXPECT_EQ(dims, (Dims{10, 10, 5}));
  const CellCorners corners = model.grid.geom.cell_corners({9, 9, 4});
  EXPECT_DOUBLE_EQ(corners[7].x, 1000);
  EXPECT_DOUBLE_EQ(corners[7].y, 1000);
  EXPECT_DOUBLE_EQ(corners[0].z, 2040);
  EXPECT_DOUBLE_EQ(corners[7].z, 2050);  // base = top + gross height exactly
  EXPECT_EQ(model.property_names(), (std::vector<std::string>{"NTG", "PORO", "SW"}));
  EXPECT_EQ(model.zone_table.zones.size(), 1u);
  EXPECT_EQ(model.provenance.inputs_ref, "wireframe");
  EXPECT_TRUE(model.provenance.warnings.empty());
  ASSERT_OK_AND_ASSIGN(InPlace in_place, model.in_place_impl(false));
  EXPECT_DOUBLE_EQ(in_place.grv_m3, 5e7);
  EXPECT_EQ(in_place.cells, 500u);
  EXPECT_DOUBLE_EQ(*model.bulk_volume(), 5e7);
}

TEST(Build, SolvedBaseHonoursControlsAndMinThicknessRepairs) {
  auto base = std::make_shared<Horizon>(*horizon("B", HorizonRole::Base, 3, 3, 2040));
  base->depths[4] = 1990;  // the middle node crosses 10 m above the top
  const auto top = horizon("T", HorizonRole::Top, 3, 3, 2000);
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder refused,
                       StaticModelBuilder::from_wireframe(wireframe({top, base}), spec()));
  auto crossed = std::move(refused).build();
  ASSERT_FALSE(crossed);
  EXPECT_EQ(crossed.error().kind(), StaticError::Kind::CrossedSurfaces);
  EXPECT_EQ(crossed.error().nodes(), 1u);
  EXPECT_NEAR(crossed.error().worst_m(), -10, 1e-9);

  ASSERT_OK_AND_ASSIGN(StaticModelBuilder repaired,
                       StaticModelBuilder::from_wireframe(wireframe({top, base}), spec()));
  repaired.min_thickness_m = 5;
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(repaired).build());
  ASSERT_EQ(model.provenance.warnings.size(), 1u);
  const BuildWarning& warning = model.provenance.warnings[0];
  EXPECT_EQ(warning.kind, BuildWarning::Kind::ThicknessRepaired);
  EXPECT_EQ(warning.count, 1u);
  EXPECT_NEAR(warning.worst_m, -10, 1e-9);
  // The repaired middle node sits 5 m below the top: corner 7 of cell (0, 0) is node (1, 1).
  EXPECT_DOUBLE_EQ(model.grid.geom.cell_corners({0, 0, 4})[7].z, 2005);

  ASSERT_OK_AND_ASSIGN(StaticModelBuilder clamped,
                       StaticModelBuilder::from_wireframe(wireframe({top, base}), spec()));
  clamped.clamp_crossings = true;
  ASSERT_OK_AND_ASSIGN(StaticModel flat_middle, std::move(clamped).build());
  EXPECT_DOUBLE_EQ(flat_middle.grid.geom.cell_corners({0, 0, 4})[7].z, 2000);
  // Cells whose four columns all collapse would be pinched; here only the middle node does.
}

TEST(Build, PinchedCellsAreReported) {
  const auto top = horizon("T", HorizonRole::Top, 2, 2, 2000);
  const auto base = horizon("B", HorizonRole::Base, 2, 2, 2000);
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder builder, StaticModelBuilder::from_wireframe(
                                                       wireframe({top, base}), spec(1e4, 10, 3)));
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(builder).build());
  ASSERT_EQ(model.provenance.warnings.size(), 1u);
  EXPECT_EQ(model.provenance.warnings[0].kind, BuildWarning::Kind::PinchedCells);
  EXPECT_EQ(model.provenance.warnings[0].count, 3u);
}

TEST(Build, ZonePriorsAndPipelinesAndInputsRef) {
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder builder, flat_model_builder({}));
  builder.inputs_ref = "survey-7";
  builder.zone_priors.push_back({"RESERVOIR", ConstantPriors{0.1, 0.5, 0.9}});
  // A well at the centre of column (2, 3) with samples in the top layer only.
  builder.pipelines.push_back(PropertyPipeline::upscale_only(
      "KX", {WellLog{{{2003, 10}, {2007, 30}}, 250, 350}}, UpscaleMethod::Arithmetic));
  builder.zone_pipelines.push_back(
      {"RESERVOIR", PropertyPipeline::upscale_only("PORO", {WellLog{{{2015, 0.3}}, 50, 50}},
                                                   UpscaleMethod::Arithmetic)});
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(builder).build());
  EXPECT_EQ(model.provenance.inputs_ref, "survey-7");
  ASSERT_EQ(model.provenance.property_reports.size(), 2u);
  EXPECT_EQ(model.provenance.property_reports[0].property, "KX");
  EXPECT_EQ(model.provenance.property_reports[1].property, "PORO");
  const auto& kx = model.grid.properties.get("KX")->values;
  const Dims& dims = model.grid.dims();
  EXPECT_DOUBLE_EQ(kx[dims.linear(2, 3, 0)], 20);
  EXPECT_TRUE(std::isnan(kx[dims.linear(2, 3, 1)]));
  const auto& poro = model.grid.properties.get("PORO")->values;
  EXPECT_DOUBLE_EQ(poro[dims.linear(0, 0, 1)], 0.3);  // the zone pipeline's cell
  EXPECT_DOUBLE_EQ(poro[dims.linear(0, 0, 0)], 0.1);  // zone prior elsewhere
  EXPECT_DOUBLE_EQ(model.grid.properties.get("SW")->values[0], 0.9);
}

TEST(Build, ZonePopulationFailuresNameTheZone) {
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder unknown, flat_model_builder({}));
  unknown.zone_priors.push_back({"UPPER", ConstantPriors{}});
  EXPECT_ERROR_TEXT(std::move(unknown).build(),
                    "invalid input: per-zone population: zone 'UPPER' is not in the model's zone "
                    "table");
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder bad_pipe, flat_model_builder({}));
  bad_pipe.zone_pipelines.push_back(
      {"RESERVOIR", PropertyPipeline::upscale_only("PORO", {WellLog{{{2015, 0.0}}, 50, 50}},
                                                   UpscaleMethod::Harmonic)});
  EXPECT_ERROR_TEXT(std::move(bad_pipe).build(),
                    "invalid input: zone 'RESERVOIR': invalid input: geometric/harmonic mean "
                    "needs values > 0, got 0");
}

TEST(Build, TopFromFourCornersOrFromScatteredControls) {
  // Only the corners defined, at one depth: a flat top without a solve.
  auto corners = std::make_shared<Horizon>(*horizon("T", HorizonRole::Top, 4, 3, kNaN));
  for (std::size_t n : {0u, 3u, 8u, 11u}) corners->depths[n] = 1500;
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder flat,
                       StaticModelBuilder::from_wireframe(wireframe({corners}), spec(1e4, 10, 1)));
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(flat).build());
  for (std::size_t c = 0; c < 6; ++c) {
    for (int n = 0; n < 4; ++n) EXPECT_EQ(model.grid.geom.cell_depths(c)[n], 1500);
  }
  // A tilted plane from three non-corner controls is reproduced by the solve.
  auto tilted = std::make_shared<Horizon>(*horizon("T", HorizonRole::Top, 4, 3, kNaN));
  tilted->depths[1] = 1001;  // (1, 0)
  tilted->depths[6] = 1012;  // (2, 1)
  tilted->depths[8] = 1020;  // (0, 2): z = 1000 + i + 10 j
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder solved,
                       StaticModelBuilder::from_wireframe(wireframe({tilted}), spec(1e4, 10, 1)));
  ASSERT_OK_AND_ASSIGN(StaticModel plane, std::move(solved).build());
  const CellCorners c = plane.grid.geom.cell_corners({2, 1, 0});
  EXPECT_NEAR(c[0].z, 1012, 1e-9);
  EXPECT_NEAR(c[3].z, 1023, 1e-9);
}

TEST(Build, FlatModelSpacingFollowsTheArea) {
  FlatModelParams params;
  params.n = 5;
  params.area_m2 = 4e4;  // side 200 m over 4 cells
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder builder, flat_model_builder(params));
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(builder).build());
  const CellCorners c = model.grid.geom.cell_corners({1, 2, 0});
  EXPECT_DOUBLE_EQ(c[0].x, 50);
  EXPECT_DOUBLE_EQ(c[0].y, 100);
  EXPECT_DOUBLE_EQ(c[3].x, 100);
}

}  // namespace
}  // namespace zorvastatic
