// Cell volumes over a box grid: the per-cell kernel every volume computation shares.
#include <benchmark/benchmark.h>

#include "zorvastatic/grid/box_construction.hpp"

namespace {

void BM_CellVolumeVerticalBox(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  auto grid = zorvastatic::build_box({1e6, 50, n, n, 10, 2000, 1});
  const auto& geom = grid->geom;
  const std::size_t cells = geom.dims().cell_count();
  for (auto _ : state) {
    double total = 0;
    for (std::size_t c = 0; c < cells; ++c) total += geom.cell_volume_at(c);
    benchmark::DoNotOptimize(total);
  }
  state.counters["cells_per_s"] =
      benchmark::Counter(static_cast<double>(cells), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CellVolumeVerticalBox)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);

}  // namespace
