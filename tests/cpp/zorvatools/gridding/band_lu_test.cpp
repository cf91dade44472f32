#include "zorvatools/gridding/band_lu.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace zorvatools {
namespace {

// A diagonally dominant band with some structural zeros inside the band.
SparseEntries random_band(std::size_t n, std::size_t b, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  SparseEntries entries;
  for (std::size_t r = 0; r < n; ++r) {
    const std::size_t lo = r > b ? r - b : 0;
    const std::size_t hi = std::min(n - 1, r + b);
    for (std::size_t c = lo; c <= hi; ++c) {
      if (c != r && (r + 3 * c) % 4 == 0) continue;
      const double v = c == r ? 4.0 * static_cast<double>(b + 1) : value(rng);
      entries[entry_key(static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(c))] = v;
    }
  }
  return entries;
}

// Plain row-by-row elimination, the definition the blocked factorisation must reproduce.
std::vector<double> reference_factor(const SparseEntries& entries, std::size_t n, std::size_t b) {
  const std::size_t w = 2 * b + 1;
  std::vector<double> a(n * w, 0.0);
  auto at = [&](std::size_t r, std::size_t c) -> double& { return a[r * w + b + c - r]; };
  for (const auto& [key, v] : entries) at(entry_row(key), entry_col(key)) = v;
  for (std::size_t r = 0; r < n; ++r) {
    const std::size_t last = std::min(n - 1, r + b);
    for (std::size_t i = r + 1; i <= last; ++i) {
      const double m = at(i, r) / at(r, r);
      at(i, r) = m;
      if (m == 0) continue;
      for (std::size_t c = r + 1; c <= last; ++c) at(i, c) -= m * at(r, c);
    }
  }
  return a;
}

struct BandCase {
  std::size_t n;
  std::size_t b;
};

class BandLuShapes : public testing::TestWithParam<BandCase> {};

TEST_P(BandLuShapes, FactorsMatchPlainEliminationBitForBitAndSolve) {
  const auto [n, b] = GetParam();
  const SparseEntries entries = random_band(n, b, static_cast<unsigned>(n * 31 + b));
  const auto lu = build_and_factor(entries, n, b, 0.0);
  ASSERT_TRUE(lu.has_value());
  EXPECT_EQ(lu->w, 2 * b + 1);
  EXPECT_EQ(lu->values, reference_factor(entries, n, b));

  // A x = y for a known x.
  std::vector<double> x(n);
  for (std::size_t r = 0; r < n; ++r) x[r] = std::sin(static_cast<double>(r)) * 10;
  std::vector<double> y(n, 0.0);
  for (const auto& [key, v] : entries) y[entry_row(key)] += v * x[entry_col(key)];
  lu->solve_in_place(y);
  for (std::size_t r = 0; r < n; ++r) EXPECT_NEAR(y[r], x[r], 1e-9) << "row " << r;
}

INSTANTIATE_TEST_SUITE_P(Shapes, BandLuShapes,
                         testing::Values(BandCase{1, 0}, BandCase{5, 1}, BandCase{37, 5},
                                         BandCase{70, 23}, BandCase{6, 9}));

TEST(BandLu, FailsOnPivotsAtOrBelowTheToleranceAndOnNonFiniteValues) {
  auto diagonal = [](std::vector<double> d) {
    SparseEntries e;
    for (std::uint32_t r = 0; r < d.size(); ++r) e[entry_key(r, r)] = d[r];
    return e;
  };
  EXPECT_TRUE(build_and_factor(diagonal({1, 2e-10, 1}), 3, 0, 0.0).has_value());
  EXPECT_FALSE(build_and_factor(diagonal({1, 1e-10, 1}), 3, 0, 0.0).has_value());
  EXPECT_FALSE(build_and_factor(diagonal({1, 0, 1}), 3, 0, 0.0).has_value());
  EXPECT_FALSE(build_and_factor(diagonal({1, std::nan(""), 1}), 3, 0, 0.0).has_value());
  // The shift lifts the zero pivot.
  const auto shifted = build_and_factor(diagonal({1, 0, 1}), 3, 0, 0.5);
  ASSERT_TRUE(shifted.has_value());
  EXPECT_EQ(shifted->at(1, 1), 0.5);
  EXPECT_EQ(shifted->at(0, 0), 1.5);
}

TEST(BandLu, SingularTwoByTwoFailsThroughItsEliminatedPivot) {
  SparseEntries e;
  e[entry_key(0, 0)] = 2;
  e[entry_key(0, 1)] = 4;
  e[entry_key(1, 0)] = 1;
  e[entry_key(1, 1)] = 2;
  EXPECT_FALSE(build_and_factor(e, 2, 1, 0.0).has_value());
  // An infinite multiplier is a failure too.
  e[entry_key(0, 0)] = 1e-5;
  e[entry_key(1, 0)] = 1e308;
  e[entry_key(1, 1)] = 1;
  EXPECT_FALSE(build_and_factor(e, 2, 1, 0.0).has_value());
}

}  // namespace
}  // namespace zorvatools
