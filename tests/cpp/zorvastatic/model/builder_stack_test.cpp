#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>

#include "stack_fixtures.hpp"
#include "test_support.hpp"
#include "zorvastatic/model/builder.hpp"
#include "zorvastatic/model/stack_interfaces.hpp"
#include "zorvastatic/spill/spill.hpp"
#include "zorvastatic/model/view/map.hpp"
#include "zorvastatic/model/view/section.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

using Json = nlohmann::ordered_json;
using testing::grid_of;
using zorvatools::str_cat;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kColumnArea = 100.0 * 100.0;           // 5 x 5 nodes over 400 m x 400 m
constexpr double kHcpvFactor = 0.25 * 0.8 * (1 - 0.3);  // the builder's priors

// A wireframe with a flat 5 x 5 Top and one OWC that the stack road does not use.
StaticModelBuilder stack_builder(HorizonStack stack) {
  auto top = std::make_shared<Horizon>(
      Horizon{"Top", std::vector<double>(25, 2000), 5, 5, HorizonRole::Top});
  const Wireframe wireframe{
      {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}, {Contact{2100, ContactKind::Owc}}, {top}};
  const BuildSpec spec{Conformity::proportional(), 400.0 * 400.0, 50, 5, {0.25, 0.8, 0.3}};
  auto builder = StaticModelBuilder::from_wireframe(wireframe, spec);
  EXPECT_TRUE(builder);
  builder->horizon_stack = std::move(stack);
  return std::move(*builder);
}

std::vector<double> corners_only(double depth) {
  return grid_of(5, 5, [depth](std::size_t i, std::size_t j) {
    return i % 4 == 0 && j % 4 == 0 ? depth : kNaN;
  });
}

StackZone zone(std::string name, std::optional<std::string> label, std::size_t nk,
               std::vector<Contact> contacts = {}) {
  return {std::move(name), std::move(label), {Conformity::proportional(), nk}, std::move(contacts)};
}

// A flat at 2000 m; T from one well top (20 m below A by default); B mapped at its four corners
// 50 m below A; U from one top 10 m below B. Z1 has two layers and an OWC at 2010 m, Z2 three
// layers and no contact, Z3 one layer and an OWC at 2100 m.
HorizonStack layered_stack(double t_depth = 2020) {
  return {{StackHorizon::mapped("A", std::vector<double>(25, 2000), 5, 5),
           StackHorizon::tops_only("T", {{2, 2, t_depth}}),
           StackHorizon::mapped("B", corners_only(2050), 5, 5),
           StackHorizon::tops_only("U", {{0, 0, 2060}})},
          {zone("Z1", "red", 2, {{2010, ContactKind::Owc}}), zone("Z2", "green", 3),
           zone("Z3", std::nullopt, 1, {{2100, ContactKind::Owc}})}};
}

double depth_at(const StaticModel& model, std::size_t horizon, std::size_t i, std::size_t j) {
  return model.wireframe.horizons[horizon]->depths[i + 5 * j];
}

Result<StaticModel> build(HorizonStack stack,
                          const std::function<void(StaticModelBuilder&)>& configure = {}) {
  StaticModelBuilder builder = stack_builder(std::move(stack));
  if (configure) configure(builder);
  return std::move(builder).build();
}

TEST(StackBuild, ZonesFrameworkAndProvenance) {
  ASSERT_OK_AND_ASSIGN(const StaticModel model, build(layered_stack(), [](StaticModelBuilder& b) {
                         b.zone_priors.push_back({"Z2", {0.1, 0.5, 0.9}});
                         b.inputs_ref = "stack-case";
                       }));
  EXPECT_EQ(model.grid.dims(), (Dims{4, 4, 6}));
  // Zone table and zone provenance: name, top > base, label, k range.
  const StackRecord& record = *model.provenance.stack;
  std::vector<std::string> table, provenance;
  for (const Zone& z : model.zone_table.zones) {
    table.push_back(str_cat(z.name, ":", z.top, ">", z.base, ":", z.label.value_or("-"), ":",
                            z.k_start, "-", z.k_end));
  }
  for (const ZoneProvenance& z : record.stack.zones) {
    provenance.push_back(str_cat(z.zone, ":", z.top_horizon, ">", z.base_horizon, ":",
                                 z.layering.nk, ":", z.k_start, "-", z.k_end));
  }
  EXPECT_EQ(table,
            (std::vector<std::string>{"Z1:A>T:red:0-2", "Z2:T>B:green:2-5", "Z3:B>U:-:5-6"}));
  EXPECT_EQ(provenance, (std::vector<std::string>{"Z1:A>T:2:0-2", "Z2:T>B:3:2-5", "Z3:B>U:1:5-6"}));

  // The model's wireframe records the resolved stack: its surfaces, the zones' contacts in
  // zone order and the unit-square outline (no georeference, no explicit boundary).
  const Wireframe& framework = model.wireframe;
  ASSERT_EQ(framework.horizons.size(), 4u);
  const double depths[] = {2000, 2020, 2050, 2060};
  const HorizonRole roles[] = {HorizonRole::Top, HorizonRole::Intermediate,
                               HorizonRole::Intermediate, HorizonRole::Base};
  for (std::size_t h = 0; h < 4; ++h) {
    EXPECT_EQ(framework.horizons[h]->role, roles[h]);
    for (const double z : framework.horizons[h]->depths) EXPECT_NEAR(z, depths[h], 1e-6);
  }
  ASSERT_EQ(framework.contacts.size(), 2u);
  EXPECT_EQ(framework.contacts[0].depth_m, 2010);
  EXPECT_EQ(framework.contacts[1].depth_m, 2100);
  EXPECT_EQ(framework.outline, (std::vector<Point2>{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}));

  using M = ResolutionMethod;
  EXPECT_EQ(record.stack.horizons,
            (std::vector<HorizonResolution>{{"A", true, M::Reference, "", 25},
                                            {"T", false, M::TopsBetween, "A", 1},
                                            {"B", true, M::Isochore, "A", 4},
                                            {"U", false, M::TopsBelow, "B", 1}}));
  EXPECT_TRUE(record.interface_repairs.empty());
  EXPECT_TRUE(record.well_ties.empty());
  EXPECT_TRUE(model.provenance.warnings.empty());
  EXPECT_EQ(model.provenance.inputs_ref, "stack-case");

  // Zone priors reach exactly the layers of their zone.
  const std::vector<double>& poro = model.grid.properties.get("PORO")->values;
  for (std::size_t k = 0; k < 6; ++k) EXPECT_EQ(poro[16 * k], k >= 2 && k < 5 ? 0.1 : 0.25) << k;
}

// Per-zone volumes with each zone's own contacts: Z1 keeps its upper layer (above 2010 m), Z2
// has no contact and counts gross volume only, Z3 lies wholly above its 2100 m contact.
TEST(StackBuild, PerZoneVolumesUseZoneContactsInMemoryAndSpilled) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zv-stack-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  for (const bool spilled : {false, true}) {
    ASSERT_OK_AND_ASSIGN(const StaticModel model,
                         build(layered_stack(), [&](StaticModelBuilder& b) {
                           if (!spilled) return;
                           b.spill_budget_bytes = 0;
                           b.spill_dir = pattern;
                         }));
    EXPECT_EQ(model.spilled(), spilled);
    ASSERT_OK_AND_ASSIGN(const ZonedInPlace by_zone, model.in_place_by_zone());
    const double cell = kColumnArea * 10;
    const struct {
      std::size_t cells;
      double hcpv_fraction;
    } expected[] = {{16, kHcpvFactor}, {48, 0}, {16, kHcpvFactor}};
    ASSERT_EQ(by_zone.zones.size(), 3u);
    for (std::size_t z = 0; z < 3; ++z) {
      const InPlace& got = by_zone.zones[z].in_place;
      EXPECT_EQ(got.cells, expected[z].cells) << z;
      EXPECT_NEAR(got.grv_m3, cell * double(expected[z].cells), 1e-3) << z;
      EXPECT_NEAR(got.hcpv_m3, got.grv_m3 * expected[z].hcpv_fraction, 1e-3) << z;
    }
    EXPECT_EQ(by_zone.total.cells, 80u);
    // The whole model is clipped by the first of the flattened contacts (2010 m).
    ASSERT_OK_AND_ASSIGN(const InPlace whole, model.in_place_impl(false));
    EXPECT_EQ(whole.cells, 16u);
  }
  std::filesystem::remove_all(pattern);
}

TEST(StackBuild, WellTiesWithAndWithoutRadius) {
  const double radius_m = 150;  // reaches the corner (0, 0), 141 m from the tie node (1, 1)
  for (const std::optional<double> radius : {std::optional<double>(), std::optional(radius_m)}) {
    ASSERT_OK_AND_ASSIGN(const StaticModel model,
                         build(layered_stack(), [&](StaticModelBuilder& b) {
                           b.well_ties = {{"W1", {{"B", 2056}, {"T", 2018}}, 150, 150, 1, 1}};
                           b.tie_radius_m = radius;
                         }));
    const StackRecord& record = *model.provenance.stack;
    ASSERT_EQ(record.well_ties.size(), 1u);
    const WellTieRecord& tie = record.well_ties[0];
    ASSERT_EQ(tie.residuals.size(), 2u);
    EXPECT_EQ(tie.residuals[0].horizon, "B");
    EXPECT_EQ(tie.residuals[0].pick_depth, 2056);
    EXPECT_NEAR(tie.residuals[0].surface_depth, 2050, 1e-6);
    EXPECT_NEAR(tie.residuals[0].residual, 6, 1e-6);
    EXPECT_NEAR(tie.residuals[1].residual, -2, 1e-6);  // tops-only: recorded, nothing edited
    EXPECT_EQ(record.stack.tie_residuals.size(), 2u);

    // The mapped horizon is re-resolved through the pick; the cone lifts the corner control.
    EXPECT_NEAR(depth_at(model, 2, 1, 1), 2056, 1e-6);
    const double corner = radius ? 2050 + 6 * (1 - std::hypot(100.0, 100.0) / radius_m) : 2050;
    EXPECT_NEAR(depth_at(model, 2, 0, 0), corner, 1e-6);
    EXPECT_NEAR(depth_at(model, 1, 1, 1), 2020, 1e-6);

    ASSERT_OK_AND_ASSIGN(const std::string text, map_bundle(model, MapSpec{}));
    const Json wells = Json::parse(text)["wells"];
    ASSERT_EQ(wells.size(), 1u);
    EXPECT_EQ(wells[0]["id"], "W1");
    EXPECT_EQ(wells[0]["x"], 150.0);
    EXPECT_NEAR(wells[0]["tie_residual_m"].get<double>(), 2, 1e-6);
    EXPECT_EQ(wells[0]["ties"][1]["horizon"], "T");
    EXPECT_NEAR(wells[0]["ties"][1]["residual_m"].get<double>(), -2, 1e-6);
  }
}

TEST(StackBuild, CrossingTopsOnlyHorizons) {
  // T2's top is shallower than T1's: both resolve from A independently and cross.
  const auto crossing_stack = [] {
    return HorizonStack{
        {StackHorizon::mapped("A", std::vector<double>(25, 2000), 5, 5),
         StackHorizon::tops_only("T1", {{2, 2, 2030}}),
         StackHorizon::tops_only("T2", {{2, 2, 2020}}),
         StackHorizon::mapped("B", corners_only(2050), 5, 5)},
        {zone("Z1", std::nullopt, 1), zone("Z2", std::nullopt, 1), zone("Z3", std::nullopt, 1)}};
  };
  const auto refused = build(crossing_stack());
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), StaticError::Kind::CrossedSurfaces);
  EXPECT_EQ(refused.error().nodes(), 25u);
  EXPECT_NEAR(refused.error().worst_m(), -10, 1e-6);

  ASSERT_OK_AND_ASSIGN(
      const StaticModel clamped,
      build(crossing_stack(), [](StaticModelBuilder& b) { b.clamp_crossings = true; }));
  EXPECT_EQ(clamped.wireframe.horizons[2]->depths, clamped.wireframe.horizons[1]->depths);
  ASSERT_EQ(clamped.provenance.warnings.size(), 1u);  // the pinched middle zone
  EXPECT_EQ(clamped.provenance.warnings[0].kind, BuildWarning::Kind::PinchedCells);
  EXPECT_EQ(clamped.provenance.warnings[0].count, 16u);

  ASSERT_OK_AND_ASSIGN(
      const StaticModel repaired,
      build(crossing_stack(), [](StaticModelBuilder& b) { b.min_thickness_m = 2; }));
  ASSERT_EQ(repaired.provenance.stack->interface_repairs.size(), 1u);
  const InterfaceRepair& repair = repaired.provenance.stack->interface_repairs[0];
  EXPECT_EQ(repair.interface_index, 1u);
  EXPECT_EQ(repair.nodes_changed, 25u);
  EXPECT_NEAR(repair.summary_m, -10, 1e-6);
  EXPECT_NEAR(depth_at(repaired, 2, 3, 3), 2032, 1e-6);

  // A tops-only horizon 1 m above the mapped one below it yields upward to the minimum.
  ASSERT_OK_AND_ASSIGN(
      const StaticModel raised,
      build(layered_stack(2049), [](StaticModelBuilder& b) { b.min_thickness_m = 2; }));
  const auto& repairs = raised.provenance.stack->interface_repairs;
  ASSERT_EQ(repairs.size(), 1u);
  EXPECT_EQ(repairs[0].interface_index, 1u);
  EXPECT_EQ(repairs[0].nodes_changed, 25u);
  EXPECT_NEAR(repairs[0].summary_m, 1, 1e-6);
  EXPECT_NEAR(depth_at(raised, 1, 4, 4), 2048, 1e-6);
}

TEST(StackInterfaces, TopsOnlyUpperYieldsToMappedLower) {
  const Surface upper(2, 2, {2010, 2030, 2040, 2000});
  const Surface lower = Surface::constant(2, 2, 2020);
  const std::vector<bool> tops_only = {true, false};
  const auto refused = check_stack_interfaces({upper, lower}, tops_only, std::nullopt, false);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), StaticError::Kind::CrossedSurfaces);
  EXPECT_EQ(refused.error().nodes(), 2u);
  EXPECT_EQ(refused.error().worst_m(), -20);

  ASSERT_OK_AND_ASSIGN(const CheckedInterfaces clamped,
                       check_stack_interfaces({upper, lower}, tops_only, std::nullopt, true));
  EXPECT_EQ(clamped.surfaces[0].values(), (std::vector<double>{2010, 2020, 2020, 2000}));
  EXPECT_EQ(clamped.surfaces[1], lower);
  EXPECT_TRUE(clamped.repairs.empty());

  ASSERT_OK_AND_ASSIGN(const CheckedInterfaces repaired,
                       check_stack_interfaces({upper, lower}, tops_only, 5.0, false));
  EXPECT_EQ(repaired.surfaces[0].values(), (std::vector<double>{2010, 2015, 2015, 2000}));
  ASSERT_EQ(repaired.repairs.size(), 1u);
  EXPECT_EQ(repaired.repairs[0].nodes_changed, 2u);
  EXPECT_EQ(repaired.repairs[0].summary_m, -20);

  EXPECT_ERROR_TEXT(check_stack_interfaces({upper, lower}, tops_only, -1.0, false),
                    "invalid input: min_thickness_m must be finite and >= 0, got -1");
  EXPECT_ERROR_TEXT(
      check_stack_interfaces({Surface::constant(3, 2, 1), lower}, tops_only, std::nullopt, false),
      "invalid input: upper lattice 3x2 does not match lower 2x2");
}

TEST(StackBuild, RefusesBadTiesAndStacks) {
  using Configure = std::function<void(StaticModelBuilder&)>;
  const auto tie = [](std::size_t i, std::string horizon, double depth) {
    return [=](StaticModelBuilder& b) {
      b.well_ties = {{"W1", {{"B", 2051}, {horizon, depth}}, 0, 0, i, 1}};
    };
  };
  const auto radius = [](double r) {
    return [=](StaticModelBuilder& b) {
      b.tie_radius_m = r;
      b.well_ties = {{"W1", {{"B", 2051}}, 0, 0, 1, 1}};
    };
  };
  const auto stack = [](const std::function<void(HorizonStack&)>& edit) {
    return [=](StaticModelBuilder& b) { edit(*b.horizon_stack); };
  };
  const struct {
    Configure configure;
    const char* message;
  } cases[] = {
      {radius(kNaN), "invalid input: tie radius must be finite and positive, got NaN"},
      {radius(0), "invalid input: tie radius must be finite and positive, got 0"},
      {radius(-25), "invalid input: tie radius must be finite and positive, got -25"},
      {tie(5, "B", 2051), "grid error: well tie 'W1' node (5,1) is off the 5x5 control lattice"},
      {tie(1, "Q", 2051), "invalid input: well tie 'W1' names unknown horizon 'Q'"},
      {tie(1, "T", kNaN),
       "invalid input: well tie 'W1' pick on horizon 'T' has a non-finite depth NaN"},
      {[](StaticModelBuilder& b) { b.min_thickness_m = -1; },
       "invalid input: min_thickness_m must be finite and >= 0, got -1"},
      {stack([](HorizonStack& s) { s.horizons.resize(1); }),
       "invalid input: a horizon stack needs at least 2 surfaces, got 1"},
      {stack([](HorizonStack& s) { s.zones.pop_back(); }),
       "invalid input: expected 3 zone specs for 4 surfaces, got 2"},
      {stack([](HorizonStack& s) {
         s.horizons[2] = StackHorizon::mapped("B", std::vector<double>(20, 2050), 4, 5);
       }),
       "invalid input: mapped horizon 'B' lattice 4x5 does not match the 5x5 stack lattice"},
      {stack([](HorizonStack& s) {
         s.horizons[0] = StackHorizon::mapped("A", std::vector<double>(25, kNaN), 5, 5);
       }),
       "grid error: mapped horizon 'A' is fully undefined (all NaN)"},
      {stack([](HorizonStack& s) {
         s.horizons[0] = StackHorizon::tops_only("A", {{0, 0, 2000}});
         s.horizons[2] = StackHorizon::tops_only("B", {{0, 0, 2050}});
       }),
       "grid error: horizon stack has no mapped horizon (the first mapped horizon is its "
       "reference)"},
  };
  for (const auto& c : cases) EXPECT_ERROR_TEXT(build(layered_stack(), c.configure), c.message);
}

// T lies on A, so Z1 has no thickness: its cells are pinched, hold no volume and are drawn
// without a zone; the section traces the tops of Z2 and Z3.
TEST(StackBuild, ZeroThicknessZoneInVolumesAndViews) {
  ASSERT_OK_AND_ASSIGN(const StaticModel model, build(layered_stack(2000)));
  ASSERT_EQ(model.provenance.warnings.size(), 1u);
  EXPECT_EQ(model.provenance.warnings[0].kind, BuildWarning::Kind::PinchedCells);
  EXPECT_EQ(model.provenance.warnings[0].count, 32u);
  ASSERT_OK_AND_ASSIGN(const ZonedInPlace by_zone, model.in_place_by_zone());
  EXPECT_EQ(by_zone.zones[0].in_place.cells, 0u);
  EXPECT_EQ(by_zone.zones[0].in_place.grv_m3, 0);

  ASSERT_OK_AND_ASSIGN(
      const std::string text,
      intersection_bundle(model, SectionSpec::polyline({{50, 150}, {350, 150}}), std::nullopt));
  const Json section = Json::parse(text);
  EXPECT_EQ(section["top_name"], "A");
  EXPECT_EQ(section["base_name"], "U");
  EXPECT_EQ(section["zones"],
            Json::parse(R"([{"name":"Z1","color":"red"},{"name":"Z2","color":"green"},)"
                        R"({"name":"Z3","color":null}])"));
  ASSERT_EQ(section["columns"].size(), 4u);
  for (const Json& column : section["columns"]) {
    EXPECT_EQ(column["zone_ids"], Json::parse("[65535,65535,1,1,1,2]"));
  }
  ASSERT_EQ(section["horizon_traces"].size(), 2u);
  const double trace_depths[] = {2000, 2050};
  for (std::size_t t = 0; t < 2; ++t) {
    const Json& trace = section["horizon_traces"][t];
    EXPECT_EQ(trace["name"], t == 0 ? "T" : "B");
    ASSERT_EQ(trace["depths"].size(), 4u);
    for (const Json& depth : trace["depths"]) {
      EXPECT_NEAR(depth.get<double>(), trace_depths[t], 1e-6);
    }
  }

  ASSERT_OK_AND_ASSIGN(const std::string map_text, map_bundle(model, MapSpec{}));
  const Json map = Json::parse(map_text);
  EXPECT_EQ(map["horizons"][0]["name"], "A");
  EXPECT_EQ(map["horizons"][1]["name"], "U");
  EXPECT_EQ(map["wells"], Json::array());
}

// Over its budget a stack with constant priors is written plane by plane into the store: the
// grid read back is the in-memory one in 32-bit floats, with the same zones, pinched cells per
// zone, warnings and per-zone volumes. T at 2000 m (the second case) pinches every Z1 cell.
TEST(StackBuild, StreamedStackMatchesTheInMemoryOne) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zv-stream-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  for (const double t_depth : {2020.0, 2000.0}) {
    ASSERT_OK_AND_ASSIGN(const StaticModel memory, build(layered_stack(t_depth)));
    ::testing::internal::CaptureStderr();
    ASSERT_OK_AND_ASSIGN(const StaticModel streamed,
                         build(layered_stack(t_depth), [&](StaticModelBuilder& b) {
                           b.spill_budget_bytes = streaming_estimate(4 * 4 * 6) - 1;
                           b.spill_dir = pattern;
                         }));
    const std::string notice = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(streamed.spilled()) << t_depth;
    EXPECT_NE(notice.find("(96 cells)"), std::string::npos) << notice;

    ASSERT_OK_AND_ASSIGN(const Grid rebuilt, streamed.spill->to_in_core_grid());
    EXPECT_EQ(rebuilt.dims(), memory.grid.dims());
    EXPECT_EQ(rebuilt.geom.pillars(), memory.grid.geom.pillars());
    std::vector<double> rounded = memory.grid.geom.zcorn();
    for (double& z : rounded) z = static_cast<double>(static_cast<float>(z));
    EXPECT_EQ(rebuilt.geom.zcorn(), rounded);
    for (const char* name : {"NTG", "PORO", "SW"}) {
      std::vector<double> values = memory.grid.properties.get(name)->values;
      for (double& v : values) v = static_cast<double>(static_cast<float>(v));
      EXPECT_EQ(rebuilt.properties.get(name)->values, values) << name;
    }

    const auto describe = [](const StaticModel& model) {
      std::string text;
      for (std::size_t z = 0; z < model.zone_table.zones.size(); ++z) {
        const Zone& zone = model.zone_table.zones[z];
        text += str_cat(zone.name, ":", zone.top, ">", zone.base, ":", zone.label.value_or("-"),
                        ":", zone.k_start, "-", zone.k_end, ":");
        for (const Contact& c : model.zone_contacts->at(z)) text += str_cat(c.depth_m, " ");
      }
      return text;
    };
    EXPECT_EQ(describe(streamed), describe(memory));
    const auto& zones = streamed.provenance.stack->stack.zones;
    const auto& expected = memory.provenance.stack->stack.zones;
    ASSERT_EQ(zones.size(), expected.size());
    for (std::size_t z = 0; z < zones.size(); ++z) {
      EXPECT_EQ(zones[z].layering.pinched_cells, expected[z].layering.pinched_cells) << z;
      EXPECT_EQ(zones[z].layering.nk, expected[z].layering.nk) << z;
      EXPECT_EQ(zones[z].k_start, expected[z].k_start) << z;
    }
    ASSERT_EQ(streamed.provenance.warnings.size(), memory.provenance.warnings.size());
    for (std::size_t w = 0; w < memory.provenance.warnings.size(); ++w) {
      EXPECT_EQ(streamed.provenance.warnings[w].kind, memory.provenance.warnings[w].kind);
      EXPECT_EQ(streamed.provenance.warnings[w].count, memory.provenance.warnings[w].count);
    }
    ASSERT_OK_AND_ASSIGN(const ZonedInPlace a, memory.in_place_by_zone());
    ASSERT_OK_AND_ASSIGN(const ZonedInPlace b, streamed.in_place_by_zone());
    for (std::size_t z = 0; z < 3; ++z) {
      EXPECT_EQ(a.zones[z].in_place.cells, b.zones[z].in_place.cells) << z;
      EXPECT_NEAR(a.zones[z].in_place.hcpv_m3, b.zones[z].in_place.hcpv_m3,
                  1e-6 * a.zones[z].in_place.grv_m3 + 1e-9)
          << z;
    }
  }
  std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace zorvastatic
