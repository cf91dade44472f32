#include "zorvatools/foundation/worker_pool.hpp"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <string>

namespace zorvatools {
namespace {

using Outcome = std::expected<std::size_t, std::string>;

TEST(ParallelCollect, ResultsInIndexOrder) {
  auto squares = parallel_collect<Outcome>(200, [](std::size_t i) -> Outcome { return i * i; });
  ASSERT_TRUE(squares);
  for (std::size_t i = 0; i < 200; ++i) EXPECT_EQ((*squares)[i], i * i);
  auto none = parallel_collect<Outcome>(0, [](std::size_t i) -> Outcome { return i; });
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(ParallelCollect, TheLowestFailingIndexIsReportedWhateverTheThreadCount) {
  auto body = [](std::size_t i) -> Outcome {
    if (i % 7 == 3) return std::unexpected("index " + std::to_string(i));
    return i;
  };
  for (int threads : {1, 2, 8}) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
    for (int repeat = 0; repeat < 20; ++repeat) {
      auto result = parallel_collect<Outcome>(100, body);
      ASSERT_FALSE(result);
      EXPECT_EQ(result.error(), "index 3");
    }
  }
}

}  // namespace
}  // namespace zorvatools

namespace zorvatools {
namespace {

TEST(ThreadCap, SetReadAndLifted) {
  const std::size_t uncapped = max_threads();
  set_max_threads(1);
  EXPECT_EQ(max_threads(), 1u);
  auto squares = parallel_collect<Outcome>(50, [](std::size_t i) -> Outcome { return i * i; });
  ASSERT_TRUE(squares);
  EXPECT_EQ((*squares)[49], 49u * 49u);
  set_max_threads(2);
  EXPECT_EQ(max_threads(), std::min<std::size_t>(2, uncapped));
  set_max_threads(0);
  EXPECT_EQ(max_threads(), uncapped);
}

}  // namespace
}  // namespace zorvatools
