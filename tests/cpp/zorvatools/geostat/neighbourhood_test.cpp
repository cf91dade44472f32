#include "zorvatools/geostat/neighbourhood.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "zorvatools/geostat/bounded_draw.hpp"

namespace zorvatools {
namespace {

using Hits = std::vector<Neighbourhood::Hit>;

double distance2(Point2 p, Point2 q) {
  const double dx = p.x - q.x;
  const double dy = p.y - q.y;
  return dx * dx + dy * dy;
}

// Every point in ascending distance, ties by index: what the walk must yield.
Hits brute_force(const std::vector<Point2>& points, Point2 query) {
  Hits all;
  for (std::size_t k = 0; k < points.size(); ++k)
    all.push_back({k, distance2(points[k], query), points[k]});
  std::ranges::sort(all, [](const auto& a, const auto& b) {
    return std::tuple{a.distance2, a.index} < std::tuple{b.distance2, b.index};
  });
  return all;
}

void expect_same(const Hits& got, const Hits& expected, std::size_t count) {
  ASSERT_EQ(got.size(), count);
  for (std::size_t k = 0; k < count; ++k) {
    EXPECT_EQ(got[k].index, expected[k].index) << k;
    EXPECT_EQ(got[k].distance2, expected[k].distance2) << k;
    EXPECT_EQ(got[k].point, expected[k].point) << k;
  }
}

// Lattice points (many equal distances, repeated positions) and scattered ones, inserted in a
// shuffled order: enough points for several levels, splits and reinsertions.
std::vector<Point2> test_points(ChaCha12& rng) {
  std::vector<Point2> points;
  for (int k = 0; k < 2500; ++k) {
    const auto i = static_cast<double>(bounded_draw(rng, 60));
    const auto j = static_cast<double>(bounded_draw(rng, 40));
    points.push_back({10 * i, 10 * j});
  }
  for (int k = 0; k < 1500; ++k) {
    points.push_back({static_cast<double>(bounded_draw(rng, 1'000'000)) * 1e-3 - 100,
                      static_cast<double>(bounded_draw(rng, 1'000'000)) * 4e-4});
  }
  return points;
}

TEST(Neighbourhood, WalkYieldsEveryPointInAscendingDistanceTiesByIndex) {
  ChaCha12 rng = ChaCha12::from_seed(11);
  const std::vector<Point2> points = test_points(rng);
  Neighbourhood tree(points.size());
  for (std::size_t k = 0; k < points.size(); ++k) tree.insert(points[k], k);
  ASSERT_EQ(tree.size(), points.size());

  Neighbourhood::NearestWalk walk;
  for (const Point2 query : {Point2{0, 0}, Point2{255, 195}, Point2{-500, 1000}, Point2{300, 5}}) {
    walk.start(tree, query);
    Hits all;
    while (const auto hit = walk.next()) all.push_back(*hit);
    expect_same(all, brute_force(points, query), points.size());
  }
}

TEST(Neighbourhood, NearestWithinStopsAtTheCountOrBeyondTheRadius) {
  ChaCha12 rng = ChaCha12::from_seed(5);
  const std::vector<Point2> points = test_points(rng);
  Neighbourhood tree;
  for (std::size_t k = 0; k < points.size(); ++k) tree.insert(points[k], k);
  Neighbourhood::NearestWalk walk;
  Hits hits;
  for (int q = 0; q < 40; ++q) {
    const Point2 query{static_cast<double>(bounded_draw(rng, 700)) - 50,
                       static_cast<double>(bounded_draw(rng, 450)) - 25};
    const Hits expected = brute_force(points, query);
    for (const auto& [count, radius] :
         {std::pair<std::size_t, double>{16, 1e9}, {16, 12.5}, {1, 30}, {200, 40}}) {
      tree.nearest_within(query, count, radius, walk, hits);
      const auto inside = static_cast<std::size_t>(std::ranges::count_if(
          expected, [&](const auto& h) { return h.distance2 <= radius * radius; }));
      expect_same(hits, expected, std::min(count, inside));
    }
  }
}

TEST(Neighbourhood, RadiusIsInclusive) {
  Neighbourhood tree;
  tree.insert({103, 204}, 0);  // distance 5 from (100, 200)
  tree.insert({100, 210}, 1);  // distance 10
  tree.insert({106, 208}, 2);  // distance 10
  tree.insert({100 + 10.000000001, 200}, 3);
  Neighbourhood::NearestWalk walk;
  Hits hits;
  tree.nearest_within({100, 200}, 10, 10, walk, hits);
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].index, 0u);
  EXPECT_EQ(hits[0].distance2, 25);
  EXPECT_EQ(hits[1].index, 1u);
  EXPECT_EQ(hits[2].index, 2u);
  tree.nearest_within({100, 200}, 10, 4.999, walk, hits);
  EXPECT_TRUE(hits.empty());
  tree.nearest_within({100, 200}, 0, 100, walk, hits);
  EXPECT_TRUE(hits.empty());
}

}  // namespace
}  // namespace zorvatools
