#include "zorvastatic/grid/row_volumes.hpp"

#include "zorvastatic/grid/row_cell_rules.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <random>

namespace zorvastatic {
namespace {

// Bit patterns, so that "the same value" means the same arithmetic (any NaN matches any NaN).
bool same_bits(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Corner depths of cell i (0-based within a row): the eight values of one cell.
using DepthRule = std::function<void(std::size_t i, std::mt19937_64& random, double* z)>;

struct RowShape {
  const char* name;
  double jitter_xy;  // pillar positions move by up to this much
  DepthRule depths;
  friend void PrintTo(const RowShape& shape, std::ostream* out) { *out << shape.name; }
};

void warped(std::size_t, std::mt19937_64& random, double* z) {
  std::uniform_real_distribution<double> jitter(-3.0, 3.0);
  for (int n = 0; n < 8; ++n) z[n] = 1000.0 + 7.0 * (n / 4) + jitter(random);
}

const RowShape kShapes[] = {
    {"warped", 3.0, warped},
    {"flat box", 0.0,
     [](std::size_t, std::mt19937_64&, double* z) {
       for (int n = 0; n < 8; ++n) z[n] = n < 4 ? 2000.0 : 2010.0;
     }},
    // Zero thickness, pinched at some corners, and turned inside out.
    {"degenerate", 2.0,
     [](std::size_t i, std::mt19937_64& random, double* z) {
       warped(i, random, z);
       if (i % 3 == 0) {
         for (int n = 4; n < 8; ++n) z[n] = z[n - 4];
       } else if (i % 3 == 1) {
         z[4] = z[0];
         z[7] = z[3];
       } else {
         for (int n = 0; n < 4; ++n) std::swap(z[n], z[n + 4]);
       }
     }},
    // Depths the shortcut cannot take: the row goes through the rule as it stands.
    {"not finite", 1.0,
     [](std::size_t i, std::mt19937_64& random, double* z) {
       warped(i, random, z);
       const double odd[] = {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(), 1e308, -1e308, 1e200};
       z[i % 8] = odd[i % 5];
     }},
    // Cells so thin that the shortcut's division may not round as the rule's: the row goes
    // through the rule as it stands.
    {"vanishing", 1.0,
     [](std::size_t i, std::mt19937_64& random, double* z) {
       std::uniform_real_distribution<double> unit(0.0, 1.0);
       const double thickness = std::ldexp(unit(random), -900 - 13 * static_cast<int>(i % 13));
       for (int n = 0; n < 4; ++n) z[n] = 0.0;
       for (int n = 4; n < 8; ++n) z[n] = thickness;
     }},
};

class RowVolumesShapes : public ::testing::TestWithParam<RowShape> {};

TEST_P(RowVolumesShapes, EveryCellMatchesTheOneVolumeRuleBitForBit) {
  const RowShape& shape = GetParam();
  // 13 cells per row (odd, to reach the vector loop's remainder).
  const std::size_t ni = 13, nj = 3, nk = 2;
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> jitter(-1.0, 1.0);
  std::vector<Pillar> pillars;
  for (std::size_t pj = 0; pj <= nj; ++pj) {
    for (std::size_t pi = 0; pi <= ni; ++pi) {
      const double x = 25.0 * static_cast<double>(pi) + shape.jitter_xy * jitter(random);
      const double y = 40.0 * static_cast<double>(pj) + shape.jitter_xy * jitter(random);
      pillars.push_back({{x, y, 0}, {x, y, 100}});
    }
  }
  std::vector<double> zcorn(8 * ni * nj * nk);
  for (std::size_t c = 0; c < ni * nj * nk; ++c) shape.depths(c % ni, random, &zcorn[8 * c]);
  const CornerPointGeom geom(Dims{ni, nj, nk}, pillars, zcorn);
  const PillarTops tops(geom.pillars());
  RowVolumes rows(ni);
  std::vector<float> narrow(zcorn.begin(), zcorn.end());
  for (std::size_t k = 0; k < nk; ++k) {
    for (std::size_t j = 0; j < nj; ++j) {
      const std::size_t first = ni * (j + nj * k);
      rows.compute(tops, j, geom.cell_depths(first));
      for (std::size_t i = 0; i < ni; ++i) {
        const double* z = geom.cell_depths(first + i);
        const double mean = (z[0] + z[1] + z[2] + z[3] + z[4] + z[5] + z[6] + z[7]) * 0.125;
        EXPECT_TRUE(same_bits(rows.volume(i), geom.cell_volume_at(first + i)))
            << shape.name << " cell " << i << " row " << j << ": " << rows.volume(i) << " vs "
            << geom.cell_volume_at(first + i);
        EXPECT_TRUE(same_bits(rows.mean_depth(i), mean));
      }
      // Depths stored as 32-bit floats go through the same rules once widened.
      rows.compute(tops, j, narrow.data() + 8 * first);
      for (std::size_t i = 0; i < ni; ++i) {
        double widened[8];
        for (int n = 0; n < 8; ++n) widened[n] = narrow[8 * (first + i) + n];
        const double expected =
            vertical_cell_volume(geom.pillars().data(), first % (ni * nj) + i + j, ni, widened);
        EXPECT_TRUE(same_bits(rows.volume(i), expected)) << shape.name << " cell " << i;
      }
      rows.compute_depths(geom.cell_depths(first));
      for (std::size_t i = 0; i < ni; ++i) {
        const double* z = geom.cell_depths(first + i);
        EXPECT_TRUE(same_bits(rows.mean_depth(i),
                              (z[0] + z[1] + z[2] + z[3] + z[4] + z[5] + z[6] + z[7]) * 0.125));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RowVolumesShapes, ::testing::ValuesIn(kShapes),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) {
                             if (ch == ' ') ch = '_';
                           }
                           return name;
                         });

// The shortcut's division by six: the quotient as the division rounds it, over random bit
// patterns of every exponent and runs of neighbouring values, wherever it claims to hold.
TEST(Sixth, RoundsAsTheDivisionWhereTheShortcutHolds) {
  std::mt19937_64 random(3);
  auto check = [](double value) {
    const double quotient = value / 6.0;
    if (!shortcut_holds(std::fabs(quotient))) return 0;
    EXPECT_TRUE(same_bits(std::fabs(sixth(value)), std::fabs(quotient))) << std::hexfloat << value;
    return 1;
  };
  int checked = 0;
  for (int n = 0; n < 2'000'000; ++n) {
    const std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    checked += check(value);
  }
  for (const double start : {1.0, 3.0, 6.0, 0x1.5555555555555p-3, 1e-250, 0x1p-957, 1e300}) {
    std::uint64_t bits;
    std::memcpy(&bits, &start, sizeof bits);
    for (std::uint64_t n = 0; n < 100'000; ++n) {
      const std::uint64_t next = bits + n;
      double value;
      std::memcpy(&value, &next, sizeof value);
      checked += check(value) + check(-value);
    }
  }
  EXPECT_GT(checked, 2'000'000);
  EXPECT_EQ(sixth(0.0), 0.0);
  EXPECT_FALSE(shortcut_holds(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(shortcut_holds(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(shortcut_holds(0x1p-1000));
  EXPECT_TRUE(shortcut_holds(0.0));
}

TEST(PillarTops, FarOrUndefinedCoordinatesAreNotModerate) {
  auto tops_with = [](double x) {
    std::vector<Pillar> pillars = {{{0, 0, 0}, {0, 0, 1}}, {{x, 0, 0}, {x, 0, 1}}};
    return PillarTops(pillars).moderate;
  };
  EXPECT_TRUE(tops_with(1e100));
  EXPECT_FALSE(tops_with(1e101));
  EXPECT_FALSE(tops_with(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(tops_with(-std::numeric_limits<double>::infinity()));
}

}  // namespace
}  // namespace zorvastatic
