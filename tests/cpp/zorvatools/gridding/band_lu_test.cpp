#include "zorvatools/gridding/band_lu.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>

#include "zorvatools/foundation/call_scope.hpp"

namespace zorvatools {
namespace {

// A diagonally dominant band with structural zeros (which give zero multipliers).
SparseEntries random_band(std::size_t n, std::size_t b) {
  std::mt19937_64 rng(n * 31 + b);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  SparseEntries entries;
  for (std::uint32_t r = 0; r < n; ++r) {
    for (std::uint32_t c = r > b ? r - b : 0; c <= std::min(n - 1, r + b); ++c) {
      if (c != r && (r + 3 * c) % 4 == 0) continue;
      entries[entry_key(r, c)] = c == r ? 4.0 * static_cast<double>(b + 1) : value(rng);
    }
  }
  return entries;
}

// Plain row-by-row elimination: the definition the blocked factorisation must reproduce exactly.
std::vector<double> reference_factor(const SparseEntries& entries, std::size_t n, std::size_t b) {
  const std::size_t w = 2 * b + 1;
  std::vector<double> a(n * w, 0.0);
  auto at = [&](std::size_t r, std::size_t c) -> double& { return a[r * w + b + c - r]; };
  for (const auto& [key, v] : entries) at(entry_row(key), entry_col(key)) = v;
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t i = r + 1; i <= std::min(n - 1, r + b); ++i) {
      const double m = at(i, r) / at(r, r);
      at(i, r) = m;
      if (m == 0) continue;
      for (std::size_t c = r + 1; c <= std::min(n - 1, r + b); ++c) at(i, c) -= m * at(r, c);
    }
  }
  return a;
}

TEST(BandLu, FactorsMatchPlainEliminationBitForBitAndSolve) {
  const std::pair<std::size_t, std::size_t> shapes[] = {{1, 0}, {5, 1}, {37, 5}, {70, 23}, {6, 9}};
  for (const auto& [n, b] : shapes) {
    const SparseEntries entries = random_band(n, b);
    const auto lu = build_and_factor(entries, n, b, 0.0);
    ASSERT_TRUE(lu.has_value());
    EXPECT_EQ(lu->values, reference_factor(entries, n, b)) << n << "x" << n << " b=" << b;
    std::vector<double> x(n), y(n, 0.0);
    for (std::size_t r = 0; r < n; ++r) x[r] = std::sin(static_cast<double>(r)) * 10;
    for (const auto& [key, v] : entries) y[entry_row(key)] += v * x[entry_col(key)];
    lu->solve_in_place(y);
    for (std::size_t r = 0; r < n; ++r) EXPECT_NEAR(y[r], x[r], 1e-9);
  }
}

TEST(BandLu, FailsOnPivotsAtOrBelowTheToleranceAndNonFiniteValues) {
  auto band = [](std::vector<std::tuple<std::uint32_t, std::uint32_t, double>> cells) {
    SparseEntries e;
    for (const auto& [r, c, v] : cells) e[entry_key(r, c)] = v;
    return e;
  };
  EXPECT_TRUE(build_and_factor(band({{0, 0, 1}, {1, 1, 2e-10}}), 2, 0, 0.0));
  EXPECT_FALSE(build_and_factor(band({{0, 0, 1}, {1, 1, 1e-10}}), 2, 0, 0.0));
  EXPECT_FALSE(build_and_factor(band({{0, 0, 1}, {1, 1, std::nan("")}}), 2, 0, 0.0));
  // Singular: the eliminated second pivot is zero; the shift lifts it.
  const SparseEntries singular = band({{0, 0, 2}, {0, 1, 4}, {1, 0, 1}, {1, 1, 2}});
  EXPECT_FALSE(build_and_factor(singular, 2, 1, 0.0));
  const auto shifted = build_and_factor(singular, 2, 1, 0.5);
  ASSERT_TRUE(shifted);
  EXPECT_EQ(shifted->at(0, 0), 2.5);
  // An infinite multiplier under a pivot that passes the tolerance.
  EXPECT_FALSE(build_and_factor(band({{0, 0, 1e-5}, {1, 0, 1e308}, {1, 1, 1}}), 2, 1, 0.0));
}

// Counts the polls of a call and stops it at poll `stop_at` (never when 0).
class StopAtPoll final : public CallMonitor {
 public:
  explicit StopAtPoll(std::size_t stop_at) : stop_at_(stop_at) {}
  bool should_stop() override { return ++polls_ == stop_at_; }
  void progress(std::string_view, std::uint64_t, std::uint64_t, double) override {}
  [[nodiscard]] std::size_t polls() const { return polls_; }

 private:
  std::size_t stop_at_;
  std::size_t polls_ = 0;
};

struct StopCase {
  std::size_t n, b, stop_at;
};

class BandLuStop : public ::testing::TestWithParam<StopCase> {};

// A stopped call ends the factorisation within a few pivot blocks of the stop; a call left to run
// polls at least once per 64 pivots and factors exactly as without a call.
TEST_P(BandLuStop, EndsAtTheStopAndPollsEveryFewBlocks) {
  const auto [n, b, stop_at] = GetParam();
  const SparseEntries entries = random_band(n, b);
  StopAtPoll monitor(stop_at);
  const CallScope scope(monitor, std::chrono::nanoseconds(0));
  const auto lu = build_and_factor(entries, n, b, 0.0);
  if (stop_at == 0) {
    ASSERT_TRUE(lu.has_value());
    EXPECT_EQ(lu->values, reference_factor(entries, n, b));
    EXPECT_GE(monitor.polls(), (n + 63) / 64);
  } else {
    ASSERT_FALSE(lu.has_value());
    EXPECT_EQ(lu.error(), BandLuFailure::Stopped);
    EXPECT_EQ(monitor.polls(), stop_at);  // not asked again after the stop
  }
}

INSTANTIATE_TEST_SUITE_P(Bands, BandLuStop,
                         ::testing::Values(StopCase{300, 7, 0}, StopCase{1000, 40, 0},
                                           StopCase{65, 3, 2}, StopCase{300, 7, 1},
                                           StopCase{1000, 40, 9}));

TEST(BandLu, AFailedPivotIsNotAStop) {
  SparseEntries zero_pivot;
  zero_pivot[entry_key(0, 0)] = 0.0;
  const auto lu = build_and_factor(zero_pivot, 1, 0, 0.0);
  ASSERT_FALSE(lu.has_value());
  EXPECT_EQ(lu.error(), BandLuFailure::NotFactorable);
}

}  // namespace
}  // namespace zorvatools
