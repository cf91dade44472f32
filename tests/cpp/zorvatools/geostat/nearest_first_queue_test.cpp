#include "zorvatools/geostat/nearest_first_queue.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace zorvatools {
namespace {

struct Item {
  double distance2;
  int id;
};

// Pushes and takes interleaved (three pushes, then one take) and then drains: every take must
// return the nearest entry still queued, and every entry must come out once. The largest count
// passes the list limit, so the queue turns into a heap midway; cleared, it is a list again.
TEST(NearestFirstQueue, TakesTheNearestQueuedEntryBeforeAndAfterTurningIntoAHeap) {
  for (const int count : {1, 7, 40, 300}) {
    NearestFirstQueue<Item> queue;
    std::vector<Item> queued;  // what the queue should hold
    std::vector<int> taken;
    std::uint64_t state = 3 + static_cast<std::uint64_t>(count);
    auto take_and_check = [&] {
      const auto nearest = std::ranges::min_element(queued, {}, &Item::distance2);
      EXPECT_EQ(queue.nearest().distance2, nearest->distance2) << count;
      const Item item = queue.take();
      EXPECT_EQ(item.distance2, nearest->distance2) << count;
      const auto it = std::ranges::find(queued, item.id, &Item::id);
      ASSERT_NE(it, queued.end()) << count;
      queued.erase(it);
      taken.push_back(item.id);
    };
    for (int id = 0; id < count; ++id) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      const Item item{static_cast<double>(state >> 58), id};  // few distinct distances: ties
      queue.push(item);
      queued.push_back(item);
      ASSERT_EQ(queue.size(), queued.size());
      if (id % 3 == 2) take_and_check();
    }
    while (!queue.empty()) take_and_check();
    EXPECT_TRUE(queued.empty());
    std::ranges::sort(taken);
    for (int id = 0; id < count; ++id) EXPECT_EQ(taken[static_cast<std::size_t>(id)], id);
    queue.push({5, 0});
    queue.push({9, 1});
    queue.clear();
    EXPECT_TRUE(queue.empty());
    queue.push({4, 2});
    queue.push({2, 3});
    EXPECT_EQ(queue.take().id, 3);
    EXPECT_EQ(queue.take().id, 2);
  }
}

}  // namespace
}  // namespace zorvatools
