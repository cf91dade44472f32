#include "zorvastatic/model/view/map.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "view_fixtures.hpp"

namespace zorvastatic {
namespace {

using testing::Json;

const double kNaN = std::nan("");

Json parse_map(const StaticModel& model, const MapSpec& spec = {}) {
  auto text = map_bundle(model, spec);
  EXPECT_TRUE(text) << text.error().display();
  return text ? Json::parse(*text) : Json();
}

// 3 x 2 columns of 100 m, 4 layers of 10 m from 2000 m, PORO = k / 10.
StaticModel poro_model() {
  Grid grid = testing::box_grid(3, 2, 4, 100, 100, 2000, 40);
  testing::set_cube(grid, "PORO", [](auto, auto, std::size_t k) { return 0.1 * double(k); });
  return testing::box_model(std::move(grid));
}

TEST(MapBundle, DefaultDocument) {
  const Json json = parse_map(poro_model());
  EXPECT_EQ(
      testing::keys_of(json),
      (std::vector<std::string>{"schema_version", "inputs_ref", "frame", "outline", "horizons",
                                "zone_averages", "k_slices", "wells", "contacts"}));
  EXPECT_EQ(json["schema_version"], 6);
  EXPECT_EQ(json["outline"], Json::parse("[[[0.0,0.0],[1.0,0.0],[1.0,1.0],[0.0,1.0],[0.0,0.0]]]"));
  EXPECT_EQ(json["horizons"],
            Json::parse(R"([{"name":"top","units":"m","values":[2000.0,2000.0,2000.0,2000.0,)"
                        R"(2000.0,2000.0],"range":{"min":2000.0,"max":2000.0}},)"
                        R"({"name":"BASE","units":"m","values":[2040.0,2040.0,2040.0,2040.0,)"
                        R"(2040.0,2040.0],"range":{"min":2040.0,"max":2040.0}}])"));
  for (const char* empty : {"zone_averages", "k_slices", "wells"}) {
    EXPECT_EQ(json[empty], Json::array()) << empty;
  }
  EXPECT_EQ(json["contacts"],
            Json::parse(R"([{"kind":"OWC","depth_m":2100.0,"crossing":[false,false,false,)"
                        R"(false,false,false]}])"));
}

TEST(MapBundle, PropertyLayersAndTheirChecks) {
  StaticModel model = poro_model();
  EXPECT_EQ(parse_map(model, {{}, 1000000})["k_slices"], Json::array());
  EXPECT_ERROR_TEXT(map_bundle(model, {{"PORO"}, 4}),
                    "invalid input: map_bundle: k_slice 4 out of range (nk=4)");
  EXPECT_ERROR_TEXT(map_bundle(model, {{"PERM"}, 4}),
                    "invalid input: map_bundle: no property 'PERM'");

  // Column 0 is NaN in layers 0 and 2, column 1 everywhere, column 5 infinite in layer 0.
  testing::set_cube(model.grid, "PORO", [](std::size_t i, std::size_t j, std::size_t k) {
    const std::size_t column = i + 3 * j;
    if (column == 1 || (column == 0 && k % 2 == 0)) return kNaN;
    if (column == 5 && k == 0) return double(INFINITY);
    return 0.1 * double(k + 1) + 0.01 * double(column);
  });
  model.zone_table = ZoneTable::from_stack({"A", "B", "C", "D"}, {"UPPER", "EMPTY", "LOWER"},
                                           {std::nullopt, std::nullopt, std::nullopt}, {2, 0, 2});
  const Json json = parse_map(model, {{"PORO"}, 2});
  ASSERT_EQ(json["zone_averages"].size(), 3u);
  const Json& upper = json["zone_averages"][0];
  EXPECT_EQ(upper["name"], "PORO::UPPER");
  EXPECT_EQ(upper["units"], "fraction");
  const std::vector<double> expected{
      0.2, kNaN, (0.12 + 0.22) / 2, (0.13 + 0.23) / 2, (0.14 + 0.24) / 2, 0.25};
  for (std::size_t c = 0; c < 6; ++c) {
    if (std::isnan(expected[c])) {
      EXPECT_TRUE(upper["values"][c].is_null());
    } else {
      EXPECT_DOUBLE_EQ(upper["values"][c].get<double>(), expected[c]) << c;
    }
  }
  EXPECT_DOUBLE_EQ(upper["range"]["min"].get<double>(), expected[2]);
  EXPECT_DOUBLE_EQ(upper["range"]["max"].get<double>(), 0.25);
  EXPECT_EQ(json["zone_averages"][1]["values"], Json(std::vector<std::nullptr_t>(6, nullptr)));
  EXPECT_EQ(json["zone_averages"][1]["range"], Json::parse(R"({"min":null,"max":null})"));
  EXPECT_EQ(json["zone_averages"][2]["name"], "PORO::LOWER");
  // The k-slice copies the layer as it is.
  ASSERT_EQ(json["k_slices"].size(), 1u);
  EXPECT_EQ(json["k_slices"][0]["name"], "PORO::k2");
  EXPECT_TRUE(json["k_slices"][0]["values"][0].is_null());
  EXPECT_DOUBLE_EQ(json["k_slices"][0]["values"][2].get<double>(), 0.32);
}

TEST(MapBundle, ContactMaskIncludesBothBounds) {
  StaticModel model = poro_model();
  // Column 1 is 5 m deeper; column 5 has an undefined top.
  testing::reshape_depths(model.grid, [](const CellIndex& cell, int corner, double z) {
    if (cell.i == 1 && cell.j == 0) return z + 5;
    return cell.i == 2 && cell.j == 1 && cell.k == 0 && corner == 0 ? kNaN : z;
  });
  model.wireframe.contacts = {
      {2000, ContactKind::Goc}, {2040, ContactKind::Owc}, {2042, ContactKind::Gwc}};
  const Json json = parse_map(model);
  EXPECT_EQ(json["contacts"][0]["kind"], "GOC");
  EXPECT_EQ(json["contacts"][0]["crossing"], Json::parse("[true,false,true,true,true,false]"));
  EXPECT_EQ(json["contacts"][1]["crossing"], Json::parse("[true,true,true,true,true,false]"));
  EXPECT_EQ(json["contacts"][2]["kind"], "GWC");
  EXPECT_EQ(json["contacts"][2]["crossing"], Json::parse("[false,true,false,false,false,false]"));
}

TEST(MapBundle, WellsOutlineAndNamesFollowTheModel) {
  StaticModel model = poro_model();
  StackRecord stack;
  stack.well_ties.push_back({"W-1", {}, 150, 50, 1, 0});
  stack.well_ties.push_back(
      {"W-2", {{"A", 2001, 2000, 1.0}, {"B", 2007, 2010, -3.0}}, 2, kNaN, 2, 1});
  model.provenance.stack = stack;
  model.provenance.inputs_ref = "stack \"v2\"";
  model.wireframe.horizons = {testing::flat_horizon("mid", HorizonRole::Intermediate),
                              testing::flat_horizon("floor", HorizonRole::Base),
                              testing::flat_horizon("roof", HorizonRole::Top),
                              testing::flat_horizon("floor2", HorizonRole::Base)};
  model.wireframe.outline = {{kNaN, 2.5}};
  model.wireframe.contacts.clear();
  const auto text = map_bundle(model, {});
  ASSERT_OK(text);
  EXPECT_NE(text->find(R"("inputs_ref":"stack \"v2\"")"), std::string::npos);
  const Json json = Json::parse(*text);
  EXPECT_EQ(
      json["wells"],
      Json::parse(R"([{"id":"W-1","x":150.0,"y":50.0,"tie_residual_m":null,"ties":[]},)"
                  R"({"id":"W-2","x":2.0,"y":null,"tie_residual_m":-1.0,"ties":[)"
                  R"({"horizon":"A","residual_m":1.0},{"horizon":"B","residual_m":-3.0}]}])"));
  EXPECT_EQ(json["horizons"][0]["name"], "roof");
  EXPECT_EQ(json["horizons"][1]["name"], "floor");
  EXPECT_EQ(json["outline"], Json::parse("[[[null,2.5]]]"));
  EXPECT_EQ(json["contacts"], Json::array());

  model.wireframe.horizons.clear();
  model.wireframe.outline.clear();
  EXPECT_EQ(parse_map(model)["horizons"][0]["name"], "TOP");
  EXPECT_EQ(parse_map(model)["outline"], Json::parse("[[]]"));
}

}  // namespace
}  // namespace zorvastatic
