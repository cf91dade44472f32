// Layering a proportional zone into a corner-point grid, in memory and plane by plane.
#include <benchmark/benchmark.h>

#include <cmath>

#include "zorvastatic/gridder/layering.hpp"

namespace {

zorvastatic::Surface wavy(std::size_t nx, std::size_t ny, double depth, double amplitude) {
  std::vector<double> v(nx * ny);
  for (std::size_t j = 0; j < ny; ++j) {
    for (std::size_t i = 0; i < nx; ++i) {
      v[i + nx * j] = depth + amplitude * std::sin(0.01 * static_cast<double>(i)) *
                                  std::cos(0.013 * static_cast<double>(j));
    }
  }
  return zorvastatic::Surface(nx, ny, std::move(v));
}

// Cells ni x nj x nk = state.range(0)^2 x state.range(1).
void BM_LayerGridStackProportional(benchmark::State& state) {
  const auto cells_per_side = static_cast<std::size_t>(state.range(0));
  const auto nk = static_cast<std::size_t>(state.range(1));
  const std::size_t nodes = cells_per_side + 1;
  const zorvastatic::Surface top = wavy(nodes, nodes, 2000, 20);
  const zorvastatic::Surface base = wavy(nodes, nodes, 2100, -15);
  const zorvastatic::Surface* surfaces[2] = {&top, &base};
  const zorvastatic::ZoneLayerSpec spec{zorvastatic::Conformity::proportional(), nk};
  std::size_t cells = 0;
  for (auto _ : state) {
    auto report = zorvastatic::layer_grid_stack(surfaces, {&spec, 1}, std::nullopt, 50, 50);
    if (!report) {
      state.SkipWithError("layering failed");
      return;
    }
    cells = report->grid.dims().cell_count();
    benchmark::DoNotOptimize(report);
  }
  state.counters["cells_per_s"] =
      benchmark::Counter(static_cast<double>(cells), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LayerGridStackProportional)
    ->Args({100, 20})
    ->Args({500, 100})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_StreamingFillPlanes(benchmark::State& state) {
  const auto cells_per_side = static_cast<std::size_t>(state.range(0));
  const auto nk = static_cast<std::size_t>(state.range(1));
  const std::size_t nodes = cells_per_side + 1;
  const zorvastatic::Surface top = wavy(nodes, nodes, 2000, 20);
  const zorvastatic::Surface base = wavy(nodes, nodes, 2100, -15);
  auto layering = zorvastatic::StreamingLayering::prepare(
      top, base, {zorvastatic::Conformity::proportional(), nk}, 50, 50);
  if (!layering) {
    state.SkipWithError("prepare failed");
    return;
  }
  std::vector<double> plane(nodes * nodes);
  for (auto _ : state) {
    for (std::size_t k = 0; k <= nk; ++k) {
      layering->fill_plane(k, plane);
      benchmark::DoNotOptimize(plane.data());
    }
  }
  state.counters["cells_per_s"] =
      benchmark::Counter(static_cast<double>(layering->dims().cell_count()),
                         benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StreamingFillPlanes)->Args({500, 100})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
