// in_place() over a model held in a store (out of core) against the read bound of that store:
// a flat 500 x 500 x 100 model (25 M cells, 44 bytes a cell in the store) streamed into a store in
// the system's temporary directory, read while the store is in the page cache.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "zorvastatic/model/flat_model.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/spill/backing.hpp"
#include "zorvastatic/volumetrics/volumetrics.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {
namespace {

const StaticModel& spilled_model() {
  static const std::unique_ptr<StaticModel> model = [] {
    auto builder = flat_model_builder({.n = 501, .nk = 100});
    if (!builder) zorvatools::internal_fault("bench model parameters");
    builder->spill_budget_bytes = 0;
    auto built = std::move(*builder).build();
    if (!built || !built->spilled()) zorvatools::internal_fault("bench model did not spill");
    return std::make_unique<StaticModel>(std::move(*built));
  }();
  return *model;
}

void BM_SpilledInPlace(benchmark::State& state) {
  const StaticModel& model = spilled_model();
  for (auto _ : state) {
    auto result = model.in_place_impl(false);
    benchmark::DoNotOptimize(result);
  }
  state.counters["cells_per_s"] =
      benchmark::Counter(25e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SpilledInPlace)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole store read once through the process's mapping, eight independent words at a time,
// in cells per second (44 bytes a cell).
void BM_SpilledReadBound(benchmark::State& state) {
  const std::span<const std::byte> file = spilled_model().spill->store().file_bytes();
  const auto* words = reinterpret_cast<const std::uint64_t*>(file.data());
  const std::size_t n = file.size() / 8 / 8 * 8;
  for (auto _ : state) {
    std::uint64_t fold[8] = {};
    for (std::size_t i = 0; i < n; i += 8) {
      for (std::size_t w = 0; w < 8; ++w) fold[w] ^= words[i + w];
    }
    benchmark::DoNotOptimize(fold);
  }
  state.counters["cells_per_s"] = benchmark::Counter(
      static_cast<double>(n * 8) / 44.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SpilledReadBound)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zorvastatic
