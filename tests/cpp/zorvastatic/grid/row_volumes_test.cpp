#include "zorvastatic/grid/row_volumes.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace zorvastatic {
namespace {

// Bit patterns, so that "the same value" means the same arithmetic.
bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(RowVolumes, EveryCellMatchesTheOneVolumeRuleBitForBit) {
  // An irregular vertical grid of warped cells, 13 cells per row (odd, to reach the
  // vector loop's remainder).
  const std::size_t ni = 13, nj = 3, nk = 2;
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> jitter(-3.0, 3.0);
  std::vector<Pillar> pillars;
  for (std::size_t pj = 0; pj <= nj; ++pj) {
    for (std::size_t pi = 0; pi <= ni; ++pi) {
      const double x = 25.0 * static_cast<double>(pi) + jitter(random);
      const double y = 40.0 * static_cast<double>(pj) + jitter(random);
      pillars.push_back({{x, y, 0}, {x, y, 100}});
    }
  }
  std::vector<double> zcorn;
  for (std::size_t c = 0; c < ni * nj * nk; ++c) {
    for (int n = 0; n < 8; ++n) zcorn.push_back(1000.0 + 7.0 * (n / 4) + jitter(random));
  }
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
        EXPECT_TRUE(same_bits(rows.volume(i), geom.cell_volume_at(first + i))) << i << " " << j;
        EXPECT_TRUE(same_bits(rows.mean_depth(i), mean));
      }
      // Depths stored as 32-bit floats go through the same rule once widened.
      rows.compute(tops, j, narrow.data() + 8 * first);
      for (std::size_t i = 0; i < ni; ++i) {
        double widened[8];
        for (int n = 0; n < 8; ++n) widened[n] = narrow[8 * (first + i) + n];
        const double expected =
            vertical_cell_volume(geom.pillars().data(), first % (ni * nj) + i + j, ni, widened);
        EXPECT_TRUE(same_bits(rows.volume(i), expected));
      }
    }
  }
}

}  // namespace
}  // namespace zorvastatic
