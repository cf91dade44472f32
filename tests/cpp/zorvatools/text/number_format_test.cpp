#include "zorvatools/text/number_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace zorvatools {
namespace {

struct DoubleRow {
  double value;
  const char* message;
  const char* json;
};

constexpr double kInf = std::numeric_limits<double>::infinity();

const DoubleRow kDoubleRows[] = {
    {0.0, "0", "0.0"},
    {-0.0, "-0", "-0.0"},
    {2.0, "2", "2.0"},
    {0.25, "0.25", "0.25"},
    {1.0 / 3.0, "0.3333333333333333", "0.3333333333333333"},
    {5e7, "50000000", "50000000.0"},
    {6999999.999999999, "6999999.999999999", "6999999.999999999"},
    {1e15, "1000000000000000", "1000000000000000.0"},
    {1e16, "10000000000000000", "1e16"},
    {1.5e16, "15000000000000000", "1.5e16"},
    {1.2345678901234568e17, "123456789012345680", "1.2345678901234568e17"},
    {1e-4, "0.0001", "0.0001"},
    {1e-5, "0.00001", "0.00001"},
    {1e-6, "0.000001", "1e-6"},
    {1.5e-7, "0.00000015", "1.5e-7"},
    {-2.5, "-2.5", "-2.5"},
    {-1e-6, "-0.000001", "-1e-6"},
    {std::nan(""), "NaN", "null"},
    {kInf, "inf", "null"},
    {-kInf, "-inf", "null"},
};

TEST(NumberFormat, DoubleLayouts) {
  for (const DoubleRow& row : kDoubleRows) {
    EXPECT_EQ(message_number(row.value), row.message) << row.json;
    EXPECT_EQ(json_number(row.value), row.json) << row.message;
  }
}

TEST(NumberFormat, HugeValueIsWrittenPositionally) {
  EXPECT_EQ(message_number(1e300), "1" + std::string(300, '0'));
  EXPECT_EQ(json_number(1e300), "1e300");
  EXPECT_EQ(json_number(-1.25e-300), "-1.25e-300");
}

TEST(NumberFormat, FloatLayouts) {
  const std::pair<float, const char*> rows[] = {
      {0.1f, "0.1"},
      {1.0f / 3.0f, "0.33333334"},
      {1e12f, "1000000000000.0"},
      {1e13f, "1e13"},
      {1e-6f, "0.000001"},
      {1e-7f, "1e-7"},
      {2000.5f, "2000.5"},
      {0.0f, "0.0"},
      {-0.0f, "-0.0"},
      {std::nanf(""), "null"},
      {-std::numeric_limits<float>::infinity(), "null"},
  };
  for (const auto& [value, json] : rows) EXPECT_EQ(json_number(value), json) << json;
}

TEST(NumberFormat, ShortestDigitsReadBack) {
  // Every layout must read back to the same value.
  const double samples[] = {0.1, 0.2 + 0.1, 123.456, 9.999999999999999e15, 7.0e-5, 2e-308};
  for (double v : samples) {
    EXPECT_EQ(std::strtod(json_number(v).c_str(), nullptr), v);
    EXPECT_EQ(std::strtod(message_number(v).c_str(), nullptr), v);
  }
}

}  // namespace
}  // namespace zorvatools
