// Sequential Gaussian simulation of one layer: nodes simulated per second with 50 conditioning
// data, 16 neighbours, a spherical variogram of range 1000 m on a 50 m lattice (unrotated, or
// rotated) and the default search radius of 1.5 ranges. The neighbour searches alone, along the
// same kind of path, with the lattice spiral the simulation uses and with the R*-tree walk over
// the same points.
#include <benchmark/benchmark.h>

#include <numeric>
#include <vector>

#include "zorvatools/geostat/bounded_draw.hpp"
#include "zorvatools/geostat/lattice_neighbours.hpp"
#include "zorvatools/geostat/neighbourhood.hpp"
#include "zorvatools/geostat/sgs.hpp"
#include "zorvatools/geostat/shuffle.hpp"

namespace {

using namespace zorvatools;

constexpr double kSpacing = 50;
constexpr double kRadius = 1500;
constexpr std::size_t kNeighbours = 16;

// The lattice rotated by state.range(1) degrees: its node positions round, so lags are computed
// pair by pair and the search ranks computed distances (0: the exact lattice of the table path).
void BM_SgsSeeded(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto rotation = static_cast<double>(state.range(1));
  const Lattice lattice{0, 0, kSpacing, kSpacing, n, n, rotation, false};
  ChaCha12 rng = ChaCha12::from_seed(2024);
  std::vector<ConditioningDatum> data;
  for (int k = 0; k < 50; ++k) {
    const auto i = static_cast<double>(bounded_draw(rng, n));
    const auto j = static_cast<double>(bounded_draw(rng, n));
    const Point2 at = lattice.node_xy(i, j);
    data.push_back({at.x, at.y, 0.1 + 0.2 * static_cast<double>(bounded_draw(rng, 1000)) / 1000});
  }
  SgsParams params;
  params.max_neighbours = kNeighbours;
  params.radius_m = kRadius;
  params.variogram = AnisotropicVariogram{0, 1, 1000, 1000, 1000, 0, VariogramModel::Spherical};
  std::uint64_t seed = 0;
  for (auto _ : state) {
    auto result = sgs_seeded(data, lattice, params, seed++);
    benchmark::DoNotOptimize(result);
  }
  state.counters["nodes_per_s"] =
      benchmark::Counter(static_cast<double>(n * n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SgsSeeded)
    ->Args({100, 0})
    ->Args({300, 0})
    ->Args({300, 30})
    ->Unit(benchmark::kMillisecond);

// Every node of an n x n lattice in a shuffled order, as a simulation path visits them.
std::vector<std::size_t> shuffled_nodes(std::size_t n) {
  std::vector<std::size_t> path(n * n);
  std::iota(path.begin(), path.end(), std::size_t{0});
  ChaCha12 rng = ChaCha12::from_seed(7);
  shuffle_from_end(std::span(path), rng);
  return path;
}

void BM_SearchLatticeSpiral(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Lattice lattice{0, 0, kSpacing, kSpacing, n, n, 0, false};
  const std::vector<std::size_t> path = shuffled_nodes(n);
  for (auto _ : state) {
    LatticeNeighbours search(lattice, kRadius * kRadius, kNeighbours);
    double sum = 0;
    for (std::size_t step = 0; step < path.size(); ++step) {
      const std::size_t i = path[step] / n;
      const std::size_t j = path[step] % n;
      if (step + 1 < path.size()) search.prefetch_around(path[step + 1] / n, path[step + 1] % n);
      for (const auto& hit : search.nearest(i, j)) sum += hit.value;
      search.inform(i, j, sum * 1e-9);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["nodes_per_s"] =
      benchmark::Counter(static_cast<double>(n * n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SearchLatticeSpiral)
    ->Arg(60)
    ->Arg(100)
    ->Arg(300)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);

void BM_SearchRtreeWalk(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Lattice lattice{0, 0, kSpacing, kSpacing, n, n, 0, false};
  const std::vector<std::size_t> path = shuffled_nodes(n);
  std::vector<double> values(n * n);
  for (auto _ : state) {
    Neighbourhood tree(n * n);
    Neighbourhood::NearestWalk walk;
    double sum = 0;
    for (std::size_t step = 0; step < path.size(); ++step) {
      const Point2 at =
          lattice.node_xy(static_cast<double>(path[step] / n), static_cast<double>(path[step] % n));
      walk.start(tree, at, kRadius * kRadius, kNeighbours);
      while (const auto hit = walk.next()) sum += values[hit->index];
      values[step] = sum * 1e-9;
      tree.insert(at, step);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["nodes_per_s"] =
      benchmark::Counter(static_cast<double>(n * n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SearchRtreeWalk)->Arg(300)->Unit(benchmark::kMillisecond);

}  // namespace
