#include "zorvastatic/model/arrays_model.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zorvastatic {
namespace {

// A block of 2 x 1 x 2 cells, 10 m x 10 m x 5 m each, top at 1000 m, two zones of one layer.
GridArrays two_layer_block() {
  GridArrays arrays;
  arrays.ni = 2;
  arrays.nj = 1;
  arrays.nk = 2;
  for (int pj = 0; pj <= 1; ++pj) {
    for (int pi = 0; pi <= 2; ++pi) {
      const double x = 10.0 * pi, y = 10.0 * pj;
      arrays.coord.insert(arrays.coord.end(), {x, y, 1000.0, x, y, 1010.0});
    }
  }
  for (int k = 0; k < 2; ++k) {
    for (int c = 0; c < 2; ++c) {
      for (int n = 0; n < 8; ++n) arrays.zcorn.push_back(1000.0 + 5.0 * k + (n < 4 ? 0.0 : 5.0));
    }
  }
  arrays.cubes.push_back({"PORO", std::vector<double>(4, 0.25)});
  arrays.cubes.push_back({"NTG", std::vector<double>(4, 0.8)});
  arrays.cubes.push_back({"SW", std::vector<double>(4, 0.2)});
  arrays.zones = {{"A", 0, 1, {{1004.0, ContactKind::Owc}}}, {"B", 1, 2, {}}};
  return arrays;
}

TEST(ModelFromArrays, BuildsAModelEveryComputationReads) {
  auto model = model_from_arrays(two_layer_block());
  ASSERT_TRUE(model) << model.error().display();
  EXPECT_EQ(model->grid.dims().cell_count(), 4u);
  EXPECT_EQ(model->bulk_volume().value(), 2000.0);
  EXPECT_EQ(model->property_names(), (std::vector<std::string>{"NTG", "PORO", "SW"}));
  ASSERT_EQ(model->zone_table.zones.size(), 2u);
  EXPECT_EQ(model->zone_table.zones[1].k_start, 1u);

  // Zone A's cells lie at 1002.5 m, above its OWC; zone B has no contact: gross only.
  auto zoned = model->in_place_by_zone();
  ASSERT_TRUE(zoned) << zoned.error().display();
  EXPECT_EQ(zoned->zones[0].in_place.grv_m3, 1000.0);
  EXPECT_DOUBLE_EQ(zoned->zones[0].in_place.hcpv_m3, 1000.0 * 0.25 * 0.8 * 0.8);
  EXPECT_EQ(zoned->zones[1].in_place.hcpv_m3, 0.0);
  EXPECT_EQ(zoned->zones[1].in_place.grv_m3, 1000.0);
  // The whole model's contacts are the zones' together.
  auto whole = model->in_place_impl(false);
  ASSERT_TRUE(whole) << whole.error().display();
  EXPECT_EQ(whole->cells, 2u);
}

TEST(ModelFromArrays, InactiveCellsHaveNoVolume) {
  GridArrays arrays = two_layer_block();
  arrays.active = {1, 0, 1, 1};
  auto model = model_from_arrays(std::move(arrays));
  ASSERT_TRUE(model) << model.error().display();
  EXPECT_EQ(model->grid.geom.cell_volume_at(1), 0.0);
  EXPECT_EQ(model->grid.geom.cell_volume_at(0), 500.0);
  EXPECT_EQ(model->bulk_volume().value(), 1500.0);
  // The inactive cell keeps its top corners.
  EXPECT_EQ(model->grid.geom.cell_depths(1)[0], 1000.0);
  EXPECT_EQ(model->grid.geom.cell_depths(1)[7], 1000.0);
}

struct BadArrays {
  const char* what;
  void (*spoil)(GridArrays&);
  const char* message;
};

TEST(ModelFromArrays, RefusesInconsistentArrays) {
  const BadArrays cases[] = {
      {"short coord", [](GridArrays& a) { a.coord.pop_back(); },
       "invalid input: COORD has 35 values, expected 36 (six per pillar)"},
      {"short zcorn", [](GridArrays& a) { a.zcorn.resize(31); },
       "invalid input: ZCORN has 31 values, expected 32 (eight per cell)"},
      {"nan depth", [](GridArrays& a) { a.zcorn[8 * 3 + 5] = std::nan(""); },
       "invalid input: ZCORN holds NaN at cell (1, 0, 1) corner 5"},
      {"infinite pillar",
       [](GridArrays& a) { a.coord[6 * 4 + 1] = std::numeric_limits<double>::infinity(); },
       "invalid input: COORD holds inf at pillar (1, 1)"},
      {"cube size", [](GridArrays& a) { a.cubes[0].values.pop_back(); },
       "invalid input: property 'PORO' has 3 values, expected 4"},
      {"cube twice", [](GridArrays& a) { a.cubes.push_back(a.cubes[0]); },
       "invalid input: property 'PORO' is given twice"},
      {"gap between zones", [](GridArrays& a) { a.zones[1].k_start = 2; },
       "invalid input: zone 'B' covers layers [2, 2); expected [1, k) with k <= 2: zones follow "
       "each other from the top"},
      {"zones short of the base", [](GridArrays& a) { a.zones.pop_back(); },
       "invalid input: the zones cover layers [0, 1) of a grid of 2 layers"},
      {"no zone", [](GridArrays& a) { a.zones.clear(); },
       "invalid input: a grid needs at least one zone"},
      {"nan contact", [](GridArrays& a) { a.zones[0].contacts[0].depth_m = std::nan(""); },
       "outside validity range: zone 'A': OWC depth must be finite, got NaN"},
      {"sw_gas", [](GridArrays& a) { a.sw_gas = 1.5; },
       "invalid input: sw_gas must be a fraction in [0,1], got 1.5"},
      {"zero layers", [](GridArrays& a) { a.nk = 0; },
       "grid error: dimensions must be non-zero, got (2,1,0)"},
  };
  for (const BadArrays& bad : cases) {
    GridArrays arrays = two_layer_block();
    bad.spoil(arrays);
    auto model = model_from_arrays(std::move(arrays));
    ASSERT_FALSE(model) << bad.what;
    EXPECT_EQ(model.error().display(), bad.message) << bad.what;
  }
}

}  // namespace
}  // namespace zorvastatic
