#include "zorvastatic/model/view/frame.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"
#include "view_fixtures.hpp"

namespace zorvastatic {
namespace {

using testing::box_grid;

std::string frame_json(const Grid& grid, const std::optional<Georef>& georef) {
  auto frame = GridFrame::of_grid(grid, georef);
  EXPECT_TRUE(frame) << frame.error().display();
  zorvatools::JsonWriter json;
  if (frame) write_json(json, *frame);
  return json.str();
}

TEST(GridFrame, ColumnCentresOrGeoref) {
  // Without a georeference: the lattice of the column centres, no rotation or flip keys.
  EXPECT_EQ(frame_json(box_grid(4, 3, 2, 100, 50), std::nullopt),
            R"({"origin_x":50.0,"origin_y":25.0,"spacing_x":100.0,"spacing_y":50.0,"ncol":4,)"
            R"("nrow":3})");
  EXPECT_EQ(frame_json(box_grid(5, 2, 1), Georef{1000.5, 2000, 25, 30, 0, false}),
            R"({"origin_x":1000.5,"origin_y":2000.0,"spacing_x":25.0,"spacing_y":30.0,"ncol":5,)"
            R"("nrow":2})");
  EXPECT_EQ(frame_json(box_grid(5, 2, 1), Georef{0, 0, 25, 30, -12.5, true}),
            R"({"origin_x":0.0,"origin_y":0.0,"spacing_x":25.0,"spacing_y":30.0,"ncol":5,)"
            R"("nrow":2,"rotation_deg":-12.5,"yflip":true})");

  const Grid thin = box_grid(1, 3, 1);
  EXPECT_ERROR_TEXT(
      GridFrame::of_grid(thin, Georef{}),
      "invalid input: view frame needs an areal lattice of at least 2x2 columns, got 1x3");
  EXPECT_ERROR_TEXT(
      GridFrame::of_grid(thin, std::nullopt),
      "invalid input: property pipeline needs an areal lattice of at least 2x2 columns, got 1x3");
}

TEST(ValueRange, CoversFiniteValuesOnly) {
  const std::vector<double> mixed{NAN, 3, -INFINITY, -2, 7, NAN};
  const ValueRange range = ValueRange::of_finite(mixed);
  EXPECT_EQ(range.min, -2);
  EXPECT_EQ(range.max, 7);
  const std::vector<float> none{NAN, INFINITY};
  zorvatools::JsonWriter json;
  write_json(json, ValueRange::of_finite(none));
  EXPECT_EQ(json.str(), R"({"min":null,"max":null})");
}

}  // namespace
}  // namespace zorvastatic
