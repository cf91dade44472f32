#include "zorvastatic/model/view/volume.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

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

Json volume(const StaticModel& model, const std::string& property = "PORO") {
  auto text = volume_bundle(model, property);
  EXPECT_TRUE(text) << text.error().display();
  return text ? Json::parse(*text) : Json();
}

StaticModel model_with(Grid grid,
                       const std::function<double(std::size_t, std::size_t, std::size_t)>& poro) {
  set_cube(grid, "PORO", poro);
  return box_model(std::move(grid));
}

// Counts of the mesh: vertices, triangles, shell cells.
struct MeshCounts {
  std::size_t vertices, triangles, cells;
  friend bool operator==(const MeshCounts&, const MeshCounts&) = default;
};

MeshCounts counts(const Json& json) {
  EXPECT_EQ(json["positions"].size() % 3, 0u);
  EXPECT_EQ(json["indices"].size(), 3 * json["tri_cell"].size());
  EXPECT_EQ(json["cell_values"].size(), json["zone_ids"].size());
  return {json["positions"].size() / 3, json["tri_cell"].size(), json["cell_values"].size()};
}

TEST(VolumeBundle, OneCell) {
  const auto text = volume_bundle(
      model_with(box_grid(1, 1, 1, 10, 20, 2000.5, 3), [](auto...) { return 0.1; }), "PORO");
  ASSERT_OK(text);
  const Json json = Json::parse(*text);
  EXPECT_EQ(keys_of(json),
            (std::vector<std::string>{"schema_version", "inputs_ref", "property", "cell_count",
                                      "positions", "indices", "tri_cell", "cell_values", "zone_ids",
                                      "zone_names", "value_range"}));
  EXPECT_EQ(counts(json), (MeshCounts{8, 12, 1}));
  EXPECT_EQ(json["cell_count"], 1);
  EXPECT_EQ(json["property"], "PORO");
  EXPECT_EQ(json["tri_cell"], Json(std::vector<int>(12, 0)));
  // The top face (corners 0, 1, 3, 2) comes first: triangles (a, b, c) and (a, c, d).
  EXPECT_EQ(Json(std::vector<Json>(json["indices"].begin(), json["indices"].begin() + 6)),
            Json::parse("[0,1,2,0,2,3]"));
  EXPECT_TRUE(text->find(R"("positions":[0.0,0.0,2000.5,10.0,0.0,2000.5,10.0,20.0,2000.5,)") !=
              std::string::npos);
  EXPECT_TRUE(
      text->find(R"("cell_values":[0.1],"zone_ids":[0],"zone_names":["RESERVOIR"],)"
                 R"("value_range":{"min":0.10000000149011612,"max":0.10000000149011612}})") !=
      std::string::npos);
}

TEST(VolumeBundle, ExposedFacesOnly) {
  struct Case {
    const char* name;
    std::size_t ni, nj, nk;
    std::function<double(std::size_t, std::size_t, std::size_t)> poro;
    MeshCounts expected;
  };
  const std::vector<Case> cases{
      {"two cells side by side share four vertices",
       2,
       1,
       1,
       [](auto...) { return 0.2; },
       {12, 20, 2}},
      {"NaN cell splits a row",
       3,
       1,
       1,
       [](std::size_t i, auto, auto) { return i == 1 ? kNaN : 0.2; },
       {16, 24, 2}},
      {"enclosed hole shows its six faces",
       3,
       3,
       3,
       [](std::size_t i, std::size_t j, std::size_t k) {
         return i == 1 && j == 1 && k == 1 ? kNaN : 0.2;
       },
       {56 + 8, 120, 26}},
      {"full block keeps only its outside", 3, 3, 3, [](auto...) { return 0.2; }, {56, 108, 26}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Json json = volume(model_with(box_grid(c.ni, c.nj, c.nk), c.poro));
    EXPECT_EQ(counts(json), c.expected);
    EXPECT_EQ(json["cell_count"], c.ni * c.nj * c.nk);
    // Every vertex is distinct and every index refers to one.
    std::set<std::tuple<float, float, float>> distinct;
    const Json& p = json["positions"];
    for (std::size_t v = 0; v + 2 < p.size(); v += 3) {
      distinct.emplace(p[v].get<float>(), p[v + 1].get<float>(), p[v + 2].get<float>());
    }
    EXPECT_EQ(distinct.size(), p.size() / 3);
    for (const Json& index : json["indices"]) EXPECT_LT(index.get<std::size_t>(), p.size() / 3);
  }
}

TEST(VolumeBundle, ZeroVolumeCellIsInactive) {
  Grid grid = box_grid(3, 1, 1);
  testing::reshape_depths(grid, [](const CellIndex& cell, int corner, double z) {
    return cell.i == 1 && corner >= 4 ? z - 50 : z;  // bottom raised onto the top
  });
  const Json json = volume(model_with(std::move(grid), [](auto...) { return 0.3; }));
  EXPECT_EQ(counts(json), (MeshCounts{16, 24, 2}));
  // The shell cells are the two ends; the slots of their triangles follow exposure order.
  EXPECT_EQ(json["tri_cell"][11], 0);
  EXPECT_EQ(json["tri_cell"][12], 1);
}

TEST(VolumeBundle, UndefinedPropertyGivesAnEmptyMesh) {
  const auto text =
      volume_bundle(model_with(box_grid(2, 3, 4), [](auto...) { return kNaN; }), "PORO");
  ASSERT_OK(text);
  EXPECT_TRUE(text->ends_with(
      R"("cell_count":24,"positions":[],"indices":[],"tri_cell":[],"cell_values":[],)"
      R"("zone_ids":[],"zone_names":["RESERVOIR"],"value_range":{"min":null,"max":null}})"));
  EXPECT_ERROR_TEXT(volume_bundle(model_with(box_grid(1, 1, 1), [](auto...) { return 0.1; }), "SW"),
                    "invalid input: volume_bundle: no property 'SW'");
}

TEST(VolumeBundle, ValuesAndZonesPerShellCell) {
  // One column of five layers: layer 0 outside every zone, the rest in zones 1 and 65537
  // (written modulo 65536).
  StaticModel model = model_with(box_grid(1, 1, 5), [](auto, auto, std::size_t k) {
    return k == 3 ? double(INFINITY) : 0.05 * static_cast<double>(k + 1);
  });
  model.zone_table.zones.assign(65538, Zone{"Z", "T", "B", std::nullopt, 0, 0});
  model.zone_table.zones[1].k_start = 1;
  model.zone_table.zones[1].k_end = 3;
  model.zone_table.zones[65537].k_start = 3;
  model.zone_table.zones[65537].k_end = 5;
  const Json json = volume(model);
  // The infinite cell is inactive: cells 2 and 4 expose the faces towards it.
  EXPECT_EQ(counts(json).cells, 4u);
  EXPECT_EQ(json["zone_ids"], Json::parse("[0,1,1,1]"));
  EXPECT_EQ(json["zone_names"].size(), 65538u);
  const std::vector<float> values = json["cell_values"].get<std::vector<float>>();
  EXPECT_EQ(values, (std::vector<float>{0.05f, 0.1f, 0.15f, 0.25f}));
  EXPECT_EQ(json["value_range"]["min"].get<double>(), static_cast<double>(0.05f));
  EXPECT_EQ(json["value_range"]["max"].get<double>(), static_cast<double>(0.25f));
}

}  // namespace
}  // namespace zorvastatic
