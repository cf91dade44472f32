// In-place volumetrics over an in-memory grid of 20 million cells, set against the machine's
// memory bandwidth for the 88 bytes each cell reads (8 corner depths, PORO, NTG, SW); and the
// build of a 500 x 500 x 50 flat model.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "zorvastatic/grid/box_construction.hpp"
#include "zorvastatic/model/flat_model.hpp"
#include "zorvastatic/model/population.hpp"
#include "zorvastatic/volumetrics/volumetrics.hpp"
#include "zorvatools/foundation/large_array.hpp"

namespace {

using namespace zorvastatic;
using zorvatools::large_array;

constexpr double kBytesPerCell = 88;

const Grid& big_grid() {
  static const Grid grid = [] {
    Grid g = *build_box({1e8, 80, 500, 500, 80, 2000, 1});  // 20 million cells
    (void)populate(g, {0.25, 0.8, 0.3}, std::nullopt, std::nullopt, std::nullopt);
    return g;
  }();
  return grid;
}

void BM_InPlaceVolumetrics(benchmark::State& state) {
  const Grid& grid = big_grid();
  const ContactSpec spec = ContactSpec::two_contacts(2020, 2060);
  for (auto _ : state) {
    auto result = grid_volumetrics(grid, spec, 0, grid.dims().nk, false);
    benchmark::DoNotOptimize(result);
  }
  const auto cells = static_cast<double>(grid.dims().cell_count());
  state.counters["cells_per_s"] =
      benchmark::Counter(cells, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes_per_s"] =
      benchmark::Counter(cells * kBytesPerCell, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_InPlaceVolumetrics)->Unit(benchmark::kMillisecond)->UseRealTime();

// Memory bandwidth of a STREAM-style triad a = b + s * c over arrays far larger than the caches:
// reads 16 bytes and writes 8 per element. Every bandwidth kernel's arrays sit on the same kind
// of pages as the grid's.
void BM_MemoryTriad(benchmark::State& state) {
  const std::size_t n = 40'000'000;
  std::vector<double> a = large_array(n, 0.0), b = large_array(n, 1.0), c = large_array(n, 2.0);
  for (auto _ : state) {
    for (std::size_t i = 0; i < n; ++i) a[i] = b[i] + 3.0 * c[i];
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
  state.counters["bytes_per_s"] = benchmark::Counter(24.0 * static_cast<double>(n),
                                                     benchmark::Counter::kIsIterationInvariantRate);
  state.counters["cells_per_s_bound"] = benchmark::Counter(
      24.0 * static_cast<double>(n) / kBytesPerCell, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MemoryTriad)->Unit(benchmark::kMillisecond)->UseRealTime();

// Memory bandwidth of a plain copy (reads 8 bytes, writes 8 per element).
void BM_MemoryCopy(benchmark::State& state) {
  const std::size_t n = 40'000'000;
  std::vector<double> a = large_array(n, 0.0), b = large_array(n, 1.0);
  for (auto _ : state) {
    std::copy(b.begin(), b.end(), a.begin());
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
  state.counters["bytes_per_s"] = benchmark::Counter(16.0 * static_cast<double>(n),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MemoryCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

// Memory bandwidth of a plain read, the access the volumetrics make: 8 bytes per element,
// folded into eight independent words so that nothing but the reading limits the loop.
void BM_MemoryRead(benchmark::State& state) {
  const std::size_t n = 80'000'000;
  std::vector<std::uint64_t> a = large_array(n, std::uint64_t{1});
  for (auto _ : state) {
    std::uint64_t fold[8] = {};
    for (std::size_t i = 0; i < n; i += 8) {
      for (std::size_t lane = 0; lane < 8; ++lane) fold[lane] ^= a[i + lane];
    }
    benchmark::DoNotOptimize(fold);
  }
  state.counters["bytes_per_s"] = benchmark::Counter(8.0 * static_cast<double>(n),
                                                     benchmark::Counter::kIsIterationInvariantRate);
  state.counters["cells_per_s_bound"] = benchmark::Counter(
      8.0 * static_cast<double>(n) / kBytesPerCell, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MemoryRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BuildFlatModel500x500x50(benchmark::State& state) {
  for (auto _ : state) {
    auto builder = flat_model_builder({.n = 501, .nk = 50});
    auto model = std::move(*builder).build();
    benchmark::DoNotOptimize(model);
  }
  state.counters["cells"] = 500.0 * 500 * 50;
}
BENCHMARK(BM_BuildFlatModel500x500x50)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
namespace {

// The same computation over 8,000 cells that stay in the second-level cache: the rate of the
// arithmetic alone, without the wait for memory.
void BM_InPlaceVolumetricsInCache(benchmark::State& state) {
  static const Grid grid = [] {
    Grid g = *build_box({1e6, 80, 500, 2, 8, 2000, 1});
    (void)populate(g, {0.25, 0.8, 0.3}, std::nullopt, std::nullopt, std::nullopt);
    return g;
  }();
  const ContactSpec spec = ContactSpec::two_contacts(2020, 2060);
  for (auto _ : state) {
    auto result = grid_volumetrics(grid, spec, 0, grid.dims().nk, false);
    benchmark::DoNotOptimize(result);
  }
  state.counters["cells_per_s"] = benchmark::Counter(static_cast<double>(grid.dims().cell_count()),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_InPlaceVolumetricsInCache)->UseRealTime();

}  // namespace
