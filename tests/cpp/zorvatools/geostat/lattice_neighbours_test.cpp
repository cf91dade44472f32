// The lattice search against two references: a brute force over every informed node, and the
// R*-tree walk over the same positions that the simulation used to search with.
#include "zorvatools/geostat/lattice_neighbours.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <tuple>
#include <vector>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/geostat/bounded_draw.hpp"
#include "zorvatools/geostat/neighbourhood.hpp"
#include "zorvatools/geostat/shuffle.hpp"

namespace zorvatools {
namespace {

using Hit = LatticeNeighbours::Hit;

struct Case {
  const char* name;
  Lattice lattice;
  double radius;  // in units of the larger spacing
  std::size_t max_count;
  std::size_t first_informed;  // informed before any search, like conditioning data
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

// The value a node is informed with.
double value_of(std::size_t node) {
  return 0.25 * static_cast<double>(node) - 7;
}

// Informed nodes ranked (distance, number), within the radius, the first max_count of them.
std::vector<Hit> brute_force(const std::vector<Point2>& positions,
                             const std::vector<std::size_t>& order, std::size_t ny,
                             std::size_t node, double radius2, std::size_t max_count) {
  const Point2 from = positions[node];
  std::vector<Hit> all;
  for (std::size_t number = 0; number < order.size(); ++number) {
    const Point2 p = positions[order[number]];
    const double dx = p.x - from.x;
    const double dy = p.y - from.y;
    const double d2 = dx * dx + dy * dy;
    if (d2 <= radius2) {
      all.push_back({d2, static_cast<std::uint32_t>(number),
                     static_cast<std::uint32_t>(order[number]),
                     static_cast<std::uint32_t>(order[number] / ny),
                     static_cast<std::uint32_t>(order[number] % ny), p, value_of(order[number])});
    }
  }
  std::ranges::sort(all, [](const Hit& a, const Hit& b) {
    return std::tuple{a.distance2, a.index} < std::tuple{b.distance2, b.index};
  });
  if (all.size() > max_count) all.resize(max_count);
  return all;
}

class LatticeNeighboursMatch : public testing::TestWithParam<Case> {};

// Nodes are informed in a random order, as a simulation path informs them; before each one is
// informed, the search around it must give exactly the references' nodes, order and distances.
TEST_P(LatticeNeighboursMatch, BruteForceAndTheTreeWalk) {
  const Case& c = GetParam();
  const Lattice& lattice = c.lattice;
  const double spacing = std::max(std::fabs(lattice.spacing_x), std::fabs(lattice.spacing_y));
  const double radius = c.radius * spacing;
  const double radius2 = radius * radius;
  LatticeNeighbours search(lattice, radius2, c.max_count);
  Neighbourhood tree;
  Neighbourhood::NearestWalk walk;
  std::vector<Neighbourhood::Hit> walked;

  std::vector<std::size_t> path(lattice.nx * lattice.ny);
  for (std::size_t k = 0; k < path.size(); ++k) path[k] = k;
  ChaCha12 rng = ChaCha12::from_seed(lattice.nx * 131 + lattice.ny);
  shuffle_from_end(std::span(path), rng);

  std::vector<Point2> positions;  // the lattice's own, node by node
  for (std::size_t i = 0; i < lattice.nx; ++i) {
    for (std::size_t j = 0; j < lattice.ny; ++j) {
      positions.push_back(lattice.node_xy(static_cast<double>(i), static_cast<double>(j)));
    }
  }
  std::vector<std::size_t> order;  // informed nodes by number
  std::size_t searches = 0;
  std::size_t hits = 0;
  for (std::size_t step = 0; step < path.size(); ++step) {
    const std::size_t node = path[step];
    const std::size_t i = node / lattice.ny;
    const std::size_t j = node % lattice.ny;
    ASSERT_EQ(search.node(i, j), node);
    if (step >= c.first_informed) {
      const std::span<const Hit> got = search.nearest(i, j);
      const std::vector<Hit> expected =
          brute_force(positions, order, lattice.ny, node, radius2, c.max_count);
      ASSERT_EQ(got.size(), expected.size()) << "step " << step;
      tree.nearest_within(search.position(i, j), c.max_count, radius, walk, walked);
      ASSERT_EQ(walked.size(), expected.size()) << "step " << step;
      for (std::size_t k = 0; k < got.size(); ++k) {
        ASSERT_EQ(got[k].node, expected[k].node) << "step " << step << " hit " << k;
        ASSERT_EQ(got[k].index, expected[k].index);
        ASSERT_EQ(got[k].distance2, expected[k].distance2);
        ASSERT_EQ(got[k].i, expected[k].i);
        ASSERT_EQ(got[k].j, expected[k].j);
        ASSERT_EQ(got[k].position, expected[k].position);
        // Within the reach the search reports, which sizes tables of offsets.
        const std::size_t di = got[k].i > i ? got[k].i - i : i - got[k].i;
        const std::size_t dj = got[k].j > j ? got[k].j - j : j - got[k].j;
        ASSERT_LE(di, search.reach_i());
        ASSERT_LE(dj, search.reach_j());
        ASSERT_EQ(got[k].value, expected[k].value);
        ASSERT_EQ(walked[k].index, got[k].index) << "step " << step << " hit " << k;
        ASSERT_EQ(walked[k].distance2, got[k].distance2);
      }
      ++searches;
      hits += got.size();
    }
    const Point2 p = positions[node];
    // The positions the search computes are the lattice's own, to the bit.
    ASSERT_EQ(search.position(i, j), p) << i << ' ' << j;
    ASSERT_FALSE(search.informed(i, j));
    search.inform(i, j, value_of(node));
    tree.insert(p, order.size());
    order.push_back(node);
  }
  EXPECT_EQ(search.informed_count(), path.size());
  const Array2D<double> values = search.take_values();
  for (std::size_t node = 0; node < path.size(); ++node) {
    ASSERT_EQ(values.data()[node], value_of(node));
  }
  if (c.radius >= 1) {
    EXPECT_GT(hits, 0u);  // the searches found something to compare
  }
  EXPECT_EQ(searches, path.size() - std::min(c.first_informed, path.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Lattices, LatticeNeighboursMatch,
    testing::Values(
        // A square lattice: whole rings of nodes tie on distance, and the radius falls on one.
        Case{"square, radius on a ring", {0, 0, 10, 10, 30, 25, 0, false}, 3, 16, 12},
        Case{"square, more neighbours than a ring", {0, 0, 10, 10, 24, 24, 0, false}, 6, 40, 0},
        Case{"square, one neighbour", {0, 0, 10, 10, 20, 20, 0, false}, 2.5, 1, 3},
        // Far from the origin and rotated: computed distances of equal offsets differ in their
        // last bits, and nodes at the radius fall on either side of it.
        Case{"rotated, far from the origin",
             {456'789.125, 6'712'345.75, 25, 25, 28, 22, 37.5, false},
             2,
             12,
             20},
        Case{"rotated, flipped, unequal spacings",
             {612'000.3, 7'100'000.7, 12.5, 50, 40, 12, -121, true},
             3,
             16,
             8},
        Case{"right angle rotation", {1e6 / 3, -2e6 / 7, -33.3, 21.1, 15, 31, 90, false}, 4, 8, 1},
        // Many blocks of nodes, searched block by block while few are informed.
        Case{"large, rotated, long reach",
             {456'789.125, 6'712'345.75, 25, 20, 70, 45, 37.5, true},
             12,
             16,
             30},
        // A radius reaching past the lattice, and one shorter than the spacing.
        Case{"radius beyond the lattice", {5, 5, 1, 1, 9, 7, 10, false}, 100, 20, 2},
        Case{"radius inside a cell", {0, 0, 10, 10, 12, 12, 0, false}, 0.5, 16, 4},
        // A single row and a single node.
        Case{"one row", {0, 0, 3, 3, 50, 1, 0, false}, 7, 5, 1},
        Case{"two nodes", {7, 8, 3, 3, 1, 2, 0, false}, 7, 5, 0}),
    [](const testing::TestParamInfo<Case>& info) { return std::to_string(info.index); });

TEST(LatticeNeighbours, InformingTwiceIsAFault) {
  LatticeNeighbours search(Lattice::unit(3, 3), 4, 4);
  search.inform(1, 2, 0.5);
  EXPECT_TRUE(search.informed(1, 2));
  EXPECT_FALSE(search.informed(2, 1));
  EXPECT_THROW(search.inform(1, 2, 0.5), InternalFault);
  const Array2D<double> values = search.take_values();
  EXPECT_EQ(values(1, 2), 0.5);
  EXPECT_TRUE(std::isnan(values(2, 1)));
}

}  // namespace
}  // namespace zorvatools
