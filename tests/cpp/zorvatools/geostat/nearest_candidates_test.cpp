#include "zorvatools/geostat/nearest_candidates.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

namespace zorvatools {
namespace {

using Candidate = NearestCandidates::Candidate;

bool ranks_before(const Candidate& a, const Candidate& b) {
  return std::tuple{a.distance2, a.index} < std::tuple{b.distance2, b.index};
}

using Batch = std::vector<Candidate>;
using Round = std::vector<Batch>;

// Rounds of offers in batches, round r at distances in [r, r + 2): everything nearer than r + 1
// is final once round r is offered, as in a walk. Few distinct distances make many ties.
std::vector<Round> walk_like_offers() {
  std::vector<Round> rounds(12);
  std::uint64_t state = 17;
  auto draw = [&](std::uint64_t bound) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (state >> 33) % bound;
  };
  std::uint32_t serial = 0;
  for (std::size_t r = 0; r < rounds.size(); ++r) {
    rounds[r].resize(1 + draw(3));
    for (Batch& batch : rounds[r]) {
      batch.resize(draw(18));
      for (Candidate& c : batch) {
        c.distance2 = 0.25 * static_cast<double>(4 * r + draw(8));
        c.index = static_cast<std::uint32_t>(draw(50)) * 1000 + serial++;  // unique
        c.where = c.index ^ 0x5a5a;
      }
    }
  }
  return rounds;
}

std::vector<Candidate> yields(const std::vector<Round>& rounds, std::size_t limit, bool lanes) {
  NearestCandidates list;
  list.reset(limit, lanes);
  std::vector<Candidate> yielded;
  for (std::size_t r = 0; r < rounds.size(); ++r) {
    for (const Batch& batch : rounds[r]) list.offer(batch.data(), batch.size());
    while (list.has_next() && list.next().distance2 < static_cast<double>(r + 1)) {
      yielded.push_back(list.next());
      list.pop();
    }
  }
  while (list.has_next()) {
    yielded.push_back(list.next());
    list.pop();
  }
  return yielded;
}

// In lanes and in the sorted array alike, the list yields exactly the first `limit` of all the
// points offered, in (distance, index) order.
TEST(NearestCandidates, YieldsTheFirstPointsOfferedInDistanceAndIndexOrder) {
  const std::vector<Round> rounds = walk_like_offers();
  std::vector<Candidate> all;
  for (const Round& round : rounds) {
    for (const Batch& batch : round) all.insert(all.end(), batch.begin(), batch.end());
  }
  std::ranges::sort(all, ranks_before);
  for (const std::size_t limit : {std::size_t{1}, std::size_t{3}, std::size_t{16}, std::size_t{17},
                                  std::size_t{40}, std::numeric_limits<std::size_t>::max()}) {
    const std::size_t expected = std::min(limit, all.size());
    for (const bool lanes : {false, true}) {
      const std::vector<Candidate> got = yields(rounds, limit, lanes);
      ASSERT_EQ(got.size(), expected) << limit << " " << lanes;
      for (std::size_t k = 0; k < expected; ++k) {
        EXPECT_EQ(got[k].distance2, all[k].distance2) << limit << " " << lanes << " " << k;
        EXPECT_EQ(got[k].index, all[k].index) << limit << " " << lanes << " " << k;
        EXPECT_EQ(got[k].where, all[k].where) << limit << " " << lanes << " " << k;
      }
    }
  }
}

TEST(NearestCandidates, AFullListTakesOnlyPointsAheadOfItsLast) {
  for (const bool lanes : {false, true}) {
    NearestCandidates list;
    list.reset(2, lanes);
    const std::vector<Candidate> first{{4.0, 0, 7}, {1.0, 1, 9}};
    list.offer(first.data(), first.size());
    ASSERT_TRUE(list.full());
    EXPECT_EQ(list.last_distance2(), 4.0);
    const std::vector<Candidate> later{{4.0, 2, 8}, {4.0, 3, 6}, {9.0, 4, 1}};  // ties by index
    list.offer(later.data(), later.size());
    EXPECT_EQ(list.next().index, 9u);
    list.pop();
    EXPECT_EQ(list.next().index, 6u);
    list.pop();
    EXPECT_FALSE(list.has_next());
  }
}

}  // namespace
}  // namespace zorvatools
