// Interfaces whose repairs pull against each other: zones must never overlap.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "test_support.hpp"
#include "zorvastatic/model/builder.hpp"
#include "zorvastatic/model/stack_interfaces.hpp"

namespace zorvastatic {
namespace {

// Every node of every surface at or below the surface above it.
void expect_ordered(const std::vector<std::shared_ptr<const Horizon>>& horizons) {
  for (std::size_t h = 1; h < horizons.size(); ++h) {
    for (std::size_t n = 0; n < horizons[h]->depths.size(); ++n) {
      EXPECT_GE(horizons[h]->depths[n], horizons[h - 1]->depths[n])
          << horizons[h]->name << " node " << n;
    }
  }
}

// H1 and H3 mapped flat at `lower_depth` apart from H1 at 2000, H2 from one well top between
// them, two proportional zones of two layers on a 9 x 9 lattice over 800 m x 800 m.
Result<StaticModel> pinch_out_model(double lower_depth, double min_thickness_m) {
  auto top = std::make_shared<Horizon>(
      Horizon{"H1", std::vector<double>(81, 2000), 9, 9, HorizonRole::Top});
  const Wireframe wireframe{
      {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}, {Contact{2100, ContactKind::Owc}}, {top}};
  const BuildSpec spec{Conformity::proportional(), 800.0 * 800.0, 50, 2, {0.25, 0.8, 0.3}};
  ZV_ASSIGN_OR_RETURN(StaticModelBuilder builder,
                      StaticModelBuilder::from_wireframe(wireframe, spec));
  const ZoneLayerSpec two_layers{Conformity::proportional(), 2};
  builder.horizon_stack =
      HorizonStack{{StackHorizon::mapped("H1", std::vector<double>(81, 2000), 9, 9),
                    StackHorizon::tops_only("H2", {{4, 4, 2010}}),
                    StackHorizon::mapped("H3", std::vector<double>(81, lower_depth), 9, 9)},
                   {StackZone{"Z1", std::nullopt, two_layers, {}},
                    StackZone{"Z2", std::nullopt, two_layers, {}}}};
  builder.min_thickness_m = min_thickness_m;
  return std::move(builder).build();
}

TEST(StackOverlaps, ATopsOnlyHorizonBetweenMeetingMappedHorizonsPinchesOut) {
  ASSERT_OK_AND_ASSIGN(const StaticModel model, pinch_out_model(2000, 0.5));
  expect_ordered(model.wireframe.horizons);
  for (double depth : model.wireframe.horizons[1]->depths) EXPECT_EQ(depth, 2000);
  ASSERT_OK_AND_ASSIGN(const double bulk, model.bulk_volume());
  EXPECT_EQ(bulk, 0);
  ASSERT_OK_AND_ASSIGN(const ZonedInPlace zoned, model.in_place_by_zone());
  for (const ZoneInPlace& zone : zoned.zones) EXPECT_EQ(zone.in_place.cells, 0u) << zone.zone;
}

TEST(StackOverlaps, ZonesShareWhatRoomTheMappedHorizonsLeave) {
  // 0.3 m between the mapped horizons, 0.5 m asked per zone: H2 ends on H1, so the first zone
  // has no thickness and the second all 0.3 m, counted once.
  ASSERT_OK_AND_ASSIGN(const StaticModel model, pinch_out_model(2000.3, 0.5));
  expect_ordered(model.wireframe.horizons);
  ASSERT_OK_AND_ASSIGN(const double bulk, model.bulk_volume());
  EXPECT_NEAR(bulk, 800.0 * 800.0 * 0.3, 1e-6);
  ASSERT_OK_AND_ASSIGN(const ZonedInPlace zoned, model.in_place_by_zone());
  ASSERT_EQ(zoned.zones.size(), 2u);
  EXPECT_EQ(zoned.zones[0].in_place.grv_m3, 0);
  EXPECT_NEAR(zoned.zones[1].in_place.grv_m3, bulk, 1e-6);
  // Where there is room, the minimum thickness still holds.
  ASSERT_OK_AND_ASSIGN(const StaticModel roomy, pinch_out_model(2020, 0.5));
  ASSERT_OK_AND_ASSIGN(const double roomy_bulk, roomy.bulk_volume());
  EXPECT_NEAR(roomy_bulk, 800.0 * 800.0 * 20, 1e-4);
  EXPECT_EQ(roomy.wireframe.horizons[1]->depths[4 + 9 * 4], 2010);
}

TEST(StackOverlaps, TheClosedInterfaceIsRecorded) {
  const Surface upper = Surface::constant(2, 2, 2000);
  const Surface middle = Surface::constant(2, 2, 2010);
  const Surface lower(2, 2, {2000, 2000.2, 2030, 2000});
  ASSERT_OK_AND_ASSIGN(
      const CheckedInterfaces checked,
      check_stack_interfaces({upper, middle, lower}, {false, true, false}, 0.5, false));
  EXPECT_EQ(checked.surfaces[1].values(), (std::vector<double>{2000, 2000, 2010, 2000}));
  EXPECT_EQ(checked.surfaces[2], lower);
  // The raise of the middle against the lower, then the closing of the pair above it.
  ASSERT_EQ(checked.repairs.size(), 2u);
  EXPECT_EQ(checked.repairs[0].interface_index, 1u);
  EXPECT_EQ(checked.repairs[0].nodes_changed, 3u);
  EXPECT_EQ(checked.repairs[1].interface_index, 0u);
  EXPECT_EQ(checked.repairs[1].nodes_changed, 3u);
  EXPECT_NEAR(checked.repairs[1].summary_m, -0.5, 1e-12);
}

}  // namespace
}  // namespace zorvastatic
