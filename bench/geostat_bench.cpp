// Sequential Gaussian simulation of one layer: nodes simulated per second with 50 conditioning
// data, 16 neighbours, a spherical variogram of range 1000 m on a 50 m lattice and the default
// search radius of 1.5 ranges.
#include <benchmark/benchmark.h>

#include <vector>

#include "zorvatools/geostat/bounded_draw.hpp"
#include "zorvatools/geostat/sgs.hpp"

namespace {

using namespace zorvatools;

void BM_SgsSeeded(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Lattice lattice{0, 0, 50, 50, n, n, 0, false};
  ChaCha12 rng = ChaCha12::from_seed(2024);
  std::vector<ConditioningDatum> data;
  for (int k = 0; k < 50; ++k) {
    const auto i = static_cast<double>(bounded_draw(rng, n));
    const auto j = static_cast<double>(bounded_draw(rng, n));
    data.push_back(
        {50 * i, 50 * j, 0.1 + 0.2 * static_cast<double>(bounded_draw(rng, 1000)) / 1000});
  }
  SgsParams params;
  params.max_neighbours = 16;
  params.radius_m = 1500;
  params.variogram = AnisotropicVariogram{0, 1, 1000, 1000, 1000, 0, VariogramModel::Spherical};
  std::uint64_t seed = 0;
  for (auto _ : state) {
    auto result = sgs_seeded(data, lattice, params, seed++);
    benchmark::DoNotOptimize(result);
  }
  state.counters["nodes_per_s"] =
      benchmark::Counter(static_cast<double>(n * n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SgsSeeded)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);

}  // namespace
