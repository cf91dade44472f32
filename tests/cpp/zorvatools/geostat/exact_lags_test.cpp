#include "zorvatools/geostat/exact_lags.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "zorvatools/geostat/lattice_neighbours.hpp"

namespace zorvatools {
namespace {

struct LagCase {
  const char* name;
  Lattice lattice;
  bool exact;
};

void PrintTo(const LagCase& c, std::ostream* os) {
  *os << c.name;
}

class ExactLagsOfLattices : public testing::TestWithParam<LagCase> {};

// Lags are taken as exact only where every pair of nodes computes exactly them from its positions.
TEST_P(ExactLagsOfLattices, AreThoseEveryPairComputes) {
  const LagCase& c = GetParam();
  const LatticeNeighbours search(c.lattice, 1, 1);
  const std::optional<ExactLags> lags = exact_lags(search.along_i(), search.along_j());
  ASSERT_EQ(lags.has_value(), c.exact);
  if (!lags) return;
  const auto nx = static_cast<std::int64_t>(c.lattice.nx);
  const auto ny = static_cast<std::int64_t>(c.lattice.ny);
  for (std::int64_t a = 0; a < nx * ny; ++a) {
    for (std::int64_t b = 0; b < nx * ny; ++b) {
      const Point2 from = search.position(a / ny, a % ny);
      const Point2 to = search.position(b / ny, b % ny);
      const Point2 lag = lags->lag(b / ny - a / ny, b % ny - a % ny);
      ASSERT_EQ(lag, (Point2{to.x - from.x, to.y - from.y})) << a << " to " << b;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lattices, ExactLagsOfLattices,
    testing::Values(
        LagCase{"unit", Lattice::unit(7, 5), true},
        LagCase{"projected origin, flipped",
                Lattice{452123.25, 6780456.5, 12.5, 6.25, 9, 8, 0, true}, true},
        LagCase{"negative spacing", Lattice{100, -40, -2, 0.5, 6, 7, 0, false}, true},
        // Each table steps evenly (two rows), but the rows' tiny x offsets vanish in the sums.
        LagCase{"a quarter turn", Lattice{1000, 2000, 4, 4, 5, 2, 90, false}, false},
        LagCase{"rotated", Lattice{500, 800, 25, 25, 6, 5, 35, false}, false},
        LagCase{"decimal spacing", Lattice{1e6, 2e6, 0.1, 0.1, 6, 5, 0, false}, false}),
    [](const testing::TestParamInfo<LagCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

}  // namespace
}  // namespace zorvatools
