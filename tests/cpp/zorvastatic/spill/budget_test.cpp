#include "zorvastatic/spill/budget.hpp"

#include <gtest/gtest.h>

namespace zorvastatic {
namespace {

TEST(Meminfo, ParsesTheFirstMemTotalLine) {
  EXPECT_EQ(parse_meminfo_total("MemFree: 1 kB\nMemTotal:   16777216 kB\nMemTotal: 1 kB\n"),
            std::optional<std::uint64_t>(17179869184ull));
  EXPECT_EQ(parse_meminfo_total("MemTotal:\t+42 kB"), std::optional<std::uint64_t>(43008));
}

TEST(Meminfo, MalformedOrMissingGivesNothing) {
  for (const char* text :
       {"", "MemFree: 5 kB\n", "MemTotal: 12x kB\n", "MemTotal: kB\n", "MemTotal:\n",
        "MemTotal: 99999999999999999999999 kB\n", "MemTotal: 18014398509481984 kB\n",
        " MemTotal: 5 kB\n", "MemTotal: -5 kB\n"}) {
    EXPECT_FALSE(parse_meminfo_total(text).has_value()) << text;
  }
}

TEST(SpillBudget, HalfOfPhysicalMemoryOrFourGiB) {
  EXPECT_EQ(default_spill_budget(16ull << 30), 8ull << 30);
  EXPECT_EQ(default_spill_budget(7), 3u);
  EXPECT_EQ(default_spill_budget(std::nullopt), 4294967296ull);
  // This machine has a readable meminfo.
  ASSERT_TRUE(query_physical_ram().has_value());
  EXPECT_EQ(query_physical_ram(), query_physical_ram());
}

}  // namespace
}  // namespace zorvastatic
