#include "zorvastatic/volumetrics/volume_table.hpp"

#include <gtest/gtest.h>

#include <random>

#include "zorvastatic/model/arrays_model.hpp"

namespace zorvastatic {
namespace {

// 5 x 4 columns of 50 m on pillars leaning east, 6 layers of uneven thickness from about 1000 m,
// random properties; zone A (layers 0-2) with a GOC and an OWC, zone B (3-5) with a GWC.
GridArrays leaning_grid(std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> fraction(0.05, 0.95), thickness(1.0, 4.0);
  GridArrays a;
  a.ni = 5;
  a.nj = 4;
  a.nk = 6;
  for (std::size_t pj = 0; pj <= a.nj; ++pj) {
    for (std::size_t pi = 0; pi <= a.ni; ++pi) {
      const double x = 50.0 * pi, y = 50.0 * pj;
      a.coord.insert(a.coord.end(), {x, y, 900.0, x + 30.0, y, 1100.0});
    }
  }
  std::vector<double> boundary((a.nk + 1) * (a.ni + 1) * (a.nj + 1));
  const std::size_t nodes = (a.ni + 1) * (a.nj + 1);
  for (std::size_t n = 0; n < nodes; ++n) boundary[n] = 1000.0 + 0.01 * static_cast<double>(n);
  for (std::size_t k = 1; k <= a.nk; ++k) {
    for (std::size_t n = 0; n < nodes; ++n) {
      boundary[k * nodes + n] = boundary[(k - 1) * nodes + n] + thickness(random);
    }
  }
  for (std::size_t k = 0; k < a.nk; ++k) {
    for (std::size_t j = 0; j < a.nj; ++j) {
      for (std::size_t i = 0; i < a.ni; ++i) {
        const std::size_t p = i + j * (a.ni + 1);
        for (std::size_t face = 0; face < 2; ++face) {
          for (std::size_t node : {p, p + 1, p + a.ni + 1, p + a.ni + 2}) {
            a.zcorn.push_back(boundary[(k + face) * nodes + node]);
          }
        }
      }
    }
  }
  const std::size_t cells = a.ni * a.nj * a.nk;
  for (const char* name : {"PORO", "NTG", "SW"}) {
    Property cube{name, std::vector<double>(cells)};
    for (double& v : cube.values) v = fraction(random);
    a.cubes.push_back(std::move(cube));
  }
  a.zones = {{"A", 0, 3, {{1003.0, ContactKind::Goc}, {1006.5, ContactKind::Owc}}},
             {"B", 3, 6, {{1013.0, ContactKind::Gwc}}}};
  return a;
}

TEST(VolumeTable, HydrocarbonsAreTheInPlaceCellsSummedAlike) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    auto model = model_from_arrays(leaning_grid(seed));
    ASSERT_TRUE(model) << model.error().display();
    ASSERT_FALSE(model->grid.geom.vertical());
    auto table = volume_table(*model, {});
    ASSERT_TRUE(table) << table.error().display();
    auto zoned = model->in_place_by_zone();
    ASSERT_TRUE(zoned) << zoned.error().display();
    double bulk = 0;
    for (std::size_t z = 0; z < 2; ++z) {
      const TableSums& oil = table->at(z, 0, TableFluid::Oil);
      const TableSums& gas = table->at(z, 0, TableFluid::Gas);
      const TableSums& water = table->at(z, 0, TableFluid::Water);
      const InPlace& in_place = zoned->zones[z].in_place;
      EXPECT_EQ(gas.hcpv_m3 + oil.hcpv_m3, in_place.hcpv_m3) << "seed " << seed << " zone " << z;
      EXPECT_EQ(gas.cells + oil.cells, in_place.cells);
      EXPECT_GT(water.cells, 0u);
      EXPECT_GT(gas.cells, 0u);
      EXPECT_LE(oil.porv_m3, oil.net_m3);
      bulk += oil.bulk_m3 + gas.bulk_m3 + water.bulk_m3;
    }
    // Zone B's only contact is a GWC: gas, no oil.
    EXPECT_EQ(table->at(1, 0, TableFluid::Oil).cells, 0u);
    EXPECT_NEAR(bulk, model->bulk_volume().value(), 1e-9 * bulk);
  }
}

TEST(VolumeTable, RegionsSplitTheCellsAndAreChecked) {
  auto model = model_from_arrays(leaning_grid(7));
  ASSERT_TRUE(model);
  std::vector<std::uint32_t> ids(5 * 4);
  for (std::size_t c = 0; c < ids.size(); ++c) ids[c] = c % 3 == 0 ? 2 : 0;  // region 1 empty
  auto split = volume_table(*model, {ids, false, 3});
  auto whole = volume_table(*model, {});
  ASSERT_TRUE(split && whole);
  for (std::size_t z = 0; z < 2; ++z) {
    for (TableFluid fluid : {TableFluid::Oil, TableFluid::Gas, TableFluid::Water}) {
      const TableSums& all = whole->at(z, 0, fluid);
      EXPECT_EQ(split->at(z, 1, fluid).cells, 0u);
      EXPECT_EQ(split->at(z, 0, fluid).cells + split->at(z, 2, fluid).cells, all.cells);
      EXPECT_NEAR(split->at(z, 0, fluid).porv_m3 + split->at(z, 2, fluid).porv_m3, all.porv_m3,
                  1e-9 * all.porv_m3);
    }
  }
  ids[4] = 3;
  auto bad = volume_table(*model, {ids, false, 3});
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().display(), "invalid input: region id 3 is not below the region count 3");
  ids.pop_back();
  bad = volume_table(*model, {ids, false, 3});
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().display(), "invalid input: region ids: got 19 values, expected 20");
}

TEST(VolumeTable, FailsAsInPlaceFailsOnAHydrocarbonCell) {
  GridArrays arrays = leaning_grid(4);
  arrays.cubes[0].values[0] = 1.5;  // PORO of cell (0, 0, 0), in zone A's gas cap
  auto model = model_from_arrays(std::move(arrays));
  ASSERT_TRUE(model);
  auto table = volume_table(*model, {});
  ASSERT_FALSE(table);
  EXPECT_EQ(table.error().display(), model->in_place_by_zone().error().display());
}

}  // namespace
}  // namespace zorvastatic
