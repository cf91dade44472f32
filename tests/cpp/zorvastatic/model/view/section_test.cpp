#include "zorvastatic/model/view/section.hpp"

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

// 10 x 3 columns of 100 m (centres at 50, 150, ...), `nk` layers of 10 m from 2000 m.
StaticModel row_model(std::size_t nk = 2) {
  return box_model(box_grid(10, 3, nk, 100, 100, 2000, 10.0 * static_cast<double>(nk)));
}

// Every depth deepened by a tenth of the corner's x: layers dip 10 m per column along i.
void tilt_along_x(Grid& grid) {
  testing::reshape_depths(grid, [](const CellIndex& cell, int corner, double z) {
    return z + 10.0 * static_cast<double>(cell.i + static_cast<std::size_t>(corner % 2));
  });
}

Json section(const StaticModel& model, const SectionSpec& spec,
             const std::optional<std::string>& property = std::nullopt) {
  auto text = intersection_bundle(model, spec, property);
  EXPECT_TRUE(text) << text.error().display();
  return text ? Json::parse(*text) : Json();
}

Json polyline(const StaticModel& model, const std::vector<Point2>& points,
              const std::optional<std::string>& property = std::nullopt) {
  return section(model, SectionSpec::polyline(points), property);
}

std::vector<std::pair<int, int>> columns_ij(const Json& json) {
  std::vector<std::pair<int, int>> ij;
  for (const Json& column : json["columns"]) ij.emplace_back(column["i"], column["j"]);
  return ij;
}

std::vector<int> columns_i(const Json& json) {
  std::vector<int> i;
  for (const Json& column : json["columns"]) i.push_back(column["i"]);
  return i;
}

TEST(IntersectionBundle, DocumentShape) {
  const Json json = polyline(row_model(), {{50, 150}, {250, 150}});
  EXPECT_EQ(keys_of(json),
            (std::vector<std::string>{"schema_version", "inputs_ref", "sugar_cube", "property",
                                      "top_name", "base_name", "columns", "horizon_traces", "zones",
                                      "contacts", "frame"}));
  EXPECT_EQ(json["schema_version"], 6);
  EXPECT_EQ(json["sugar_cube"], false);
  EXPECT_TRUE(json["property"].is_null());
  EXPECT_EQ(json["top_name"], "top");
  EXPECT_EQ(json["base_name"], "BASE");
  ASSERT_EQ(json["columns"].size(), 3u);
  const Json& column = json["columns"][1];
  EXPECT_EQ(keys_of(column),
            (std::vector<std::string>{"distance_m", "i", "j", "x", "y", "layer_tops", "layer_bases",
                                      "layer_tops_l", "layer_tops_r", "layer_bases_l",
                                      "layer_bases_r", "values", "zone_ids", "path_z"}));
  EXPECT_EQ(column["layer_tops"], Json::parse("[2000.0,2010.0]"));
  EXPECT_EQ(column["layer_bases"], Json::parse("[2010.0,2020.0]"));
  EXPECT_EQ(column["layer_tops_l"], column["layer_tops"]);
  EXPECT_EQ(column["layer_bases_r"], column["layer_bases"]);
  EXPECT_EQ(column["values"], Json::array());
  EXPECT_EQ(column["zone_ids"], Json::parse("[0,0]"));
  EXPECT_TRUE(column["path_z"].is_null());
  EXPECT_EQ(json["horizon_traces"], Json::array());
  EXPECT_EQ(json["zones"], Json::parse(R"([{"name":"RESERVOIR","color":null}])"));
  EXPECT_EQ(json["contacts"], Json::parse(R"([{"kind":"OWC","depth_m":2100.0}])"));
  EXPECT_EQ(json["frame"], Json::parse(R"({"origin_x":50.0,"origin_y":50.0,"spacing_x":100.0,)"
                                       R"("spacing_y":100.0,"ncol":10,"nrow":3})"));
}

TEST(IntersectionBundle, SamplesEveryHalfSpacingAndEmitsEachColumnOnce) {
  const Json json = polyline(row_model(), {{50, 150}, {1050, 150}});
  ASSERT_EQ(json["columns"].size(), 10u);
  for (int i = 0; i < 10; ++i) {
    const Json& column = json["columns"][static_cast<std::size_t>(i)];
    EXPECT_EQ(column["i"], i);
    EXPECT_EQ(column["j"], 1);
    // A column is entered half a spacing before its centre (u = i - 0.5 rounds up to i).
    const double entered = i == 0 ? 0.0 : 100.0 * i - 50;
    EXPECT_DOUBLE_EQ(column["distance_m"].get<double>(), entered);
    EXPECT_DOUBLE_EQ(column["x"].get<double>(), 50 + entered);
    EXPECT_EQ(column["y"], 150.0);
  }
}

TEST(IntersectionBundle, ShortSegmentsSampleTheirEndsAndMidpoints) {
  const StaticModel model = row_model();
  // 40 m < one step: the two ends only; u = 0.5 rounds away from zero into column 1.
  Json json = polyline(model, {{60, 150}, {100, 150}});
  EXPECT_EQ(columns_i(json), (std::vector<int>{0, 1}));
  EXPECT_EQ(json["columns"][1]["distance_m"], 40.0);
  // 1.2 steps: n = 2, and the midpoint (u = 0.5) already lies in column 1.
  json = polyline(model, {{70, 150}, {130, 150}});
  EXPECT_EQ(columns_i(json), (std::vector<int>{0, 1}));
  EXPECT_EQ(json["columns"][1]["distance_m"], 30.0);
}

TEST(IntersectionBundle, ColumnsRepeatOnlyWhenTheTraceReturns) {
  const StaticModel model = row_model();
  // Out of the grid past column 0 and back: column 0 is not emitted twice in a row.
  EXPECT_EQ(columns_i(polyline(model, {{350, 150}, {-1000, 150}, {150, 150}})),
            (std::vector<int>{3, 2, 1, 0, 1}));
  // Out through the j+ side and back in two columns further on.
  using IJ = std::pair<int, int>;
  EXPECT_EQ(columns_ij(polyline(model, {{50, 150}, {50, 1000}, {250, 1000}, {250, 150}})),
            (std::vector<IJ>{{0, 1}, {0, 2}, {2, 2}, {2, 1}}));
  const Json back = polyline(model, {{50, 50}, {250, 50}, {50, 50}});
  EXPECT_EQ(columns_i(back), (std::vector<int>{0, 1, 2, 1, 0}));
  // Halves round away from zero: on the way back column 0 starts at its centre.
  EXPECT_DOUBLE_EQ(back["columns"][4]["distance_m"].get<double>(), 400);
}

TEST(IntersectionBundle, TracesAwayFromTheGrid) {
  StaticModel model = row_model(4);
  model.zone_table = ZoneTable::from_stack({"H0", "H1", "H2"}, {"UP", "LOW"},
                                           {std::nullopt, std::nullopt}, {2, 2});
  // Missing the grid: no columns, and the boundary trace has no depths.
  Json json = polyline(model, {{-500, -500}, {2000, -500}});
  EXPECT_EQ(json["columns"], Json::array());
  EXPECT_EQ(json["horizon_traces"], Json::parse(R"([{"name":"H1","depths":[]}])"));
  // A trace reaching a trillion metres past both ends samples only where it crosses.
  json = polyline(model, {{-1e12, 150}, {1e12, 150}});
  EXPECT_EQ(columns_i(json), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_DOUBLE_EQ(json["columns"][1]["distance_m"].get<double>(), 1e12 + 100);
  // Segments touching a non-finite vertex sample nothing; distances after it are undefined.
  json = polyline(model, {{50, 150}, {250, 150}, {kNaN, 0}, {50, 150}, {150, 150}});
  EXPECT_EQ(columns_i(json), (std::vector<int>{0, 1, 2, 0, 1}));
  EXPECT_TRUE(json["columns"][3]["distance_m"].is_null());
}

TEST(IntersectionBundle, CheckOrder) {
  StaticModel model = row_model();
  EXPECT_ERROR_TEXT(
      intersection_bundle(model, SectionSpec::polyline({{50, 150}}), "PORO"),
      "invalid input: intersection_bundle: a section trace needs at least two vertices");
  EXPECT_ERROR_TEXT(intersection_bundle(model, SectionSpec::polyline({{50, 150}, {0, 0}}), "PORO"),
                    "invalid input: intersection_bundle: no property 'PORO'");
  StaticModel thin = box_model(box_grid(1, 3, 1));
  EXPECT_ERROR_TEXT(
      intersection_bundle(thin, SectionSpec::polyline({}), std::nullopt),
      "invalid input: property pipeline needs an areal lattice of at least 2x2 columns, got 1x3");
  thin.georef = Georef{};
  EXPECT_ERROR_TEXT(
      intersection_bundle(thin, SectionSpec::polyline({}), std::nullopt),
      "invalid input: view frame needs an areal lattice of at least 2x2 columns, got 1x3");
}

TEST(IntersectionBundle, EdgeDepthsFollowTheCellGeometryUnlessSugarCube) {
  StaticModel model = row_model();
  tilt_along_x(model.grid);
  Json json = polyline(model, {{150, 150}, {350, 150}});
  ASSERT_EQ(json["columns"].size(), 3u);
  for (const Json& column : json["columns"]) {
    const double i = column["i"];
    for (std::size_t k = 0; k < 2; ++k) {
      const double top = 2000 + 10.0 * static_cast<double>(k) + 10 * i;
      EXPECT_DOUBLE_EQ(column["layer_tops"][k].get<double>(), top + 5);
      EXPECT_DOUBLE_EQ(column["layer_bases"][k].get<double>(), top + 15);
      EXPECT_DOUBLE_EQ(column["layer_tops_l"][k].get<double>(), top);
      EXPECT_DOUBLE_EQ(column["layer_tops_r"][k].get<double>(), top + 10);
      EXPECT_DOUBLE_EQ(column["layer_bases_l"][k].get<double>(), top + 10);
      EXPECT_DOUBLE_EQ(column["layer_bases_r"][k].get<double>(), top + 20);
    }
  }
  // Walking the other way enters each column on its deeper side.
  json = polyline(model, {{350, 150}, {150, 150}});
  EXPECT_DOUBLE_EQ(json["columns"][0]["layer_tops_l"][0].get<double>(), 2040);
  EXPECT_DOUBLE_EQ(json["columns"][0]["layer_tops_r"][0].get<double>(), 2030);

  model.sugar_cube = true;
  json = polyline(model, {{150, 150}, {350, 150}});
  EXPECT_EQ(json["sugar_cube"], true);
  for (const Json& column : json["columns"]) {
    EXPECT_EQ(column["layer_tops_l"], column["layer_tops"]);
    EXPECT_EQ(column["layer_tops_r"], column["layer_tops"]);
    EXPECT_EQ(column["layer_bases_l"], column["layer_bases"]);
    EXPECT_EQ(column["layer_bases_r"], column["layer_bases"]);
  }
}

TEST(IntersectionBundle, PinchedLayersZonesAndValues) {
  StaticModel model = row_model(3);
  // Layer 1 has no thickness anywhere.
  testing::reshape_depths(model.grid, [](const CellIndex& cell, int corner, double z) {
    return cell.k == 1 && corner >= 4 ? z - 10 : z;
  });
  set_cube(model.grid, "PORO", [](std::size_t i, auto, std::size_t k) {
    return k == 2 && i == 1 ? kNaN : 0.01 * static_cast<double>(i) + 0.1 * static_cast<double>(k);
  });
  model.zone_table =
      ZoneTable::from_stack({"H0", "H1", "H2"}, {"UP", "LOW"}, {"#ff0000", std::nullopt}, {1, 1});
  const Json json = polyline(model, {{50, 150}, {150, 150}}, "PORO");
  EXPECT_EQ(json["property"], "PORO");
  ASSERT_EQ(json["columns"].size(), 2u);
  const Json& column = json["columns"][1];
  for (const char* key : {"layer_tops", "layer_bases", "layer_tops_l", "layer_tops_r",
                          "layer_bases_l", "layer_bases_r", "values"}) {
    EXPECT_TRUE(column[key][1].is_null()) << key;
  }
  EXPECT_EQ(column["layer_tops"][2], 2020.0);
  // Layer 2 lies outside both zones (they cover layers 0 and 1 only).
  EXPECT_EQ(column["zone_ids"], Json::parse("[0,65535,65535]"));
  EXPECT_DOUBLE_EQ(column["values"][0].get<double>(), 0.01);
  EXPECT_TRUE(column["values"][2].is_null());
  EXPECT_EQ(json["zones"],
            Json::parse(R"([{"name":"UP","color":"#ff0000"},{"name":"LOW","color":null}])"));
  // The boundary trace reads the top face of the lower zone's first layer, pinched or not.
  EXPECT_EQ(json["horizon_traces"], Json::parse(R"([{"name":"H1","depths":[2010.0,2010.0]}])"));
}

TEST(IntersectionBundle, EmptyZoneAtTheBottomTracesNothing) {
  StaticModel model = row_model(2);
  model.zone_table = ZoneTable::from_stack({"H0", "H1", "H2"}, {"ALL", "NONE"},
                                           {std::nullopt, std::nullopt}, {2, 0});
  const Json json = polyline(model, {{50, 150}, {150, 150}});
  EXPECT_EQ(json["horizon_traces"], Json::parse(R"([{"name":"H1","depths":[null,null]}])"));
}

TEST(IntersectionBundle, GeoreferencedFrameMapsWorldPointsIntoTheGrid) {
  StaticModel model = row_model();
  tilt_along_x(model.grid);
  // World columns run north (rotation 90 degrees) from (1000, 5000), rows run west.
  const Georef georef{1000, 5000, 100, 100, 90, false};
  model.georef = georef;
  const zorvatools::Lattice world = georef.lattice(10, 3);
  std::vector<Point2> trace{world.node_xy(1, 1), world.node_xy(3, 1)};
  const Json json = polyline(model, trace);
  EXPECT_EQ(json["frame"]["rotation_deg"], 90.0);
  EXPECT_FALSE(json["frame"].contains("yflip"));
  EXPECT_EQ(columns_ij(json), (std::vector<std::pair<int, int>>{{1, 1}, {2, 1}, {3, 1}}));
  const Json& column = json["columns"][1];
  EXPECT_NEAR(column["x"].get<double>(), 900.0, 1e-9);
  EXPECT_NEAR(column["y"].get<double>(), 5150.0, 1e-9);
  EXPECT_NEAR(column["layer_tops_l"][0].get<double>(), 2020, 1e-9);
  EXPECT_NEAR(column["layer_tops_r"][0].get<double>(), 2030, 1e-9);
}

TEST(IntersectionBundle, AlongBoreCarriesPathDepthAndRetangentsEdges) {
  StaticModel model = row_model();
  tilt_along_x(model.grid);
  const SectionSpec bore =
      SectionSpec::along_bore({{150, 150, 1000}, {250, 150, 1100}, {150, 150, kNaN}});
  Json json = section(model, bore);
  EXPECT_EQ(columns_i(json), (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(json["columns"][0]["path_z"], 1000.0);
  EXPECT_EQ(json["columns"][1]["path_z"], 1050.0);
  EXPECT_TRUE(json["columns"][2]["path_z"].is_null());
  // The first column's tangent points to the next: the usual edges.
  EXPECT_DOUBLE_EQ(json["columns"][0]["layer_tops_l"][0].get<double>(), 2010);
  EXPECT_DOUBLE_EQ(json["columns"][0]["layer_tops_r"][0].get<double>(), 2020);
  // The middle column's neighbours coincide, and so do the ends: no tangent, centre depths.
  const Json& middle = json["columns"][1];
  EXPECT_EQ(middle["layer_tops_l"], middle["layer_tops"]);
  EXPECT_EQ(middle["layer_bases_r"], middle["layer_bases"]);
  // The polyline keeps the segment direction there.
  json = polyline(model, {{150, 150}, {250, 150}, {150, 150}});
  EXPECT_NE(json["columns"][1]["layer_tops_l"], json["columns"][1]["layer_tops"]);
}

TEST(WorldToLattice, MapsPointsAndDirections) {
  const GridFrame world{1000, 5000, 50, 100, 10, 3, 90, true};
  const zorvatools::Lattice own{50, 50, 100, 100, 10, 3, 0, false};
  const WorldToLattice map(world, own);
  const Point2 node = world.lattice().node_xy(2, 1);
  const Point2 mapped = map.point(node);
  EXPECT_NEAR(mapped.x, 250, 1e-9);
  EXPECT_NEAR(mapped.y, 150, 1e-9);
  // One world column along the frame's i axis is one grid column along x.
  const Point2 step = world.lattice().node_xy(3, 1);
  const Point2 d = map.dir({step.x - node.x, step.y - node.y});
  EXPECT_NEAR(d.x, 100, 1e-9);
  EXPECT_NEAR(d.y, 0, 1e-9);
  const Point2 undefined = map.point({kNaN, 0});
  EXPECT_TRUE(std::isnan(undefined.x) && std::isnan(undefined.y));
  const WorldToLattice flat(GridFrame{0, 0, 0, 1, 2, 2, 0, false}, own);
  EXPECT_TRUE(std::isnan(flat.dir({1, 0}).x));
}

// A cell over x, y in [0, 100] whose top corners lie at 0, 10, 20, 30 and bottom 5 m lower.
CellCorners sloped_cell() {
  CellCorners c;
  for (int n = 0; n < 8; ++n) {
    c[n] = {100.0 * (n % 2), 100.0 * ((n % 4) / 2), 10.0 * (n % 4) + (n >= 4 ? 5 : 0)};
  }
  return c;
}

TEST(FenceEdgeDepths, InterpolatesAtEntryAndExit) {
  const CellCorners cell = sloped_cell();
  EdgeDepths e = fence_edge_depths(cell, {50, 50}, {1, 1});
  EXPECT_DOUBLE_EQ(e.top_l, 0);
  EXPECT_DOUBLE_EQ(e.base_l, 5);
  EXPECT_DOUBLE_EQ(e.top_r, 30);
  EXPECT_DOUBLE_EQ(e.base_r, 35);
  // Westward along the middle: enters at x = 100, leaves at x = 0, both at half height.
  e = fence_edge_depths(cell, {50, 50}, {-3, 0});
  EXPECT_DOUBLE_EQ(e.top_l, 20);
  EXPECT_DOUBLE_EQ(e.top_r, 10);
  // A line through a point outside the cell is still clipped to the cell.
  e = fence_edge_depths(cell, {50, -400}, {0, 2});
  EXPECT_DOUBLE_EQ(e.top_l, 5);
  EXPECT_DOUBLE_EQ(e.top_r, 25);
}

TEST(FenceEdgeDepths, FallsBackToTheCentre) {
  const CellCorners cell = sloped_cell();
  const auto expect_centre = [](const EdgeDepths& e) {
    EXPECT_EQ(e.top_l, 15);
    EXPECT_EQ(e.top_r, 15);
    EXPECT_EQ(e.base_l, 20);
    EXPECT_EQ(e.base_r, 20);
  };
  ::testing::internal::CaptureStderr();
  expect_centre(fence_edge_depths(cell, {50, 50}, {1e-10, 0}));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  ::testing::internal::CaptureStderr();
  expect_centre(fence_edge_depths(cell, {500, 0}, {1, 1}));
  expect_centre(fence_edge_depths(cell, {kNaN, kNaN}, {0, 1}));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "warning: fence_edge_depths clip miss (frame mismatch?) — section edge fell back to "
            "the centroid: p=(500, 0) dir=(1, 1) cell x[0, 100] y[0, 100]\n"
            "warning: fence_edge_depths clip miss (frame mismatch?) — section edge fell back to "
            "the centroid: p=(NaN, NaN) dir=(0, 1) cell x[0, 100] y[0, 100]\n");
}

}  // namespace
}  // namespace zorvastatic
