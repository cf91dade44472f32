// Horizon-stack resolution on a 201 x 201 lattice: five mapped and three tops-only horizons,
// on one and on two worker threads. Mapped horizons are either sparse (interpreted on 150
// scattered nodes shared by all five, each solve a full minimum-curvature problem) or fully
// defined (every node is an anchor, so the solves are cheap).
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <cmath>
#include <random>

#include "zorvastatic/gridder/stack_resolve.hpp"

namespace {

using zorvastatic::ControlPoint;
using zorvastatic::HorizonStack;
using zorvastatic::StackHorizon;

constexpr std::size_t kNodes = 201;

double structure(std::size_t i, std::size_t j) {
  const double x = static_cast<double>(i) / kNodes;
  const double y = static_cast<double>(j) / kNodes;
  return 2000 + 60 * x - 35 * y + 25 * std::sin(5 * x) * std::cos(4 * y);
}

// Thickness of horizon h below the top, thickening eastwards.
double below_top(std::size_t h, std::size_t i) {
  return 25.0 * static_cast<double>(h) * (1 + 0.3 * static_cast<double>(i) / kNodes);
}

HorizonStack bench_stack(bool sparse) {
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<std::size_t> node(0, kNodes - 1);
  std::vector<bool> interpreted(kNodes * kNodes, !sparse);
  for (int n = 0; sparse && n < 150; ++n) interpreted[node(rng) + kNodes * node(rng)] = true;
  std::vector<std::pair<std::size_t, std::size_t>> wells;
  for (int w = 0; w < 12; ++w) wells.emplace_back(node(rng), node(rng));

  const auto mapped = [&](const char* name, std::size_t h) {
    std::vector<double> grid(kNodes * kNodes, std::nan(""));
    for (std::size_t j = 0; j < kNodes; ++j) {
      for (std::size_t i = 0; i < kNodes; ++i) {
        if (interpreted[i + kNodes * j]) grid[i + kNodes * j] = structure(i, j) + below_top(h, i);
      }
    }
    return StackHorizon::mapped(name, std::move(grid), kNodes, kNodes);
  };
  const auto tops = [&](const char* name, double h) {
    std::vector<ControlPoint> picks;
    for (const auto& [i, j] : wells) {
      picks.push_back(
          {i, j, structure(i, j) + 25 * h * (1 + 0.3 * static_cast<double>(i) / kNodes)});
    }
    return StackHorizon::tops_only(name, std::move(picks));
  };
  return {{mapped("M0", 0), tops("T0", 0.5), mapped("M1", 1), mapped("M2", 2), tops("T1", 2.5),
           mapped("M3", 3), mapped("M4", 4), tops("T2", 4.6)},
          {}};
}

// Arguments: worker threads, sparse (1) or fully defined (0) mapped horizons.
void BM_ResolveStack(benchmark::State& state) {
  const auto threads = static_cast<std::size_t>(state.range(0));
  const HorizonStack stack = bench_stack(state.range(1) == 1);
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
  for (auto _ : state) {
    auto resolved = zorvastatic::resolve_stack_surfaces(stack, kNodes, kNodes, {});
    if (!resolved) {
      state.SkipWithError("resolution failed");
      return;
    }
    benchmark::DoNotOptimize(resolved);
  }
}
BENCHMARK(BM_ResolveStack)
    ->ArgNames({"threads", "sparse"})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
