#include "zorvatools/geostat/nscore.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace zorvatools {
namespace {

// Standard normal quantiles from published tables.
TEST(NormalQuantile, MatchesTabulatedValues) {
  struct Case {
    double p;
    double z;
  };
  for (const Case c :
       {Case{0.5, 0.0}, Case{0.975, 1.959963984540054}, Case{0.125, -1.1503493803760079},
        Case{0.001, -3.090232306167813}, Case{1e-10, -6.361340902404056}}) {
    EXPECT_NEAR(normal_quantile(c.p), c.z, 4e-16 * std::max(1.0, std::fabs(c.z))) << c.p;
  }
  EXPECT_FALSE(std::signbit(normal_quantile(0.5)));
}

TEST(NormalScore, TiedDataShareTheMeanOfTheirScores) {
  const std::vector<double> data = {2, 3, 1, 2};
  const NormalScore table = NormalScore::fit(data);
  EXPECT_EQ(table.values, (std::vector<double>{1, 2, 3}));
  ASSERT_EQ(table.scores.size(), 3u);
  EXPECT_EQ(table.scores[0], normal_quantile(0.125));
  EXPECT_NEAR(table.scores[1], 0.0, 1e-16);
  EXPECT_EQ(table.scores[2], -normal_quantile(0.125));
  EXPECT_EQ(table.scores[2], normal_quantile(0.875));
}

TEST(NormalScore, ForwardThenBackReturnsEveryDatumExactly) {
  std::vector<double> data;
  for (int k = 0; k < 200; ++k)
    data.push_back(std::sin(k * 1.7) * 40 + (k % 7 == 0 ? 3.0 : 0.1 * k));
  data.push_back(data[10]);  // a tie
  const NormalScore table = NormalScore::fit(data);
  for (std::size_t k = 1; k < table.values.size(); ++k) {
    EXPECT_LT(table.values[k - 1], table.values[k]);
    EXPECT_LT(table.scores[k - 1], table.scores[k]);
  }
  for (double v : data) EXPECT_EQ(table.back(table.forward(v)), v);
  // Outside the data range: the extreme scores, and back to the extreme values.
  EXPECT_EQ(table.forward(-1e9), table.scores.front());
  EXPECT_EQ(table.forward(1e9), table.scores.back());
  EXPECT_EQ(table.back(-40), table.values.front());
  EXPECT_EQ(table.back(40), table.values.back());
}

TEST(Interp, LooksUpPiecewiseLinearly) {
  const std::vector<double> xs = {0, 1, 3, 4, 10};
  const std::vector<double> ys = {5, 6, 10, 10, -2};
  struct Case {
    double x;
    double y;
  };
  for (const Case c : {Case{-1, 5}, Case{0, 5}, Case{0.5, 5.5}, Case{1, 6}, Case{2, 8}, Case{3, 10},
                       Case{3.5, 10}, Case{7, 4}, Case{10, -2}, Case{11, -2}}) {
    EXPECT_DOUBLE_EQ(interp(xs, ys, c.x), c.y) << c.x;
  }
  const std::vector<double> one = {2};
  const std::vector<double> value = {9};
  EXPECT_EQ(interp(one, value, -100), 9);
  EXPECT_EQ(interp(one, value, 100), 9);
}

}  // namespace
}  // namespace zorvatools
