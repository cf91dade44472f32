#include "zorvastatic/petro/upscale.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "test_support.hpp"

namespace zorvastatic {
namespace {

std::vector<LengthValue> unit_lengths(std::initializer_list<double> values) {
  std::vector<LengthValue> pairs;
  for (double v : values) pairs.push_back({1.0, v});
  return pairs;
}

TEST(WeightedPowerMean, ThreeMethodsOnOneAndFour) {
  const auto pairs = unit_lengths({1, 4});
  EXPECT_DOUBLE_EQ(*weighted_power_mean(pairs, UpscaleMethod::Arithmetic), 2.5);
  EXPECT_DOUBLE_EQ(*weighted_power_mean(pairs, UpscaleMethod::Harmonic), 1.6);
  EXPECT_DOUBLE_EQ(*weighted_power_mean(pairs, UpscaleMethod::Geometric), 2.0);
}

TEST(WeightedPowerMean, LengthsWeightTheMean) {
  const std::vector<LengthValue> pairs = {{3, 1}, {1, 5}, {-0.0, 100}};
  EXPECT_DOUBLE_EQ(*weighted_power_mean(pairs, UpscaleMethod::Arithmetic), 2.0);
}

TEST(WeightedPowerMean, RejectsInOrder) {
  EXPECT_ERROR_TEXT(weighted_power_mean(unit_lengths({0, 4}), UpscaleMethod::Harmonic),
                    "invalid input: geometric/harmonic mean needs values > 0, got 0");
  EXPECT_ERROR_TEXT(weighted_power_mean(unit_lengths({4, -1}), UpscaleMethod::Geometric),
                    "invalid input: geometric/harmonic mean needs values > 0, got -1");
  EXPECT_TRUE(weighted_power_mean(unit_lengths({0, 4}), UpscaleMethod::Arithmetic));
  EXPECT_ERROR_TEXT(weighted_power_mean({}, UpscaleMethod::Arithmetic),
                    "invalid input: total sample length must be finite and > 0, got 0");
  const std::vector<LengthValue> negative = {{2, 1}, {-1, 1}};
  EXPECT_ERROR_TEXT(weighted_power_mean(negative, UpscaleMethod::Arithmetic),
                    "invalid input: sample length must be finite and >= 0, got -1");
}

TEST(UpscaleSw, PoreVolumeWeighted) {
  const std::vector<SwSample> samples = {{1, 0.2, 0.3}, {3, 0.1, 0.6}};
  EXPECT_NEAR(*upscale_sw(samples), 0.48, 1e-15);
}

TEST(UpscaleSw, Failures) {
  const std::vector<SwSample> bad_porosity = {{1, 1.2, 0.3}};
  EXPECT_ERROR_TEXT(upscale_sw(bad_porosity),
                    "invalid input: invalid Sw sample: length=1, porosity=1.2");
  const std::vector<SwSample> nan_porosity = {{1, 0.2, 0.3}, {2, std::nan(""), 0.3}};
  EXPECT_ERROR_TEXT(upscale_sw(nan_porosity),
                    "invalid input: invalid Sw sample: length=2, porosity=NaN");
  const std::vector<SwSample> dry = {{1, 0.0, 0.3}};
  EXPECT_ERROR_TEXT(upscale_sw(dry), "invalid input: total pore volume is zero; Sw undefined");
  EXPECT_ERROR_TEXT(upscale_sw({}), "invalid input: total pore volume is zero; Sw undefined");
}

}  // namespace
}  // namespace zorvastatic
