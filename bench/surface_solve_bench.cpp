// Converged surface solves on square lattices with 50 scattered controls: the direct banded
// factorisation is the cost centre; restarts reuse it.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <random>

#include "zorvastatic/gridder/surface_solve.hpp"
#include "zorvatools/gridding/min_curvature.hpp"

namespace {

std::vector<zorvastatic::ControlPoint> scattered_controls(std::size_t n, std::size_t count) {
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<std::size_t> node(0, n - 1);
  std::vector<zorvastatic::ControlPoint> controls;
  for (std::size_t c = 0; c < count; ++c) {
    const std::size_t i = node(rng);
    const std::size_t j = node(rng);
    const double x = static_cast<double>(i) / static_cast<double>(n);
    const double y = static_cast<double>(j) / static_cast<double>(n);
    controls.push_back({i, j, 2000 + 40 * x - 25 * y + 15 * std::sin(6 * x) * std::cos(4 * y)});
  }
  return controls;
}

double peak_rss_mb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

// The whole production solve: trend, first solve (assembly + factorisation + substitution) and
// the restart that reuses the factors.
void BM_SolveSurfaceConverged(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto controls = scattered_controls(n, 50);
  for (auto _ : state) {
    auto surface = zorvastatic::solve_surface_converged(n, n, controls);
    benchmark::DoNotOptimize(surface);
  }
  state.counters["nodes"] = static_cast<double>(n * n);
  state.counters["peak_rss_MB"] = peak_rss_mb();
}
BENCHMARK(BM_SolveSurfaceConverged)
    ->Arg(51)
    ->Arg(101)
    ->Arg(201)
    ->Arg(301)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A restart alone: the cached factors turn the solve into one substitution.
void BM_MinCurvatureCachedSolve(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<zorvatools::Sample> samples;
  for (const auto& cp : scattered_controls(n, 50)) {
    samples.push_back({static_cast<double>(cp.i), static_cast<double>(cp.j), cp.z});
  }
  const auto lattice = zorvatools::Lattice::unit(n, n);
  const zorvatools::Array2D<double> seed(n, n, 2000.0);
  zorvatools::MinCurvatureCache cache;
  auto first = zorvatools::grid_min_curvature(samples, lattice, seed, &cache);
  if (!first || !cache.factored || !*cache.factored) {
    state.SkipWithError("direct solve failed");
    return;
  }
  const auto& band = (*cache.factored)->band();
  for (auto _ : state) {
    auto grid = zorvatools::grid_min_curvature(samples, lattice, seed, &cache);
    benchmark::DoNotOptimize(grid);
  }
  state.counters["half_band"] = static_cast<double>(band.b);
  state.counters["band_MB"] = static_cast<double>(band.values.size() * sizeof(double)) / 1048576.0;
}
BENCHMARK(BM_MinCurvatureCachedSolve)
    ->Arg(51)
    ->Arg(101)
    ->Arg(201)
    ->Arg(301)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
