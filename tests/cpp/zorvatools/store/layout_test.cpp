#include "zorvatools/store/layout.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "test_support.hpp"

namespace zorvatools::store {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

StoreSchema one_lane(LaneDtype dtype, LaneKind kind, std::uint64_t nslabs = 1) {
  return {nslabs, {{"A", dtype, kind}}, "null"};
}

TEST(StoreLayout, SchemaLengthDecidesTheFirstLaneOffset) {
  const StoreSchema schema = one_lane(LaneDtype::F64, LaneKind::flat(3));
  EXPECT_EQ(Layout::compute(schema, 56)->lanes.at(0).offset, 64u);
  EXPECT_EQ(Layout::compute(schema, 57)->lanes.at(0).offset, 128u);
}

TEST(StoreLayout, SealFollowsTheDataRoundedToEightBytes) {
  struct Case {
    LaneDtype dtype;
    std::uint64_t data_end, seal_offset, file_len;
  };
  for (const Case& c : {Case{LaneDtype::F64, 88, 88, 108}, Case{LaneDtype::F32, 76, 80, 100},
                        Case{LaneDtype::U16, 70, 72, 92}}) {
    const auto layout = Layout::compute(one_lane(c.dtype, LaneKind::flat(3)), 56);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->lanes.at(0).byte_len, 3 * dtype_size(c.dtype));
    EXPECT_EQ(layout->data_end, c.data_end);
    EXPECT_EQ(layout->seal_offset, c.seal_offset);
    EXPECT_EQ(layout->file_len, c.file_len);
  }
}

TEST(StoreLayout, NoLanesStillPadsTheHeader) {
  const auto layout = Layout::compute(StoreSchema{1, {}, "null"}, 30);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->data_end, 64u);
  EXPECT_EQ(layout->file_len, 84u);
}

TEST(StoreLayout, SizesThatDoNotFitAFileAreRefused) {
  constexpr std::uint64_t kI64Max = std::numeric_limits<std::int64_t>::max();
  const std::vector<StoreSchema> schemas = {
      one_lane(LaneDtype::F32, LaneKind::slab(kU64Max / 2), 3),    // count overflows
      one_lane(LaneDtype::F64, LaneKind::flat(kU64Max / 4)),       // bytes overflow
      one_lane(LaneDtype::U16, LaneKind::flat(kU64Max / 2)),       // end overflows
      one_lane(LaneDtype::F32, LaneKind::slab(1), kU64Max),        // count fits, bytes do not
      one_lane(LaneDtype::U16, LaneKind::flat(kI64Max / 2 - 40)),  // beyond the largest file
      {1,
       {{"A", LaneDtype::F64, LaneKind::flat(kU64Max / 16)},
        {"B", LaneDtype::F64, LaneKind::flat(kU64Max / 16)}},
       "null"},  // the sum overflows
  };
  for (const StoreSchema& schema : schemas) {
    EXPECT_FALSE(Layout::compute(schema, 10)) << schema.lanes[0].kind.count();
  }
  EXPECT_FALSE(Layout::compute(StoreSchema{1, {}, "null"}, kU64Max - 3));
  // The largest file that still fits: zero-element lanes place nothing.
  const auto empty = Layout::compute(one_lane(LaneDtype::F32, LaneKind::slab(7), 0), 10);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->lanes[0].byte_len, 0u);
}

class StoreSeal : public ::testing::Test {
 protected:
  void SetUp() override {
    layout_ = *Layout::compute(one_lane(LaneDtype::F32, LaneKind::flat(3)), 56);
    file_.assign(layout_.file_len, std::byte{0});
    std::byte* seal = file_.data() + layout_.seal_offset;
    for (std::size_t i = 0; i < 4; ++i) seal[i] = std::byte(kSealMagic[i]);
    store_u64_le(seal + 4, 2);
    store_u64_le(seal + 12, layout_.data_end);
  }

  Layout layout_;
  std::vector<std::byte> file_;
};

TEST_F(StoreSeal, AcceptsTheSealAndLongerFiles) {
  ASSERT_OK(Layout::verify_seal(layout_, file_, 2));
  file_.resize(file_.size() + 5);
  ASSERT_OK(Layout::verify_seal(layout_, file_, 2));
}

TEST_F(StoreSeal, NamesWhatIsWrong) {
  const std::span<const std::byte> short_file(file_.data(), file_.size() - 1);
  EXPECT_ERROR_TEXT(Layout::verify_seal(layout_, short_file, 2),
                    "parse error: store not finalized or partially written (file shorter than "
                    "its schema)");
  EXPECT_ERROR_TEXT(Layout::verify_seal(layout_, file_, 3),
                    "parse error: store seal disagrees with its header (corrupt or truncated)");
  store_u64_le(file_.data() + layout_.seal_offset + 12, layout_.data_end + 1);
  EXPECT_ERROR_TEXT(Layout::verify_seal(layout_, file_, 2),
                    "parse error: store seal disagrees with its header (corrupt or truncated)");
  file_[layout_.seal_offset + 3] = std::byte{'z'};
  EXPECT_ERROR_TEXT(Layout::verify_seal(layout_, file_, 2),
                    "parse error: store not finalized (missing end-of-store seal)");
}

}  // namespace
}  // namespace zorvatools::store
