#include "zorvastatic/model/view/section.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "view_fixtures.hpp"

namespace zorvastatic {
namespace {

using testing::Json;

const double kNaN = std::nan("");

// 10 x 3 columns of 100 m (centres at 50, 150, ...), `nk` layers of 10 m from 2000 m.
StaticModel row_model(std::size_t nk = 2) {
  return testing::box_model(testing::box_grid(10, 3, nk, 100, 100, 2000, 10.0 * double(nk)));
}

// Layers dip 10 m per column along i.
void tilt_along_x(Grid& grid) {
  testing::reshape_depths(grid, [](const CellIndex& cell, int corner, double z) {
    return z + 10.0 * double(cell.i + std::size_t(corner % 2));
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

TEST(IntersectionBundle, DocumentShape) {
  const Json json = polyline(row_model(), {{50, 150}, {250, 150}});
  EXPECT_EQ(testing::keys_of(json),
            (std::vector<std::string>{"schema_version", "inputs_ref", "sugar_cube", "property",
                                      "top_name", "base_name", "columns", "horizon_traces", "zones",
                                      "contacts", "frame"}));
  EXPECT_EQ(json["schema_version"], 6);
  EXPECT_TRUE(json["property"].is_null());
  EXPECT_EQ(json["top_name"], "top");
  EXPECT_EQ(json["base_name"], "BASE");
  ASSERT_EQ(json["columns"].size(), 3u);
  EXPECT_EQ(json["columns"][1],
            Json::parse(R"({"distance_m":50.0,"i":1,"j":1,"x":100.0,"y":150.0,)"
                        R"("layer_tops":[2000.0,2010.0],"layer_bases":[2010.0,2020.0],)"
                        R"("layer_tops_l":[2000.0,2010.0],"layer_tops_r":[2000.0,2010.0],)"
                        R"("layer_bases_l":[2010.0,2020.0],"layer_bases_r":[2010.0,2020.0],)"
                        R"("values":[],"zone_ids":[0,0],"path_z":null})"));
  EXPECT_EQ(json["horizon_traces"], Json::array());
  EXPECT_EQ(json["zones"], Json::parse(R"([{"name":"RESERVOIR","color":null}])"));
  EXPECT_EQ(json["contacts"], Json::parse(R"([{"kind":"OWC","depth_m":2100.0}])"));
  EXPECT_EQ(json["frame"], Json::parse(R"({"origin_x":50.0,"origin_y":50.0,"spacing_x":100.0,)"
                                       R"("spacing_y":100.0,"ncol":10,"nrow":3})"));
}

TEST(IntersectionBundle, SamplingPicksTheNearestColumnOnce) {
  struct Case {
    const char* name;
    std::vector<Point2> trace;
    std::vector<std::tuple<int, int, double>> columns;  // i, j, distance
    double tolerance = 1e-9;
  };
  // Columns 0 .. 9 of row j along +x from x0 <= 50: column 0 from x = 50 (x = 0 rounds away
  // from it), column i >= 1 from x = 100 i, where u = i - 0.5 rounds up to i.
  const auto whole_row = [](int j, double x0) {
    std::vector<std::tuple<int, int, double>> columns{{0, j, 50 - x0}};
    for (int i = 1; i < 10; ++i) columns.emplace_back(i, j, 100.0 * i - x0);
    return columns;
  };
  const std::vector<Case> cases{
      {"along a row, one sample every 50 m", {{50, 150}, {1050, 150}}, whole_row(1, 50)},
      {"shorter than a step: the two ends, u = 0.5 rounding up",
       {{60, 150}, {100, 150}},
       {{0, 1, 0}, {1, 1, 40}}},
      {"1.2 steps: the midpoint too", {{70, 150}, {130, 150}}, {{0, 1, 0}, {1, 1, 30}}},
      {"out past column 0 and back",
       {{250, 150}, {-1000, 150}, {150, 150}},
       {{2, 1, 0}, {1, 1, 100}, {0, 1, 200}, {1, 1, 2350}}},
      {"out through j+ and back two columns on",
       {{50, 150}, {50, 1000}, {250, 1000}, {250, 150}},
       {{0, 1, 0}, {0, 2, 50}, {2, 2, 1800}, {2, 1, 1900}}},
      {"returning along a row",
       {{50, 50}, {250, 50}, {50, 50}},
       {{0, 0, 0}, {1, 0, 50}, {2, 0, 150}, {1, 0, 300}, {0, 0, 400}}},
      {"missing the grid", {{-500, -500}, {2000, -500}}, {}},
      // Samples 2e-4 m off at this distance may round into the next column.
      {"a trillion metres each way", {{-1e12, 50}, {1e12, 50}}, whole_row(0, -1e12), 50},
      {"segments at a non-finite vertex sample nothing",
       {{50, 50}, {150, 50}, {kNaN, 0}, {250, 50}},
       {{0, 0, 0}, {1, 0, 50}}},
  };
  const StaticModel model = row_model();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Json json = polyline(model, c.trace);
    ASSERT_EQ(json["columns"].size(), c.columns.size());
    for (std::size_t n = 0; n < c.columns.size(); ++n) {
      const auto& [i, j, distance] = c.columns[n];
      const Json& column = json["columns"][n];
      EXPECT_EQ(column["i"], i);
      EXPECT_EQ(column["j"], j);
      EXPECT_NEAR(column["distance_m"].get<double>(), distance, c.tolerance) << n;
    }
  }
}

TEST(IntersectionBundle, CheckOrder) {
  StaticModel model = row_model();
  const SectionSpec one = SectionSpec::polyline({{50, 150}});
  EXPECT_ERROR_TEXT(
      intersection_bundle(model, one, "PORO"),
      "invalid input: intersection_bundle: a section trace needs at least two vertices");
  EXPECT_ERROR_TEXT(intersection_bundle(model, SectionSpec::polyline({{50, 150}, {0, 0}}), "PORO"),
                    "invalid input: intersection_bundle: no property 'PORO'");
  model.grid = testing::box_grid(1, 3, 1);
  EXPECT_ERROR_TEXT(
      intersection_bundle(model, one, std::nullopt),
      "invalid input: property pipeline needs an areal lattice of at least 2x2 columns, got 1x3");
}

TEST(IntersectionBundle, EdgeDepthsFollowTheCellGeometryUnlessSugarCube) {
  StaticModel model = row_model();
  tilt_along_x(model.grid);
  for (const bool sugar_cube : {false, true}) {
    model.sugar_cube = sugar_cube;
    const Json json = polyline(model, {{150, 150}, {350, 150}});
    EXPECT_EQ(json["sugar_cube"], sugar_cube);
    ASSERT_EQ(json["columns"].size(), 3u);
    for (const Json& column : json["columns"]) {
      for (std::size_t k = 0; k < 2; ++k) {
        const double top = 2000 + 10.0 * double(k) + 10 * column["i"].get<double>();
        const double centre = top + 5;
        EXPECT_DOUBLE_EQ(column["layer_tops"][k].get<double>(), centre);
        EXPECT_DOUBLE_EQ(column["layer_bases"][k].get<double>(), centre + 10);
        EXPECT_DOUBLE_EQ(column["layer_tops_l"][k].get<double>(), sugar_cube ? centre : top);
        EXPECT_DOUBLE_EQ(column["layer_tops_r"][k].get<double>(), sugar_cube ? centre : top + 10);
        EXPECT_DOUBLE_EQ(column["layer_bases_l"][k].get<double>(),
                         sugar_cube ? centre + 10 : top + 10);
        EXPECT_DOUBLE_EQ(column["layer_bases_r"][k].get<double>(),
                         sugar_cube ? centre + 10 : top + 20);
      }
    }
  }
}

TEST(IntersectionBundle, PinchedLayersZonesAndValues) {
  StaticModel model = row_model(3);
  // Layer 1 has no thickness anywhere.
  testing::reshape_depths(model.grid, [](const CellIndex& cell, int corner, double z) {
    return cell.k == 1 && corner >= 4 ? z - 10 : z;
  });
  testing::set_cube(model.grid, "PORO", [](std::size_t i, auto, std::size_t k) {
    return k == 2 && i == 1 ? kNaN : 0.01 * double(i) + 0.1 * double(k);
  });
  model.zone_table =
      ZoneTable::from_stack({"H0", "H1", "H2"}, {"UP", "LOW"}, {"#ff0000", std::nullopt}, {1, 1});
  Json json = polyline(model, {{50, 150}, {150, 150}}, "PORO");
  EXPECT_EQ(json["property"], "PORO");
  const Json& column = json["columns"][1];
  for (const char* key : {"layer_tops", "layer_bases", "layer_tops_l", "layer_tops_r",
                          "layer_bases_l", "layer_bases_r", "values"}) {
    EXPECT_TRUE(column[key][1].is_null()) << key;
  }
  EXPECT_EQ(column["layer_tops"][2], 2020.0);
  // Layer 2 lies outside both zones.
  EXPECT_EQ(column["zone_ids"], Json::parse("[0,65535,65535]"));
  EXPECT_DOUBLE_EQ(column["values"][0].get<double>(), 0.01);
  EXPECT_TRUE(column["values"][2].is_null());
  EXPECT_EQ(json["zones"],
            Json::parse(R"([{"name":"UP","color":"#ff0000"},{"name":"LOW","color":null}])"));
  EXPECT_EQ(json["horizon_traces"], Json::parse(R"([{"name":"H1","depths":[2010.0,2010.0]}])"));

  // An empty zone at the bottom has no first layer to trace.
  model.zone_table = ZoneTable::from_stack({"H0", "H1", "H2"}, {"ALL", "NONE"},
                                           {std::nullopt, std::nullopt}, {3, 0});
  json = polyline(model, {{50, 150}, {150, 150}});
  EXPECT_EQ(json["horizon_traces"], Json::parse(R"([{"name":"H1","depths":[null,null]}])"));
}

TEST(IntersectionBundle, GeoreferencedFrameMapsWorldPointsIntoTheGrid) {
  StaticModel model = row_model();
  tilt_along_x(model.grid);
  // World columns run north (rotation 90 degrees) from (1000, 5000), rows run west.
  model.georef = Georef{1000, 5000, 100, 100, 90, false};
  const zorvatools::Lattice world = model.georef->lattice(10, 3);
  const Json json = polyline(model, {world.node_xy(1, 1), world.node_xy(3, 1)});
  EXPECT_EQ(json["frame"]["rotation_deg"], 90.0);
  ASSERT_EQ(json["columns"].size(), 3u);
  const Json& column = json["columns"][1];
  EXPECT_EQ(column["i"], 2);
  EXPECT_NEAR(column["x"].get<double>(), 900.0, 1e-9);
  EXPECT_NEAR(column["y"].get<double>(), 5150.0, 1e-9);
  EXPECT_NEAR(column["layer_tops_l"][0].get<double>(), 2020, 1e-9);
  EXPECT_NEAR(column["layer_tops_r"][0].get<double>(), 2030, 1e-9);
}

TEST(IntersectionBundle, AlongBoreCarriesPathDepthAndRetangentsEdges) {
  StaticModel model = row_model();
  tilt_along_x(model.grid);
  const Json json = section(
      model, SectionSpec::along_bore({{150, 150, 1000}, {250, 150, 1100}, {150, 150, kNaN}}));
  ASSERT_EQ(json["columns"].size(), 3u);
  EXPECT_EQ(json["columns"][0]["path_z"], 1000.0);
  EXPECT_EQ(json["columns"][1]["path_z"], 1050.0);
  EXPECT_TRUE(json["columns"][2]["path_z"].is_null());
  // The first column's tangent points to the next: the usual edges.
  EXPECT_DOUBLE_EQ(json["columns"][0]["layer_tops_l"][0].get<double>(), 2010);
  EXPECT_DOUBLE_EQ(json["columns"][0]["layer_tops_r"][0].get<double>(), 2020);
  // The middle column's neighbours coincide, as do the ends: no tangent, centre depths, where a
  // polyline would keep its segment's direction.
  EXPECT_EQ(json["columns"][1]["layer_tops_l"], json["columns"][1]["layer_tops"]);
  const Json line = polyline(model, {{150, 150}, {250, 150}, {150, 150}});
  EXPECT_NE(line["columns"][1]["layer_tops_l"], line["columns"][1]["layer_tops"]);
}

TEST(FenceEdgeDepths, ClipsAndInterpolatesOrFallsBackToTheCentre) {
  // A cell over [0, 100]² whose top corners lie at 0, 10, 20, 30 and bottom ones 5 m lower.
  CellCorners cell;
  for (int n = 0; n < 8; ++n) {
    cell[n] = {100.0 * (n % 2), 100.0 * ((n % 4) / 2), 10.0 * (n % 4) + (n >= 4 ? 5 : 0)};
  }
  struct Case {
    Point2 p, d;
    double top_l, base_l, top_r, base_r;
  };
  const std::vector<Case> cases{
      {{50, 50}, {1, 1}, 0, 5, 30, 35},        // corner to corner
      {{50, 50}, {-3, 0}, 20, 25, 10, 15},     // westward, at half height
      {{50, -400}, {0, 2}, 5, 10, 25, 30},     // point outside, line through the cell
      {{50, 50}, {1e-10, 0}, 15, 20, 15, 20},  // too short: centre, silently
      {{500, 0}, {1, 1}, 15, 20, 15, 20},      // misses
      {{kNaN, kNaN}, {0, 1}, 15, 20, 15, 20},  // unmapped point
  };
  ::testing::internal::CaptureStderr();
  for (const Case& c : cases) {
    const EdgeDepths e = fence_edge_depths(cell, c.p, c.d);
    EXPECT_DOUBLE_EQ(e.top_l, c.top_l);
    EXPECT_DOUBLE_EQ(e.base_l, c.base_l);
    EXPECT_DOUBLE_EQ(e.top_r, c.top_r);
    EXPECT_DOUBLE_EQ(e.base_r, c.base_r);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "warning: fence_edge_depths clip miss (frame mismatch?) — section edge fell back to "
            "the centroid: p=(500, 0) dir=(1, 1) cell x[0, 100] y[0, 100]\n"
            "warning: fence_edge_depths clip miss (frame mismatch?) — section edge fell back to "
            "the centroid: p=(NaN, NaN) dir=(0, 1) cell x[0, 100] y[0, 100]\n");
}

}  // namespace
}  // namespace zorvastatic
