#include "zorvatools/foundation/large_array.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace zorvatools {
namespace {

// The advice changes only where storage lives: sizes on either side of a huge page, and storage
// that already holds values, come out with exactly the values asked for.
TEST(LargeArray, HoldsTheValuesWhateverTheSize) {
  for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{262'143},
                                  std::size_t{262'144}, std::size_t{1'500'001}}) {
    const std::vector<double> values = large_array(count, 2.5);
    ASSERT_EQ(values.size(), count);
    for (const double value : values) ASSERT_EQ(value, 2.5);
  }
  std::vector<std::uint64_t> kept = {7, 8, 9};
  reserve_large(kept, 3'000'000);
  EXPECT_GE(kept.capacity(), 3'000'000u);
  EXPECT_EQ(kept, (std::vector<std::uint64_t>{7, 8, 9}));
  advise_huge_pages(kept.data() + 1, 5);  // less than a page: nothing to advise
}

}  // namespace
}  // namespace zorvatools
