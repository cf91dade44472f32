#include "zorvatools/geostat/local_kriging.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace zorvatools {
namespace {

const Correlation kRho(Variogram(AnisotropicVariogram{0.1, 0.9, 300, 120, 10, 30,
                                                      VariogramModel::Spherical}));

SkNeighbour at(double x, double y, double value, double x0 = 0, double y0 = 0) {
  return {x, y, x - x0, y - y0, value};
}

// Gauss-Jordan on a copy, independent of the solver under test.
std::vector<double> reference_solve(std::vector<std::vector<double>> a, std::vector<double> b) {
  const std::size_t n = b.size();
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t p = k;
    for (std::size_t i = k + 1; i < n; ++i) {
      if (std::fabs(a[i][k]) > std::fabs(a[p][k])) p = i;
    }
    std::swap(a[k], a[p]);
    std::swap(b[k], b[p]);
    for (std::size_t i = 0; i < n; ++i) {
      if (i == k) continue;
      const double f = a[i][k] / a[k][k];
      for (std::size_t j = k; j < n; ++j) a[i][j] -= f * a[k][j];
      b[i] -= f * b[k];
    }
  }
  for (std::size_t k = 0; k < n; ++k) b[k] /= a[k][k];
  return b;
}

TEST(SimpleKriging, NothingToConditionOnGivesTheStandardNormal) {
  SkScratch scratch;
  const SkEstimate e = simple_kriging(kRho, std::nullopt, scratch);
  EXPECT_EQ(e.mean, 0.0);
  EXPECT_EQ(e.std_dev, 1.0);
}

TEST(SimpleKriging, ANeighbourAtTheNodeFixesItsValue) {
  SkScratch scratch;
  scratch.neighbours = {at(5, 5, -0.7, 5, 5), at(60, 5, 2.0, 5, 5)};
  const SkEstimate e = simple_kriging(kRho, std::nullopt, scratch);
  EXPECT_NEAR(e.mean, -0.7, 1e-14);
  EXPECT_EQ(e.std_dev, 0.0);  // a variance at or below zero gives no spread
}

TEST(SimpleKriging, TwoNeighboursAtOnePositionAreSingular) {
  SkScratch scratch;
  scratch.neighbours = {at(10, 0, 1.0), at(50, 80, -1.0), at(10, 0, 0.5)};
  for (const auto collocated : {std::optional<Collocated>{}, std::optional{Collocated{0.3, 0.5}}}) {
    const SkEstimate e = simple_kriging(kRho, collocated, scratch);
    EXPECT_EQ(e.mean, 0.0);
    EXPECT_EQ(e.std_dev, 1.0);
  }
}

// Mean and variance against an independent solve of the same system, with and without the
// collocated secondary (Markov model 1).
TEST(SimpleKriging, MatchesAnIndependentSolve) {
  const double x0 = 17;
  const double y0 = -4;
  SkScratch scratch;
  for (int k = 0; k < 16; ++k) {
    scratch.neighbours.push_back(
        at(x0 + 150 * std::sin(k * 2.1), y0 + 90 * std::cos(k * 1.3), std::sin(k * 0.7), x0, y0));
  }
  for (const auto collocated : {std::optional<Collocated>{}, std::optional{Collocated{1.2, 0.7}}}) {
    const auto& nb = scratch.neighbours;
    const std::size_t n = nb.size();
    const std::size_t m = collocated ? n + 1 : n;
    std::vector<std::vector<double>> a(m, std::vector<double>(m));
    std::vector<double> b(m);
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) a[i][j] = kRho(nb[i].x - nb[j].x, nb[i].y - nb[j].y);
      b[i] = kRho(nb[i].dx, nb[i].dy);
    }
    std::vector<double> values;
    for (const auto& s : nb) values.push_back(s.value);
    if (collocated) {
      for (std::size_t i = 0; i < n; ++i) a[i][n] = a[n][i] = collocated->rho * b[i];
      a[n][n] = 1;
      b[n] = collocated->rho;
      values.push_back(collocated->value);
    }
    const std::vector<double> weights = reference_solve(a, b);
    double mean = 0;
    double variance = 1;
    for (std::size_t i = 0; i < m; ++i) {
      mean += weights[i] * values[i];
      variance -= weights[i] * b[i];
    }
    const SkEstimate e = simple_kriging(kRho, collocated, scratch);
    EXPECT_NEAR(e.mean, mean, 1e-10);
    EXPECT_NEAR(e.std_dev, std::sqrt(variance), 1e-10);
    EXPECT_GT(e.std_dev, 0.0);
    EXPECT_LT(e.std_dev, 1.0);
  }
}

// The textbook row-by-row solve, term by term in the order the tuned solver must keep.
struct TextbookResult {
  SkEstimate estimate;
  int row_swaps = 0;
};

TextbookResult textbook_kriging(const Correlation& rho, std::optional<Collocated> collocated,
                                const std::vector<SkNeighbour>& nb) {
  const std::size_t n = nb.size();
  const std::size_t m = collocated ? n + 1 : n;
  std::vector<std::vector<double>> a(m, std::vector<double>(m, 1.0));
  std::vector<double> b(m);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      a[i][j] = a[j][i] = rho(nb[i].x - nb[j].x, nb[i].y - nb[j].y);
    }
    b[i] = rho(nb[i].dx, nb[i].dy);
  }
  if (collocated) {
    for (std::size_t i = 0; i < n; ++i) a[i][n] = a[n][i] = collocated->rho * b[i];
    b[n] = collocated->rho;
  }
  TextbookResult out;
  std::vector<std::size_t> perm(m);
  for (std::size_t i = 0; i < m; ++i) perm[i] = i;
  for (std::size_t k = 0; k < m; ++k) {
    std::size_t p = k;
    for (std::size_t i = k + 1; i < m; ++i) {
      if (std::fabs(a[i][k]) > std::fabs(a[p][k])) p = i;
    }
    if (a[p][k] == 0.0) return out;
    if (p != k) {
      std::swap(a[k], a[p]);
      std::swap(perm[k], perm[p]);
      ++out.row_swaps;
    }
    for (std::size_t i = k + 1; i < m; ++i) {
      a[i][k] = a[i][k] / a[k][k];
      for (std::size_t j = k + 1; j < m; ++j) a[i][j] -= a[i][k] * a[k][j];
    }
  }
  std::vector<double> x(m);
  for (std::size_t i = 0; i < m; ++i) {
    x[i] = b[perm[i]];
    for (std::size_t j = 0; j < i; ++j) x[i] -= a[i][j] * x[j];
  }
  for (std::size_t i = m; i-- > 0;) {
    for (std::size_t j = i + 1; j < m; ++j) x[i] -= a[i][j] * x[j];
    x[i] = x[i] / a[i][i];
  }
  double mean = 0.0;
  double explained = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    mean += x[i] * nb[i].value;
    explained += x[i] * b[i];
  }
  if (collocated) {
    mean += x[n] * collocated->value;
    explained += x[n] * collocated->rho;
  }
  const double variance = 1.0 - explained;
  out.estimate = {mean, variance > 0.0 ? std::sqrt(variance) : 0.0};
  return out;
}

// The tuned solve keeps every operation of the textbook one, so the two agree to the bit, also
// on badly conditioned systems that make the pivoting swap rows.
TEST(SimpleKriging, AgreesToTheBitWithTheTextbookSolve) {
  const std::vector<Correlation> correlations{
      kRho, Correlation(Variogram(IsotropicVariogram{0, 1, 400, VariogramModel::Gaussian})),
      Correlation(Variogram(IsotropicVariogram{0.3, 0.7, 90, VariogramModel::Exponential}))};
  std::uint64_t state = 99;
  auto uniform = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * 0x1p-53;
  };
  int row_swaps = 0;
  SkScratch scratch;
  for (int trial = 0; trial < 150; ++trial) {
    const Correlation& rho = correlations[trial % 3];
    const double x0 = 1000 * uniform();
    const double y0 = 1000 * uniform();
    const auto count = static_cast<std::size_t>(1 + 24 * uniform());
    const double spread = trial % 2 == 0 ? 20.0 : 300.0;  // tight clusters condition badly
    scratch.neighbours.clear();
    for (std::size_t k = 0; k < count; ++k) {
      scratch.neighbours.push_back(at(x0 + spread * (uniform() - 0.5),
                                      y0 + spread * (uniform() - 0.5), 4 * uniform() - 2, x0, y0));
    }
    for (const auto collocated :
         {std::optional<Collocated>{}, std::optional{Collocated{uniform() - 0.5, 0.95}}}) {
      const TextbookResult expected = textbook_kriging(rho, collocated, scratch.neighbours);
      const SkEstimate got = simple_kriging(rho, collocated, scratch);
      EXPECT_EQ(std::bit_cast<std::uint64_t>(got.mean),
                std::bit_cast<std::uint64_t>(expected.estimate.mean))
          << trial;
      EXPECT_EQ(std::bit_cast<std::uint64_t>(got.std_dev),
                std::bit_cast<std::uint64_t>(expected.estimate.std_dev))
          << trial;
      row_swaps += expected.row_swaps;
    }
  }
  EXPECT_GT(row_swaps, 0);
}

void expect_same_bits(const SkEstimate& got, const SkEstimate& expected, int trial) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(got.mean), std::bit_cast<std::uint64_t>(expected.mean))
      << trial;
  EXPECT_EQ(std::bit_cast<std::uint64_t>(got.std_dev),
            std::bit_cast<std::uint64_t>(expected.std_dev))
      << trial;
}

// Two systems solved together give each its textbook estimate to the bit: of one size or not,
// with row swaps, and when either is singular (a neighbour twice at one position).
TEST(SimpleKriging, SystemsSolvedTogetherAgreeToTheBitWithTheTextbookSolve) {
  std::uint64_t state = 7;
  auto uniform = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * 0x1p-53;
  };
  auto fill = [&](SkScratch& scratch, std::size_t count, double spread, bool singular) {
    const double x0 = 1000 * uniform();
    const double y0 = 1000 * uniform();
    scratch.neighbours.clear();
    for (std::size_t k = 0; k < count; ++k) {
      scratch.neighbours.push_back(at(x0 + spread * (uniform() - 0.5),
                                      y0 + spread * (uniform() - 0.5), 4 * uniform() - 2, x0, y0));
    }
    if (singular) scratch.neighbours.push_back(scratch.neighbours.front());
  };
  SkScratch first;
  SkScratch second;
  int singular_pairs = 0;
  for (int trial = 0; trial < 120; ++trial) {
    const auto count = static_cast<std::size_t>(1 + 20 * uniform());
    const bool same_size = trial % 3 != 0;
    const auto other = same_size ? count : static_cast<std::size_t>(1 + 20 * uniform());
    const double spread = trial % 2 == 0 ? 20.0 : 300.0;
    const bool singular_first = trial % 7 == 3;
    const bool singular_second = trial % 5 == 2;
    // Singular systems are one longer: pad the other so sizes still match where meant to.
    fill(first, count, spread, singular_first);
    fill(second, other + (singular_first && !singular_second ? 1 : 0), spread, singular_second);
    if (singular_second && !singular_first) first.neighbours.push_back(at(5000, 5000, 0.5));
    const std::optional<Collocated> collocated =
        trial % 4 == 1 ? std::optional{Collocated{uniform() - 0.5, 0.8}} : std::nullopt;
    const TextbookResult expected_first = textbook_kriging(kRho, collocated, first.neighbours);
    const TextbookResult expected_second = textbook_kriging(kRho, collocated, second.neighbours);

    ASSERT_TRUE(assemble_system(kRho, nullptr, collocated, first));
    ASSERT_TRUE(assemble_system(kRho, nullptr, collocated, second));
    if (same_size) {
      ASSERT_EQ(first.system.size(), second.system.size()) << trial;
    }
    const auto [solved_first, solved_second] =
        solve_both_in_place(first.system, first.weights, second.system, second.weights);
    EXPECT_EQ(solved_first, !singular_first) << trial;
    EXPECT_EQ(solved_second, !singular_second) << trial;
    singular_pairs += singular_first || singular_second ? 1 : 0;
    const SkEstimate got_first =
        solved_first ? estimate_from_weights(collocated, first) : SkEstimate{0.0, 1.0};
    const SkEstimate got_second =
        solved_second ? estimate_from_weights(collocated, second) : SkEstimate{0.0, 1.0};
    expect_same_bits(got_first, expected_first.estimate, trial);
    expect_same_bits(got_second, expected_second.estimate, trial);
  }
  EXPECT_GT(singular_pairs, 10);
}

}  // namespace
}  // namespace zorvatools
