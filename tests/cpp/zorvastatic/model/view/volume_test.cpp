#include "zorvastatic/model/view/volume.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "test_support.hpp"
#include "view_fixtures.hpp"

namespace zorvastatic {
namespace {

using testing::Json;
using CellFn = std::function<double(std::size_t, std::size_t, std::size_t)>;

const double kNaN = std::nan("");

StaticModel model_with(Grid grid, const CellFn& poro) {
  testing::set_cube(grid, "PORO", poro);
  return testing::box_model(std::move(grid));
}

Json volume(const StaticModel& model) {
  auto text = volume_bundle(model, "PORO");
  EXPECT_TRUE(text) << text.error().display();
  return text ? Json::parse(*text) : Json();
}

TEST(VolumeBundle, OneCell) {
  const auto text = volume_bundle(
      model_with(testing::box_grid(1, 1, 1, 10, 20, 2000.5, 3), [](auto...) { return 0.1; }),
      "PORO");
  ASSERT_OK(text);
  const Json json = Json::parse(*text);
  EXPECT_EQ(testing::keys_of(json),
            (std::vector<std::string>{"schema_version", "inputs_ref", "property", "cell_count",
                                      "positions", "indices", "tri_cell", "cell_values", "zone_ids",
                                      "zone_names", "value_range"}));
  EXPECT_EQ(json["positions"].size(), 24u);
  EXPECT_EQ(json["indices"].size(), 36u);
  EXPECT_EQ(json["tri_cell"], Json(std::vector<int>(12, 0)));
  // The top face (corners 0, 1, 3, 2) comes first, as triangles (a, b, c) and (a, c, d).
  EXPECT_TRUE(text->starts_with(
      R"({"schema_version":6,"inputs_ref":"wireframe","property":"PORO","cell_count":1,)"
      R"("positions":[0.0,0.0,2000.5,10.0,0.0,2000.5,10.0,20.0,2000.5,0.0,20.0,2000.5,)"));
  EXPECT_NE(text->find(R"("indices":[0,1,2,0,2,3,)"), std::string::npos);
  EXPECT_TRUE(
      text->ends_with(R"("cell_values":[0.1],"zone_ids":[0],"zone_names":["RESERVOIR"],)"
                      R"("value_range":{"min":0.10000000149011612,"max":0.10000000149011612}})"));
}

TEST(VolumeBundle, ExposedFacesOnly) {
  const auto zero_volume_middle = [] {
    Grid grid = testing::box_grid(3, 1, 1);
    testing::reshape_depths(grid, [](const CellIndex& cell, int corner, double z) {
      return cell.i == 1 && corner >= 4 ? z - 50 : z;  // bottom raised onto the top
    });
    return grid;
  };
  struct Case {
    const char* name;
    Grid grid;
    CellFn poro;
    std::size_t vertices, triangles, shell_cells;
  };
  const CellFn everywhere = [](auto...) { return 0.2; };
  std::vector<Case> cases;
  cases.push_back(
      {"side by side, sharing four vertices", testing::box_grid(2, 1, 1), everywhere, 12, 20, 2});
  cases.push_back({"split by a NaN cell", testing::box_grid(3, 1, 1),
                   [](std::size_t i, auto, auto) { return i == 1 ? kNaN : 0.2; }, 16, 24, 2});
  cases.push_back({"split by a cell without volume", zero_volume_middle(), everywhere, 16, 24, 2});
  cases.push_back({"full block", testing::box_grid(3, 3, 3), everywhere, 56, 108, 26});
  cases.push_back({"block around a hole", testing::box_grid(3, 3, 3),
                   [](std::size_t i, std::size_t j, std::size_t k) {
                     return i == 1 && j == 1 && k == 1 ? kNaN : 0.2;
                   },
                   64, 120, 26});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t cells = c.grid.dims().cell_count();
    const Json json = volume(model_with(std::move(c.grid), c.poro));
    EXPECT_EQ(json["cell_count"], cells);
    const Json& p = json["positions"];
    EXPECT_EQ(p.size(), 3 * c.vertices);
    EXPECT_EQ(json["indices"].size(), 3 * c.triangles);
    EXPECT_EQ(json["tri_cell"].size(), c.triangles);
    EXPECT_EQ(json["cell_values"].size(), c.shell_cells);
    EXPECT_EQ(json["zone_ids"].size(), c.shell_cells);
    std::set<std::tuple<float, float, float>> distinct;
    for (std::size_t v = 0; v + 2 < p.size(); v += 3) {
      distinct.emplace(p[v].get<float>(), p[v + 1].get<float>(), p[v + 2].get<float>());
    }
    EXPECT_EQ(distinct.size(), c.vertices);
    // Triangles come in pairs per face, in cell order: slots never decrease.
    for (std::size_t t = 1; t < c.triangles; ++t)
      EXPECT_LE(json["tri_cell"][t - 1], json["tri_cell"][t]);
  }
}

TEST(VolumeBundle, ValuesZonesAndRefusals) {
  StaticModel model = model_with(testing::box_grid(2, 3, 4), [](auto...) { return kNaN; });
  const auto empty = volume_bundle(model, "PORO");
  ASSERT_OK(empty);
  EXPECT_TRUE(empty->ends_with(
      R"("cell_count":24,"positions":[],"indices":[],"tri_cell":[],"cell_values":[],)"
      R"("zone_ids":[],"zone_names":["RESERVOIR"],"value_range":{"min":null,"max":null}})"));
  EXPECT_ERROR_TEXT(volume_bundle(model, "SW"), "invalid input: volume_bundle: no property 'SW'");

  // One column of five layers: layer 0 outside every zone, the others in zones 1 and 65537
  // (written modulo 65536); layer 3 infinite, so inactive.
  model = model_with(testing::box_grid(1, 1, 5), [](auto, auto, std::size_t k) {
    return k == 3 ? double(INFINITY) : 0.05 * double(k + 1);
  });
  model.zone_table.zones.assign(65538, Zone{"Z", "T", "B", std::nullopt, 0, 0});
  model.zone_table.zones[1].k_start = 1;
  model.zone_table.zones[1].k_end = 3;
  model.zone_table.zones[65537].k_start = 3;
  model.zone_table.zones[65537].k_end = 5;
  const Json json = volume(model);
  EXPECT_EQ(json["zone_ids"], Json::parse("[0,1,1,1]"));
  EXPECT_EQ(json["zone_names"].size(), 65538u);
  EXPECT_EQ(json["cell_values"].get<std::vector<float>>(),
            (std::vector<float>{0.05f, 0.1f, 0.15f, 0.25f}));
  EXPECT_EQ(json["value_range"]["min"].get<double>(), double(0.05f));
  EXPECT_EQ(json["value_range"]["max"].get<double>(), double(0.25f));
}

}  // namespace
}  // namespace zorvastatic
