#include "zorvastatic/model/view/map.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "view_fixtures.hpp"

namespace zorvastatic {
namespace {

using testing::box_grid;
using testing::box_model;
using testing::Json;
using testing::keys_of;
using testing::set_cube;

const double kNaN = std::nan("");

Json parse_map(const StaticModel& model, const MapSpec& spec = {}) {
  auto text = map_bundle(model, spec);
  EXPECT_TRUE(text) << text.error().display();
  return text ? Json::parse(*text) : Json();
}

// 3 x 2 columns of 100 m, 4 layers of 10 m from 2000 m, PORO = k / 10.
StaticModel poro_model() {
  Grid grid = box_grid(3, 2, 4, 100, 100, 2000, 40);
  set_cube(grid, "PORO", [](auto, auto, std::size_t k) { return 0.1 * static_cast<double>(k); });
  return box_model(std::move(grid));
}

TEST(MapBundle, DefaultDocumentShape) {
  const StaticModel model = poro_model();
  const auto text = map_bundle(model, {});
  ASSERT_OK(text);
  EXPECT_TRUE(text->starts_with(R"({"schema_version":6,"inputs_ref":"wireframe","frame":{)"));
  const Json json = Json::parse(*text);
  EXPECT_EQ(keys_of(json), (std::vector<std::string>{"schema_version", "inputs_ref", "frame",
                                                     "outline", "horizons", "zone_averages",
                                                     "k_slices", "wells", "contacts"}));
  EXPECT_EQ(json["frame"]["ncol"], 3);
  EXPECT_EQ(json["outline"], Json::parse("[[[0.0,0.0],[1.0,0.0],[1.0,1.0],[0.0,1.0],[0.0,0.0]]]"));
  ASSERT_EQ(json["horizons"].size(), 2u);
  const Json& top = json["horizons"][0];
  EXPECT_EQ(keys_of(top), (std::vector<std::string>{"name", "units", "values", "range"}));
  EXPECT_EQ(top["name"], "top");
  EXPECT_EQ(json["horizons"][1]["name"], "BASE");
  for (const Json& layer : json["horizons"]) {
    EXPECT_EQ(layer["units"], "m");
    EXPECT_EQ(layer["values"].size(), 6u);
  }
  EXPECT_EQ(top["values"][5], 2000.0);
  EXPECT_EQ(json["horizons"][1]["values"][0], 2040.0);
  EXPECT_EQ(json["horizons"][1]["range"], Json::parse(R"({"min":2040.0,"max":2040.0})"));
  EXPECT_EQ(json["zone_averages"], Json::array());
  EXPECT_EQ(json["k_slices"], Json::array());
  EXPECT_EQ(json["wells"], Json::array());
  ASSERT_EQ(json["contacts"].size(), 1u);
  EXPECT_EQ(keys_of(json["contacts"][0]),
            (std::vector<std::string>{"kind", "depth_m", "crossing"}));
  EXPECT_EQ(json["contacts"][0]["kind"], "OWC");
  EXPECT_EQ(json["contacts"][0]["crossing"], Json(std::vector<bool>(6, false)));
}

TEST(MapBundle, KSliceIsCheckedOnlyWithAProperty) {
  const StaticModel model = poro_model();
  EXPECT_EQ(parse_map(model, {{}, 1000000})["k_slices"], Json::array());
  EXPECT_ERROR_TEXT(map_bundle(model, {{"PORO"}, 4}),
                    "invalid input: map_bundle: k_slice 4 out of range (nk=4)");
  EXPECT_ERROR_TEXT(map_bundle(model, {{"PERM"}, 4}),
                    "invalid input: map_bundle: no property 'PERM'");
  EXPECT_ERROR_TEXT(map_bundle(model, {{"PERM"}, std::nullopt}),
                    "invalid input: map_bundle: no property 'PERM'");

  const Json json = parse_map(model, {{"PORO"}, 3});
  ASSERT_EQ(json["k_slices"].size(), 1u);
  const Json& slice = json["k_slices"][0];
  EXPECT_EQ(slice["name"], "PORO::k3");
  EXPECT_EQ(slice["units"], "fraction");
  EXPECT_EQ(slice["values"], Json(std::vector<double>(6, 0.1 * 3)));
  EXPECT_EQ(json["zone_averages"].size(), 1u);
  EXPECT_EQ(json["zone_averages"][0]["name"], "PORO::RESERVOIR");
}

TEST(MapBundle, ZoneAveragesCountFiniteValuesOnly) {
  StaticModel model = poro_model();
  // Column 0 is NaN in layers 0 and 2, column 1 everywhere, column 5 holds an infinity.
  set_cube(model.grid, "PORO", [](std::size_t i, std::size_t j, std::size_t k) {
    const std::size_t column = i + 3 * j;
    if (column == 1 || (column == 0 && k % 2 == 0)) return kNaN;
    if (column == 5 && k == 0) return double(INFINITY);
    return 0.1 * static_cast<double>(k + 1) + 0.01 * static_cast<double>(column);
  });
  model.zone_table = ZoneTable::from_stack({"A", "B", "C", "D"}, {"UPPER", "EMPTY", "LOWER"},
                                           {std::nullopt, std::nullopt, std::nullopt}, {2, 0, 2});
  const Json json = parse_map(model, {{"PORO"}, 2});
  ASSERT_EQ(json["zone_averages"].size(), 3u);
  const Json& upper = json["zone_averages"][0];
  EXPECT_EQ(upper["name"], "PORO::UPPER");
  EXPECT_DOUBLE_EQ(upper["values"][0].get<double>(), 0.2);  // layer 1 only
  EXPECT_TRUE(upper["values"][1].is_null());
  EXPECT_DOUBLE_EQ(upper["values"][2].get<double>(), (0.12 + 0.22) / 2);
  EXPECT_DOUBLE_EQ(upper["values"][5].get<double>(), 0.25);  // the infinity is skipped
  EXPECT_DOUBLE_EQ(upper["range"]["min"].get<double>(), (0.12 + 0.22) / 2);
  EXPECT_DOUBLE_EQ(upper["range"]["max"].get<double>(), 0.25);

  const Json& empty = json["zone_averages"][1];
  EXPECT_EQ(empty["values"], Json(std::vector<std::nullptr_t>(6, nullptr)));
  EXPECT_EQ(empty["range"], Json::parse(R"({"min":null,"max":null})"));
  EXPECT_EQ(json["zone_averages"][2]["name"], "PORO::LOWER");
  EXPECT_DOUBLE_EQ(json["zone_averages"][2]["values"][0].get<double>(), 0.4);

  // The k-slice copies values as they are, NaN as null.
  const Json& slice = json["k_slices"][0];
  EXPECT_TRUE(slice["values"][0].is_null());
  EXPECT_DOUBLE_EQ(slice["values"][2].get<double>(), 0.32);
}

TEST(MapBundle, ContactMaskIncludesBothBounds) {
  StaticModel model = poro_model();
  // Column 1 is 5 m deeper; column 5 has an undefined top.
  testing::reshape_depths(model.grid, [](const CellIndex& cell, int corner, double z) {
    if (cell.i == 1 && cell.j == 0) return z + 5;
    if (cell.i == 2 && cell.j == 1 && cell.k == 0 && corner == 0) return kNaN;
    return z;
  });
  model.wireframe.contacts = {
      {2000, ContactKind::Goc}, {2040, ContactKind::Owc}, {2042, ContactKind::Gwc}};
  const Json json = parse_map(model);
  ASSERT_EQ(json["contacts"].size(), 3u);
  EXPECT_EQ(json["contacts"][0]["kind"], "GOC");
  EXPECT_EQ(json["contacts"][0]["depth_m"], 2000.0);
  EXPECT_EQ(json["contacts"][0]["crossing"], Json::parse("[true,false,true,true,true,false]"));
  EXPECT_EQ(json["contacts"][1]["crossing"], Json::parse("[true,true,true,true,true,false]"));
  EXPECT_EQ(json["contacts"][2]["kind"], "GWC");
  EXPECT_EQ(json["contacts"][2]["crossing"], Json::parse("[false,true,false,false,false,false]"));
  EXPECT_TRUE(json["horizons"][0]["values"][5].is_null());
}

TEST(MapBundle, WellsCarryTheirTieResiduals) {
  StaticModel model = poro_model();
  StackRecord stack;
  stack.well_ties.push_back({"W-1", {}, 150, 50, 1, 0});
  stack.well_ties.push_back(
      {"W-2", {{"A", 2001, 2000, 1.0}, {"B", 2007, 2010, -3.0}}, 250.5, kNaN, 2, 1});
  model.provenance.stack = stack;
  model.provenance.inputs_ref = "stack \"v2\"";
  const auto text = map_bundle(model, {});
  ASSERT_OK(text);
  EXPECT_NE(text->find(R"("inputs_ref":"stack \"v2\"")"), std::string::npos);
  EXPECT_NE(text->find(R"({"id":"W-1","x":150.0,"y":50.0,"tie_residual_m":null,"ties":[]})"),
            std::string::npos);
  const Json json = Json::parse(*text);
  ASSERT_EQ(json["wells"].size(), 2u);
  const Json& tied = json["wells"][1];
  EXPECT_EQ(keys_of(tied), (std::vector<std::string>{"id", "x", "y", "tie_residual_m", "ties"}));
  EXPECT_TRUE(tied["y"].is_null());
  EXPECT_EQ(tied["tie_residual_m"], -1.0);
  EXPECT_EQ(tied["ties"], Json::parse(R"([{"horizon":"A","residual_m":1.0},)"
                                      R"({"horizon":"B","residual_m":-3.0}])"));
}

TEST(MapBundle, HorizonNamesOutlineAndContactsFollowTheWireframe) {
  StaticModel model = poro_model();
  model.wireframe.horizons = {testing::flat_horizon("mid", HorizonRole::Intermediate),
                              testing::flat_horizon("floor", HorizonRole::Base),
                              testing::flat_horizon("roof", HorizonRole::Top),
                              testing::flat_horizon("roof2", HorizonRole::Top),
                              testing::flat_horizon("floor2", HorizonRole::Base)};
  model.wireframe.outline.clear();
  model.wireframe.contacts.clear();
  Json json = parse_map(model);
  EXPECT_EQ(json["horizons"][0]["name"], "roof");
  EXPECT_EQ(json["horizons"][1]["name"], "floor");
  EXPECT_EQ(json["outline"], Json::parse("[[]]"));
  EXPECT_EQ(json["contacts"], Json::array());

  model.wireframe.horizons.clear();
  model.wireframe.outline = {{kNaN, 2.5}};
  json = parse_map(model);
  EXPECT_EQ(json["horizons"][0]["name"], "TOP");
  EXPECT_EQ(json["outline"], Json::parse("[[[null,2.5]]]"));
}

TEST(MapBundle, FrameFailuresAreReturned) {
  StaticModel model = box_model(box_grid(1, 4, 2));
  EXPECT_ERROR_TEXT(
      map_bundle(model, {}),
      "invalid input: property pipeline needs an areal lattice of at least 2x2 columns, got 1x4");
  model.georef = Georef{};
  EXPECT_ERROR_TEXT(
      map_bundle(model, {}),
      "invalid input: view frame needs an areal lattice of at least 2x2 columns, got 1x4");
}

}  // namespace
}  // namespace zorvastatic
