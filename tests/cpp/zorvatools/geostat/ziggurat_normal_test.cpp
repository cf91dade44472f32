#include "zorvatools/geostat/ziggurat_normal.hpp"

#include <gtest/gtest.h>

#include "zorvatools/geostat/rng_vectors.hpp"
#include "zorvatools/geostat/word_to_double.hpp"
#include "zorvatools/geostat/ziggurat_tables.hpp"

namespace zorvatools {
namespace {

using rng_vectors::bits;
using rng_vectors::decimal;
using rng_vectors::hex;

TEST(Ziggurat, TablesAreThePublishedBitPatterns) {
  const auto tables = rng_vectors::load("ziggurat_tables.json");
  EXPECT_EQ(kZigguratTailStart, bits(tables["R"]["bits"]));
  EXPECT_EQ(kZigguratTailStart, kZigguratX[1]);
  ASSERT_EQ(tables["x"]["bits"].size(), kZigguratTableSize);
  for (std::size_t i = 0; i < kZigguratTableSize; ++i) {
    EXPECT_EQ(kZigguratX[i], bits(tables["x"]["bits"][i])) << i;
    EXPECT_EQ(kZigguratF[i], bits(tables["f"]["bits"][i])) << i;
  }
}

TEST(Ziggurat, WordConversionsMatchTheReference) {
  const auto conversions = rng_vectors::load("conversions.json");
  ASSERT_FALSE(conversions["rows"].empty());
  for (const auto& row : conversions["rows"]) {
    const std::uint64_t word = hex(row["word"]);
    EXPECT_EQ(unit_closed_open(word), bits(row["standard01_bits"])) << row["word"];
    EXPECT_EQ(unit_open(word), bits(row["open01_bits"])) << row["word"];
    EXPECT_EQ(signed_unit(word), bits(row["zig_u_bits"])) << row["word"];
    EXPECT_EQ(word & 0xFF, row["zig_index"].get<std::uint64_t>());
  }
}

// 2000 draws per seed over every path: rectangles, wedges accepted and rejected, and tails
// (one of them with two tail passes). Tail values depend on the C library's log; the reference
// was made with glibc, whose log is correctly rounded on every input these vectors use.
TEST(Ziggurat, NormalDeviatesMatchTheReference) {
  const auto vectors = rng_vectors::load("normal_vectors.json");
  ASSERT_EQ(vectors["seeds"].size(), 7u);
  for (const auto& c : vectors["seeds"]) {
    SCOPED_TRACE(testing::Message() << "seed " << c["seed"]);
    ChaCha12 rng = ChaCha12::from_seed(decimal(c["seed"]));
    const auto& expected = c["bits"];
    ASSERT_EQ(expected.size(), c["count"].get<std::size_t>());
    std::size_t mismatches = 0;
    for (std::size_t k = 0; k < expected.size(); ++k) {
      const double value = ziggurat_normal(rng);
      if (value != bits(expected[k]) && ++mismatches <= 5) {
        ADD_FAILURE() << "draw " << k << ": " << value << " != " << bits(expected[k]);
      }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(rng.word_position(), c["u32_words_consumed"].get<std::uint64_t>());
  }
}

}  // namespace
}  // namespace zorvatools
