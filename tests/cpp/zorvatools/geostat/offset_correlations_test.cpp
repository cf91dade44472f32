#include "zorvatools/geostat/offset_correlations.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "zorvatools/geostat/lattice_neighbours.hpp"

namespace zorvatools {
namespace {

struct Case {
  const char* name;
  Lattice lattice;
  double radius_m;
  Variogram variogram;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

template <class Param>
std::string case_name(const testing::TestParamInfo<Param>& info) {
  std::string name = info.param.name;
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

const Variogram kTilted =
    AnisotropicVariogram{0.1, 0.9, 300, 120, 10, 30, VariogramModel::Spherical};
const Variogram kGaussian =
    AnisotropicVariogram{0.05, 0.95, 250, 100, 5, 120, VariogramModel::Gaussian};
const Variogram kExponential = IsotropicVariogram{0.2, 0.8, 200, VariogramModel::Exponential};

// The table a simulation would build: offsets up to twice the search's reach.
std::optional<OffsetCorrelations> table_for(const Case& c, const LatticeNeighbours& search,
                                            std::size_t max_entries = std::size_t{1} << 22) {
  return OffsetCorrelations::build(Correlation(c.variogram), search.along_i(), search.along_j(),
                                   std::min<std::size_t>(2 * search.reach_i(), c.lattice.nx - 1),
                                   std::min<std::size_t>(2 * search.reach_j(), c.lattice.ny - 1),
                                   max_entries);
}

class OffsetTableOnExactLattices : public testing::TestWithParam<Case> {};

// Every pair of nodes within the table's reach, each way round: the entry of their offset is the
// correlation of the lag computed from their positions, to the bit.
TEST_P(OffsetTableOnExactLattices, EveryPairWithinReachMatchesItsComputedLag) {
  const Case& c = GetParam();
  const LatticeNeighbours search(c.lattice, c.radius_m * c.radius_m, 16);
  const std::optional<OffsetCorrelations> table = table_for(c, search);
  ASSERT_TRUE(table.has_value());
  ASSERT_GT(table->reach_i() + table->reach_j(), 0u);
  const Correlation correlation(c.variogram);
  const auto nx = static_cast<std::int64_t>(c.lattice.nx);
  const auto ny = static_cast<std::int64_t>(c.lattice.ny);
  const auto reach_i = static_cast<std::int64_t>(table->reach_i());
  const auto reach_j = static_cast<std::int64_t>(table->reach_j());
  std::size_t pairs = 0;
  for (std::int64_t i = 0; i < nx; ++i) {
    for (std::int64_t j = 0; j < ny; ++j) {
      const Point2 from = search.position(i, j);
      for (std::int64_t di = -reach_i; di <= reach_i; ++di) {
        for (std::int64_t dj = -reach_j; dj <= reach_j; ++dj) {
          if (i + di < 0 || i + di >= nx || j + dj < 0 || j + dj >= ny) continue;
          const Point2 to = search.position(i + di, j + dj);
          const double direct = correlation(to.x - from.x, to.y - from.y);
          const double looked_up =
              (*table)(static_cast<std::int32_t>(di), static_cast<std::int32_t>(dj));
          ASSERT_EQ(std::bit_cast<std::uint64_t>(looked_up), std::bit_cast<std::uint64_t>(direct))
              << "node " << i << ' ' << j << " offset " << di << ' ' << dj;
          ++pairs;
        }
      }
    }
  }
  EXPECT_GT(pairs, c.lattice.nx * c.lattice.ny);
}

INSTANTIATE_TEST_SUITE_P(
    Lattices, OffsetTableOnExactLattices,
    testing::Values(
        Case{"offset origin", Lattice{500, 800, 25, 25, 24, 18, 0, false}, 160, kTilted},
        Case{"flipped, unequal spacings", Lattice{-300, 50, 20, 30, 20, 22, 0, true}, 130,
             kGaussian},
        Case{"projected origin, fine binary spacings",
             Lattice{452123.25, 6780456.5, 12.5, 6.25, 21, 23, 0, false}, 70, kExponential},
        Case{"one row", Lattice{0, 0, 50, 50, 60, 1, 0, false}, 600, kTilted},
        Case{"radius beyond the lattice", Lattice{0, 0, 10, 10, 9, 7, 0, false}, 1000,
             kExponential}),
    case_name<Case>);

class OffsetTableRefused : public testing::TestWithParam<Case> {};

// Where two pairs of nodes with one offset compute different lags, no table can stand for them:
// the table must be refused. The case first shows that such pairs exist.
TEST_P(OffsetTableRefused, WhereOneOffsetComputesDifferentLags) {
  const Case& c = GetParam();
  const LatticeNeighbours search(c.lattice, c.radius_m * c.radius_m, 16);
  std::map<std::pair<std::size_t, std::size_t>, Point2> first_lag;
  bool differ = false;
  for (std::size_t i = 0; i + 2 < c.lattice.nx && !differ; ++i) {
    for (std::size_t j = 0; j + 2 < c.lattice.ny && !differ; ++j) {
      for (std::size_t di = 0; di <= 2; ++di) {
        for (std::size_t dj = 0; dj <= 2; ++dj) {
          const Point2 a = search.position(i, j);
          const Point2 b = search.position(i + di, j + dj);
          const Point2 lag{b.x - a.x, b.y - a.y};
          const auto [at, fresh] = first_lag.try_emplace({di, dj}, lag);
          differ = differ || !(at->second == lag);
        }
      }
    }
  }
  ASSERT_TRUE(differ) << "the case should hold pairs whose lags differ";
  EXPECT_FALSE(table_for(c, search).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Lattices, OffsetTableRefused,
    testing::Values(Case{"rotated", Lattice{500, 800, 25, 25, 12, 10, 35, false}, 100, kTilted},
                    Case{"decimal spacing", Lattice{1000000, 2000000, 0.1, 0.1, 12, 10, 0, false},
                         1, kExponential},
                    Case{"beyond the doubles' integers", Lattice{0x1p60, 0, 1, 1, 300, 4, 0, false},
                         3, kGaussian}),
    case_name<Case>);

// The table is built only within its budget of entries: (2 reach_i + 1) (2 reach_j + 1).
TEST(OffsetTable, KeepsToItsBudget) {
  const Lattice lattice{0, 0, 10, 10, 30, 30, 0, false};
  const Correlation correlation(kExponential);
  const LatticeNeighbours search(lattice, 1e6, 16);
  for (const auto& [reach_i, reach_j] :
       {std::pair{3u, 5u}, std::pair{0u, 7u}, std::pair{29u, 2u}}) {
    const std::size_t entries = (2 * reach_i + 1) * (2 * reach_j + 1);
    EXPECT_TRUE(OffsetCorrelations::build(correlation, search.along_i(), search.along_j(), reach_i,
                                          reach_j, entries)
                    .has_value());
    EXPECT_FALSE(OffsetCorrelations::build(correlation, search.along_i(), search.along_j(), reach_i,
                                           reach_j, entries - 1)
                     .has_value());
  }
}

}  // namespace
}  // namespace zorvatools
