#include "zorvatools/geostat/lattice_offsets.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace zorvatools {
namespace {

// The squared distance a search computes between two nodes.
double computed_distance2(const Lattice& lattice, double i, double j, double k, double l) {
  const Point2 p = lattice.node_xy(i, j);
  const Point2 q = lattice.node_xy(k, l);
  const double dx = p.x - q.x;
  const double dy = p.y - q.y;
  return dx * dx + dy * dy;
}

TEST(LatticeOffsets, UnitLatticeRingsInOrder) {
  const std::vector<LatticeOffset> offsets =
      offsets_within(least_distances2(Lattice::unit(10, 10)), 4.0);
  // Squared distances 0, 1, 1, 2, 4, 4; (2, 1) at 5 lies beyond.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
  for (const LatticeOffset& o : offsets) got.emplace_back(o.di, o.dj);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {{0, 0}, {0, 1}, {1, 0},
                                                                         {1, 1}, {0, 2}, {2, 0}};
  EXPECT_EQ(got, expected);
  // Exact positions leave next to no margin.
  EXPECT_NEAR(offsets[3].least_distance2, 2.0, 1e-12);
  EXPECT_LE(offsets[3].least_distance2, 2.0);
}

TEST(LatticeOffsets, StayWithinTheLattice) {
  const Lattice strip{0, 0, 10, 10, 3, 1, 0, false};
  const std::vector<LatticeOffset> offsets =
      offsets_within(least_distances2(strip), std::numeric_limits<double>::infinity());
  ASSERT_EQ(offsets.size(), 3u);
  for (std::uint32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(offsets[k].di, k);
    EXPECT_EQ(offsets[k].dj, 0u);
  }
  EXPECT_TRUE(offsets_within(least_distances2(Lattice::unit(0, 5)), 100).empty());
}

// Lattices whose computed positions round: far from their origin, rotated, flipped, with
// unequal or negative spacings.
const Lattice kRoundingLattices[] = {
    {456'789.125, 6'712'345.75, 25, 25, 23, 19, 37.5, false},
    {-300, 50, 20, 30, 17, 21, 35, true},
    {612'000.3, 7'100'000.7, 12.5, 50, 15, 15, -121, true},
    {1e6 / 3, -2e6 / 7, -33.3, 21.1, 13, 29, 90, false},
};

// Every node pair computes a squared distance at least its offset's least distance, and every
// pair within the bound has its offset listed: a search stopping on the least distance misses
// nothing.
TEST(LatticeOffsets, LeastDistanceBoundsEveryComputedDistance) {
  for (const Lattice& lattice : kRoundingLattices) {
    const double spacing = std::max(std::fabs(lattice.spacing_x), std::fabs(lattice.spacing_y));
    const double max_distance2 = std::pow(4.5 * spacing, 2);
    const std::vector<LatticeOffset> offsets =
        offsets_within(least_distances2(lattice), max_distance2);
    ASSERT_TRUE(std::ranges::is_sorted(offsets, {}, &LatticeOffset::least_distance2));
    std::vector<std::vector<double>> least(lattice.nx,
                                           std::vector<double>(lattice.ny, std::nan("")));
    for (const LatticeOffset& o : offsets) least[o.di][o.dj] = o.least_distance2;

    std::size_t tight = 0;
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < lattice.nx; ++i) {
      for (std::size_t j = 0; j < lattice.ny; ++j) {
        for (std::size_t k = 0; k < lattice.nx; ++k) {
          for (std::size_t l = 0; l < lattice.ny; ++l) {
            const double d2 = computed_distance2(lattice, i, j, k, l);
            const std::size_t di = i > k ? i - k : k - i;
            const std::size_t dj = j > l ? j - l : l - j;
            const double bound = least[di][dj];
            if (std::isnan(bound)) {
              ASSERT_GT(d2, max_distance2) << i << ' ' << j << ' ' << k << ' ' << l;
              continue;
            }
            ASSERT_GE(d2, bound) << i << ' ' << j << ' ' << k << ' ' << l;
            ++pairs;
            tight += d2 - bound <= 1e-6 * spacing * spacing ? 1 : 0;
          }
        }
      }
    }
    // The margin is a rounding allowance, not a ring of extra nodes.
    EXPECT_EQ(tight, pairs);
  }
}

// A block's least distance bounds every pair of nodes between the two blocks, and is reached
// by one of them (blocks of 3 x 3 nodes here, the last ones cut short by the lattice's edge).
TEST(LatticeOffsets, BlockLeastDistanceIsTheLeastOverItsNodePairs) {
  for (const Lattice& lattice : kRoundingLattices) {
    const Array2D<double> least = least_distances2(lattice);
    constexpr std::size_t kBlock = 3;
    const Array2D<double> blocks = block_least_distances2(least, kBlock);
    ASSERT_EQ(blocks.nx(), (lattice.nx + 2) / 3);
    ASSERT_EQ(blocks.ny(), (lattice.ny + 2) / 3);
    for (std::size_t bi = 0; bi < blocks.nx(); ++bi) {
      for (std::size_t bj = 0; bj < blocks.ny(); ++bj) {
        // Every node of block (0, 0) against every node of block (bi, bj): every offset between
        // two nodes that lie blocks (bi, bj) apart.
        double lowest = std::numeric_limits<double>::infinity();
        for (std::size_t a = 0; a < kBlock; ++a) {
          for (std::size_t b = 0; b < kBlock; ++b) {
            for (std::size_t c = 0; c < kBlock; ++c) {
              for (std::size_t d = 0; d < kBlock; ++d) {
                const std::size_t i = kBlock * bi + c;
                const std::size_t j = kBlock * bj + d;
                if (i >= lattice.nx || j >= lattice.ny || a >= lattice.nx || b >= lattice.ny) {
                  continue;
                }
                const std::size_t di = i > a ? i - a : a - i;
                const std::size_t dj = j > b ? j - b : b - j;
                ASSERT_GE(computed_distance2(lattice, a, b, i, j), blocks(bi, bj));
                lowest = std::min(lowest, least(di, dj));
              }
            }
          }
        }
        EXPECT_EQ(blocks(bi, bj), lowest) << bi << ' ' << bj;
      }
    }
  }
}

TEST(LatticeOffsets, NodePositionsMustBeFiniteAndBounded) {
  EXPECT_TRUE(node_positions_finite(kRoundingLattices[0]));
  for (auto spoil : {+[](Lattice& l) { l.origin_x = std::nan(""); },
                     +[](Lattice& l) { l.spacing_y = std::numeric_limits<double>::infinity(); },
                     +[](Lattice& l) { l.rotation_deg = std::nan(""); },
                     +[](Lattice& l) { l.spacing_x = 1e149; }}) {
    Lattice lattice = kRoundingLattices[1];
    spoil(lattice);
    EXPECT_FALSE(node_positions_finite(lattice));
  }
}

}  // namespace
}  // namespace zorvatools
