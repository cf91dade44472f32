#include "zorvatools/geostat/bounded_draw.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "zorvatools/geostat/rng_vectors.hpp"
#include "zorvatools/geostat/shuffle.hpp"
#include "zorvatools/geostat/ziggurat_normal.hpp"

namespace zorvatools {
namespace {

using rng_vectors::bits;
using rng_vectors::decimal;
using rng_vectors::hex;

std::uint64_t as_integer(const nlohmann::json& value) {
  return value.is_string() ? decimal(value) : value.get<std::uint64_t>();
}

// Both schemes: every result and the words each draw consumed.
TEST(BoundedDraw, MatchesTheReferenceResultsAndWordCounts) {
  const auto vectors = rng_vectors::load("bounded_vectors.json");
  std::size_t cases = 0;
  for (const char* scheme : {"u32_scheme", "u64_scheme"}) {
    for (const auto& c : vectors[scheme]) {
      const std::uint64_t bound = as_integer(c["bound"]);
      SCOPED_TRACE(testing::Message() << scheme << " seed " << c["seed"] << " bound " << bound);
      ChaCha12 rng = ChaCha12::from_seed(decimal(c["seed"]));
      for (std::size_t k = 0; k < c["results"].size(); ++k) {
        const std::uint64_t before = rng.word_position();
        EXPECT_EQ(bounded_draw(rng, bound), as_integer(c["results"][k])) << k;
        EXPECT_EQ(rng.word_position() - before, c["words_per_draw"][k].get<std::uint64_t>()) << k;
      }
      EXPECT_EQ(rng.word_position(), c["total_words_consumed"].get<std::uint64_t>());
      ++cases;
    }
  }
  EXPECT_EQ(cases, 39u);
}

std::uint64_t digest(const std::vector<std::uint64_t>& list) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (std::uint64_t e : list) h = (h ^ e) * 0x100000001b3ULL;
  return h;
}

// Shuffles the identity list and then draws the normals that follow it from the same stream.
void check_shuffle_case(const nlohmann::json& c, bool large) {
  SCOPED_TRACE(testing::Message() << "seed " << c["seed"] << " n " << c["n"]);
  std::vector<std::uint64_t> list(c["n"].get<std::size_t>());
  std::iota(list.begin(), list.end(), std::uint64_t{0});
  ChaCha12 rng = ChaCha12::from_seed(decimal(c["seed"]));
  shuffle_from_end(std::span(list), rng);
  EXPECT_EQ(rng.word_position(), c["shuffle_words_consumed"].get<std::uint64_t>());
  EXPECT_EQ(digest(list), hex(c["shuffled_digest"]));
  if (large) {
    const auto& first = c["shuffled_first_32"];
    const auto& last = c["shuffled_last_32"];
    for (std::size_t k = 0; k < first.size(); ++k)
      EXPECT_EQ(list[k], first[k].get<std::uint64_t>());
    for (std::size_t k = 0; k < last.size(); ++k) {
      EXPECT_EQ(list[list.size() - last.size() + k], last[k].get<std::uint64_t>());
    }
  } else {
    EXPECT_EQ(list, c["shuffled"].get<std::vector<std::uint64_t>>());
  }
  for (const auto& expected : c["normals_after_shuffle_bits"]) {
    EXPECT_EQ(ziggurat_normal(rng), bits(expected));
  }
  EXPECT_EQ(rng.word_position(), c["total_words_consumed"].get<std::uint64_t>());
}

TEST(Shuffle, MatchesTheReferenceListsAndTheNormalsThatFollow) {
  const auto vectors = rng_vectors::load("shuffle_vectors.json");
  ASSERT_EQ(vectors["cases"].size(), 38u);
  for (const auto& c : vectors["cases"]) check_shuffle_case(c, false);
}

TEST(Shuffle, MatchesTheLargeReferenceCases) {
  const auto vectors = rng_vectors::load("shuffle_vectors.json");
  ASSERT_EQ(vectors["large_cases"].size(), 4u);
  for (const auto& c : vectors["large_cases"]) check_shuffle_case(c, true);
}

}  // namespace
}  // namespace zorvatools
