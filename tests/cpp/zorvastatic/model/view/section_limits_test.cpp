// Traces whose sample counts reach the limits of double arithmetic: they end quickly, with the
// columns or with an error.
#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "view_fixtures.hpp"
#include "zorvastatic/model/flat_model.hpp"
#include "zorvastatic/model/view/section.hpp"

namespace zorvastatic {
namespace {

using testing::Json;

// 10 x 10 columns of 100 m, centres at 50, 150, ...
StaticModel square_model() {
  return testing::box_model(testing::box_grid(10, 10, 2));
}

std::vector<std::pair<int, int>> columns_of(const Json& json) {
  std::vector<std::pair<int, int>> columns;
  for (const Json& column : json["columns"]) columns.emplace_back(column["i"], column["j"]);
  return columns;
}

TEST(SectionLimits, ASegmentWithMoreSamplesThanCanBeHeldFails) {
  const StaticModel model = square_model();
  // 2e16 samples at 50 m: beyond 2^53, where the sample numbers stop being distinct.
  EXPECT_ERROR_TEXT(
      intersection_bundle(model, SectionSpec::polyline({{-1e18, 500}, {500, 500}}), std::nullopt),
      "invalid input: intersection_bundle: segment 0 of the trace (1000000000000000500 m) needs "
      "more samples than can be held (one every half column, at most 9007199254740992 per "
      "segment)");
  // The segment at fault is named; the ones before it are fine.
  EXPECT_ERROR_TEXT(
      intersection_bundle(model, SectionSpec::polyline({{50, 50}, {950, 50}, {1e18, 50}}),
                          std::nullopt),
      "invalid input: intersection_bundle: segment 1 of the trace "
      "(999999999999999100 m) needs more samples than can be held (one every half "
      "column, at most 9007199254740992 per segment)");
}

TEST(SectionLimits, TinyCellsOnAShortLineFail) {
  FlatModelParams params;
  params.n = 5;
  params.area_m2 = 5e-324;
  auto builder = flat_model_builder(params);
  ASSERT_TRUE(builder);
  ASSERT_OK_AND_ASSIGN(const StaticModel model, std::move(*builder).build());
  const auto result =
      intersection_bundle(model, SectionSpec::polyline({{52.6, -41.0}, {0.0, 0.0}}), "PORO");
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().display().starts_with(
      "invalid input: intersection_bundle: segment 0 of the trace (66.69152869742904 m) needs "
      "more samples than can be held"))
      << result.error().display();
}

TEST(SectionLimits, LongSegmentsThatCanBeSampledGiveTheirColumns) {
  const StaticModel model = square_model();
  // 2e15 samples at 50 m, of which only those near the grid are mapped.
  ASSERT_OK_AND_ASSIGN(
      const std::string far_text,
      intersection_bundle(model, SectionSpec::polyline({{-1e17, 550}, {550, 550}}), std::nullopt));
  const Json far = Json::parse(far_text);
  std::vector<std::pair<int, int>> row;
  for (int i = 0; i <= 5; ++i) row.emplace_back(i, 5);
  EXPECT_EQ(columns_of(far), row);
  EXPECT_NEAR(far["columns"][5]["distance_m"].get<double>(), 1e17, 1e3);
  // A segment far too long to sample that never comes near the grid adds nothing.
  ASSERT_OK_AND_ASSIGN(
      const std::string missing,
      intersection_bundle(model, SectionSpec::polyline({{-1e300, -1e300}, {1e300, -1e300}}),
                          std::nullopt));
  EXPECT_EQ(Json::parse(missing)["columns"], Json::array());
}

}  // namespace
}  // namespace zorvastatic
