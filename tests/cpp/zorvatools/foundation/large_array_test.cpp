#include "zorvatools/foundation/large_array.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace zorvatools {
namespace {

// The preparation changes only where storage lives: sizes on either side of the smallest
// prepared size and of a huge page, and storage that already holds values, come out with exactly
// the values asked for.
TEST(LargeArray, HoldsTheValuesWhateverTheSize) {
  for (const std::size_t count :
       {std::size_t{0}, std::size_t{1}, std::size_t{262'143}, std::size_t{262'144},
        std::size_t{524'289}, std::size_t{1'500'001}}) {
    const std::vector<double> values = large_array(count, 2.5);
    ASSERT_EQ(values.size(), count);
    for (const double value : values) ASSERT_EQ(value, 2.5);
  }
  std::vector<std::uint64_t> kept = {7, 8, 9};
  reserve_large(kept, 3'000'000);
  EXPECT_GE(kept.capacity(), 3'000'000u);
  EXPECT_EQ(kept, (std::vector<std::uint64_t>{7, 8, 9}));
  prepare_large_storage(kept.data() + 1, 5);  // less than a page: nothing to prepare
}

struct DefragCase {
  std::string_view setting;
  bool never_stalls;
};

class HugePageStalls : public testing::TestWithParam<DefragCase> {};

// Only the bracketed word counts; "defer+madvise" and "madvise" compact in the fault of an
// advised region, "always" in every fault.
TEST_P(HugePageStalls, FollowTheSelectedDefragMode) {
  EXPECT_EQ(huge_pages_never_stall(GetParam().setting), GetParam().never_stalls);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, HugePageStalls,
    testing::Values(DefragCase{"[always] defer defer+madvise madvise never", false},
                    DefragCase{"always [defer] defer+madvise madvise never", true},
                    DefragCase{"always defer [defer+madvise] madvise never", false},
                    DefragCase{"always defer defer+madvise [madvise] never\n", false},
                    DefragCase{"always defer defer+madvise madvise [never]", true},
                    DefragCase{"", false}, DefragCase{"defer never", false},
                    DefragCase{"always [defer", false}));

}  // namespace
}  // namespace zorvatools
