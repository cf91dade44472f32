#include "zorvatools/gridding/sparse_lu.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string_view>

#include "zorvatools/foundation/call_scope.hpp"

namespace zorvatools {
namespace {

// A non-symmetric matrix with a zero diagonal entry in row 0, so that any unpivoted elimination
// fails at once, and a known solution.
CompressedRows needs_pivoting(std::size_t n) {
  std::mt19937_64 rng(n);
  std::uniform_real_distribution<double> value(-1, 1);
  CompressedRows a;
  a.n = n;
  a.start.push_back(0);
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t c = r > 2 ? r - 2 : 0; c < std::min(n, r + 3); ++c) {
      a.column.push_back(static_cast<std::int32_t>(c));
      a.value.push_back(c == r ? (r == 0 ? 0.0 : 5 + value(rng)) : value(rng));
    }
    a.start.push_back(static_cast<std::int64_t>(a.column.size()));
  }
  return a;
}

TEST(SparseLu, SolvesSystemsThatNeedPivotingToRoundingLevel) {
  for (const std::size_t n : {2u, 7u, 300u}) {
    const CompressedRows a = needs_pivoting(n);
    auto lu = SparseLu::factor(a, 0.0, UINT64_MAX);
    ASSERT_TRUE(lu.has_value()) << n;
    std::vector<double> x(n), b(n);
    for (std::size_t r = 0; r < n; ++r) x[r] = std::sin(double(r)) * 100;
    a.multiply(x, b);
    std::vector<double> solved = b;
    lu->solve_in_place(solved);
    for (std::size_t r = 0; r < n; ++r) EXPECT_NEAR(solved[r], x[r], 1e-10) << n << " row " << r;
    // The same right-hand side gives the same bits; copies share the factors.
    const SparseLu copy = *lu;
    std::vector<double> again = b;
    copy.solve_in_place(again);
    EXPECT_EQ(again, solved);
  }
}

TEST(SparseLu, ReportsSingularMatricesAndMemoryBeyondTheLimit) {
  CompressedRows a = needs_pivoting(40);
  // An empty row: singular.
  for (auto p = a.start[5]; p < a.start[6]; ++p) a.value[p] = 0;
  EXPECT_EQ(SparseLu::factor(a, 0.0, UINT64_MAX).error(), SparseLuFailure::Singular);
  // The shift on the diagonal lifts the zero row.
  EXPECT_TRUE(SparseLu::factor(a, 1.0, UINT64_MAX).has_value());

  std::uint64_t needed = 0;
  EXPECT_EQ(SparseLu::factor(needs_pivoting(300), 0.0, 1000, &needed).error(),
            SparseLuFailure::OutOfMemory);
  EXPECT_GT(needed, 1000u);
  EXPECT_TRUE(SparseLu::factor(needs_pivoting(300), 0.0, 2 * needed).has_value());
}

// Inside a call the factorisation runs on its own thread: same factors as outside one, and a stop
// returns at once, the next factorisation waiting for the one left behind.
TEST(SparseLu, InsideACallFactorsTheSameAndStopsWhenAsked) {
  class Monitor final : public CallMonitor {
   public:
    explicit Monitor(bool stop) : stop_(stop) {}
    bool should_stop() override { return stop_; }
    void progress(std::string_view, std::uint64_t, std::uint64_t, double) override {}

   private:
    bool stop_;
  };
  const CompressedRows a = needs_pivoting(20000);
  std::vector<double> b(a.n);
  for (std::size_t r = 0; r < a.n; ++r) b[r] = std::cos(double(r));
  auto solve = [&](const SparseLu& lu) {
    std::vector<double> x = b;
    lu.solve_in_place(x);
    return x;
  };
  const auto outside = SparseLu::factor(a, 0.0, UINT64_MAX);
  ASSERT_TRUE(outside.has_value());
  for (int round = 0; round < 3; ++round) {
    Monitor stopping(true), running(false);
    {
      const CallScope scope(stopping, std::chrono::nanoseconds(0));
      EXPECT_EQ(SparseLu::factor(a, 0.0, UINT64_MAX).error(), SparseLuFailure::Stopped);
    }
    const CallScope scope(running, std::chrono::nanoseconds(0));
    const auto inside = SparseLu::factor(a, 0.0, UINT64_MAX);
    ASSERT_TRUE(inside.has_value());
    EXPECT_EQ(solve(*inside), solve(*outside));
  }
  // Failures cross the thread too.
  std::uint64_t needed = 0;
  Monitor running(false);
  const CallScope scope(running, std::chrono::nanoseconds(0));
  EXPECT_EQ(SparseLu::factor(a, 0.0, 1000, &needed).error(), SparseLuFailure::OutOfMemory);
  EXPECT_GT(needed, 1000u);
}

}  // namespace
}  // namespace zorvatools
