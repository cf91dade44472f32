#include "zorvastatic/model/view/frame.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "view_fixtures.hpp"

namespace zorvastatic {
namespace {

using testing::box_grid;
using testing::Json;
using testing::keys_of;

Json frame_json(const GridFrame& frame) {
  zorvatools::JsonWriter json;
  write_json(json, frame);
  return Json::parse(json.str());
}

TEST(GridFrame, WithoutGeorefIsTheColumnCentreLattice) {
  ASSERT_OK_AND_ASSIGN(const GridFrame frame,
                       GridFrame::of_grid(box_grid(4, 3, 2, 100, 50), std::nullopt));
  EXPECT_DOUBLE_EQ(frame.origin_x, 50);
  EXPECT_DOUBLE_EQ(frame.origin_y, 25);
  EXPECT_DOUBLE_EQ(frame.spacing_x, 100);
  EXPECT_DOUBLE_EQ(frame.spacing_y, 50);
  EXPECT_EQ(frame.ncol, 4u);
  EXPECT_EQ(frame.nrow, 3u);
  EXPECT_EQ(frame.rotation_deg, 0);
  EXPECT_FALSE(frame.yflip);
  const Json json = frame_json(frame);
  EXPECT_EQ(keys_of(json), (std::vector<std::string>{"origin_x", "origin_y", "spacing_x",
                                                     "spacing_y", "ncol", "nrow"}));
  EXPECT_EQ(json["ncol"], 4);
}

TEST(GridFrame, GeorefIsCopiedWithTheGridsColumnCounts) {
  const Georef plain{1000.5, 2000, 25, 30, 0, false};
  ASSERT_OK_AND_ASSIGN(const GridFrame frame, GridFrame::of_grid(box_grid(5, 2, 1), plain));
  EXPECT_EQ(frame.origin_x, 1000.5);
  EXPECT_EQ(frame.spacing_y, 30);
  EXPECT_EQ(frame.ncol, 5u);
  EXPECT_EQ(frame.nrow, 2u);
  EXPECT_EQ(keys_of(frame_json(frame)).size(), 6u);

  ASSERT_OK_AND_ASSIGN(const GridFrame turned,
                       GridFrame::of_grid(box_grid(5, 2, 1), Georef{0, 0, 25, 30, -12.5, true}));
  zorvatools::JsonWriter json;
  write_json(json, turned);
  EXPECT_EQ(json.str(),
            R"({"origin_x":0.0,"origin_y":0.0,"spacing_x":25.0,"spacing_y":30.0,"ncol":5,)"
            R"("nrow":2,"rotation_deg":-12.5,"yflip":true})");
}

TEST(GridFrame, NeedsTwoColumnsEachWay) {
  const Grid thin = box_grid(1, 3, 1);
  EXPECT_ERROR_TEXT(
      GridFrame::of_grid(thin, Georef{}),
      "invalid input: view frame needs an areal lattice of at least 2x2 columns, got 1x3");
  EXPECT_ERROR_TEXT(
      GridFrame::of_grid(thin, std::nullopt),
      "invalid input: property pipeline needs an areal lattice of at least 2x2 columns, got 1x3");
}

TEST(ValueRange, CoversFiniteValuesOnly) {
  const double nan = std::nan("");
  const std::vector<double> mixed{nan, 3, -INFINITY, -2, 7, nan};
  const ValueRange range = ValueRange::of_finite(mixed);
  EXPECT_EQ(range.min, -2);
  EXPECT_EQ(range.max, 7);
  const std::vector<float> none{NAN, INFINITY};
  const ValueRange empty = ValueRange::of_finite(none);
  EXPECT_TRUE(std::isnan(empty.min) && std::isnan(empty.max));
  zorvatools::JsonWriter json;
  write_json(json, empty);
  EXPECT_EQ(json.str(), R"({"min":null,"max":null})");
}

}  // namespace
}  // namespace zorvastatic
