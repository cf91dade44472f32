#include "zorvastatic/model/zones.hpp"

#include <gtest/gtest.h>

namespace zorvastatic {
namespace {

TEST(ZoneTable, SingleZone) {
  const ZoneTable table = ZoneTable::single(5);
  ASSERT_EQ(table.zones.size(), 1u);
  const Zone& z = table.zones[0];
  EXPECT_EQ(z.name, "RESERVOIR");
  EXPECT_EQ(z.top, "Top");
  EXPECT_EQ(z.base, "Contact");
  EXPECT_FALSE(z.label.has_value());
  EXPECT_EQ(z.k_start, 0u);
  EXPECT_EQ(z.k_end, 5u);
}

TEST(ZoneTable, FromStackChainsRangesIncludingEmptyZones) {
  const ZoneTable table = ZoneTable::from_stack({"A", "B", "C", "D"}, {"Z1", "Z2", "Z3"},
                                                {"red", std::nullopt, "blue"}, {3, 0, 4});
  ASSERT_EQ(table.zones.size(), 3u);
  EXPECT_EQ(table.zones[0].top, "A");
  EXPECT_EQ(table.zones[0].base, "B");
  EXPECT_EQ(table.zones[0].label, "red");
  EXPECT_EQ(table.zones[1].k_start, 3u);
  EXPECT_EQ(table.zones[1].k_end, 3u);
  EXPECT_EQ(table.zones[2].k_start, 3u);
  EXPECT_EQ(table.zones[2].k_end, 7u);
  EXPECT_EQ(table.zones[2].base, "D");
  EXPECT_EQ(table.find("Z2"), &table.zones[1]);
  EXPECT_EQ(table.find("z2"), nullptr);
}

}  // namespace
}  // namespace zorvastatic
