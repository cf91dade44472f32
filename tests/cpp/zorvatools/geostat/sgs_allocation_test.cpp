// Per-node work allocates nothing: the allocations of a simulation grow with the logarithm of
// the lattice size (vectors doubling), never with its node count.
#include <gtest/gtest.h>

#include <vector>

#include "test_support.hpp"
#include "zorvatools/geostat/allocation_counter.hpp"
#include "zorvatools/geostat/sgs.hpp"

namespace zorvatools {
namespace {

std::size_t allocations_of_simulation(std::size_t side) {
  const Lattice lattice{0, 0, 50, 50, side, side, 0, false};
  std::vector<ConditioningDatum> data;
  for (std::size_t k = 0; k < 20; ++k) {
    data.push_back({50.0 * ((k * 7) % side), 50.0 * ((k * 13) % side), 0.1 * k});
  }
  SgsParams params;
  params.max_neighbours = 16;
  params.radius_m = 400;
  params.secondary = Array2D<double>(side, side, 1.0);
  params.collocated_rho = 0.5;
  params.variogram = AnisotropicVariogram{0.1, 0.9, 300, 150, 10, 30, VariogramModel::Spherical};
  testing_alloc::start_counting();
  const auto result = sgs_seeded(data, lattice, params, 5);
  const std::size_t count = testing_alloc::stop_counting();
  EXPECT_TRUE(result.has_value());
  return count;
}

TEST(SgsAllocation, AllocationsDoNotGrowWithTheNodeCount) {
  if (!testing_alloc::available()) GTEST_SKIP() << "allocation counting needs the sanitizer build";
  const std::size_t small = allocations_of_simulation(20);  // 400 nodes
  const std::size_t large = allocations_of_simulation(60);  // 3600 nodes
  EXPECT_LT(large, small + 40) << small << " allocations for 400 nodes, " << large << " for 3600";
}

}  // namespace
}  // namespace zorvatools
