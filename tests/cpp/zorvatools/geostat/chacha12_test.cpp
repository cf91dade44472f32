#include "zorvatools/geostat/chacha12.hpp"

#include <gtest/gtest.h>

#include "zorvatools/geostat/rng_vectors.hpp"

namespace zorvatools {
namespace {

using rng_vectors::decimal;
using rng_vectors::hex;

TEST(ChaCha12, ZeroKeyBlockMatchesTheReference) {
  const auto vectors = rng_vectors::load("chacha12_vectors.json");
  const ChaCha12 rng(ChaChaKey{});
  const ChaChaBlock out = chacha12_block(rng.block_input(0));
  const auto& expected = vectors["zero_key_block0"]["output_words"];
  ASSERT_EQ(expected.size(), out.size());
  for (std::size_t k = 0; k < out.size(); ++k) EXPECT_EQ(out[k], hex(expected[k])) << k;
}

TEST(ChaCha12, SeededStreamsMatchTheReference) {
  const auto vectors = rng_vectors::load("chacha12_vectors.json");
  ASSERT_EQ(vectors["seeds"].size(), 6u);
  for (const auto& c : vectors["seeds"]) {
    const std::uint64_t seed = decimal(c["seed"]);
    SCOPED_TRACE(seed);
    EXPECT_EQ(seed, hex(c["seed_hex"]));
    const ChaChaKey key = chacha_key_from_seed(seed);
    for (std::size_t k = 0; k < key.size(); ++k) EXPECT_EQ(key[k], hex(c["key_words"][k]));
    const ChaCha12 probe(key);
    const ChaChaBlock input = probe.block_input(0);
    for (std::size_t k = 0; k < input.size(); ++k) {
      EXPECT_EQ(input[k], hex(c["block0_input_state"][k]));
    }

    ChaCha12 words = ChaCha12::from_seed(seed);
    for (const auto& w : c["u32_first40"]) EXPECT_EQ(words.next_u32(), hex(w));
    ChaCha12 pairs = ChaCha12::from_seed(seed);
    for (const auto& w : c["u64_first40"]) EXPECT_EQ(pairs.next_u64(), hex(w));
    ChaCha12 around = ChaCha12::from_seed(seed);
    for (int k = 0; k < 60; ++k) (void)around.next_u32();
    for (const auto& w : c["u32_words_60_to_71"]) EXPECT_EQ(around.next_u32(), hex(w));

    // 64-bit draws that straddle a block edge and the 64-word edge.
    for (const char* mix : {"u32x15_then_u64x10", "u32x63_then_u64x4"}) {
      ChaCha12 rng = ChaCha12::from_seed(seed);
      for (const auto& w : c[mix]["u32"]) EXPECT_EQ(rng.next_u32(), hex(w)) << mix;
      for (const auto& w : c[mix]["u64"]) EXPECT_EQ(rng.next_u64(), hex(w)) << mix;
      EXPECT_EQ(rng.word_position(), c[mix]["words_consumed"].get<std::uint64_t>()) << mix;
    }
  }
}

TEST(ChaCha12, BlockCounterCarriesIntoItsHighWord) {
  const auto vectors = rng_vectors::load("chacha12_vectors.json");
  const auto& carry = vectors["counter_carry"];
  ChaCha12 rng = ChaCha12::from_seed(decimal(carry["seed"]));
  const std::uint64_t start = hex(carry["start_block_hex"]);
  rng.seek_block(start);
  EXPECT_EQ(rng.word_position(), start * 16);
  ASSERT_EQ(carry["u32"].size(), 64u);
  for (const auto& w : carry["u32"]) EXPECT_EQ(rng.next_u32(), hex(w));
}

}  // namespace
}  // namespace zorvatools
