// The three view bundles, built and serialised, over a 200 x 200 x 50 box (two million cells).
#include <benchmark/benchmark.h>

#include <cmath>

#include "zorvastatic/grid/box_construction.hpp"
#include "zorvastatic/model/view/map.hpp"
#include "zorvastatic/model/view/section.hpp"
#include "zorvastatic/model/view/volume.hpp"

namespace {

using namespace zorvastatic;

constexpr std::size_t kN = 200;
constexpr std::size_t kNk = 50;

// 200 x 200 columns of 50 m, 50 layers of 2 m; PORO varies per cell, with a NaN hole in the
// middle so that the shell has an inside.
const StaticModel& bench_model() {
  static const StaticModel model = [] {
    const double side = 50.0 * kN;
    Grid grid = *build_box({side * side, 100, kN, kN, kNk, 2000, 1});
    std::vector<double> poro;
    poro.reserve(grid.dims().cell_count());
    for (const CellIndex& c : grid.dims().iter()) {
      const bool hole = c.i > 80 && c.i < 120 && c.j > 80 && c.j < 120 && c.k > 10 && c.k < 40;
      poro.push_back(hole ? std::nan("")
                          : 0.1 + 0.001 * static_cast<double>((c.i + c.j + c.k) % 97));
    }
    (void)grid.properties.set({"PORO", std::move(poro)});
    return StaticModel{
        .sw_gas = std::nullopt,
        .provenance = {},
        .georef = std::nullopt,
        .sugar_cube = false,
        .wireframe = Wireframe{{{0, 0}, {side, 0}, {side, side}, {0, side}, {0, 0}},
                               {Contact{2050, ContactKind::Owc}},
                               {}},
        .grid = std::move(grid),
        .zone_table = ZoneTable::from_stack({"A", "B", "C"}, {"UPPER", "LOWER"},
                                            {std::nullopt, std::nullopt}, {20, 30}),
        .zone_contacts = std::nullopt,
        .spill = nullptr,
    };
  }();
  return model;
}

void report(benchmark::State& state, std::size_t bytes) {
  state.counters["json_MB"] = static_cast<double>(bytes) / 1e6;
  state.counters["cells"] = static_cast<double>(bench_model().grid.dims().cell_count());
}

void BM_MapBundle(benchmark::State& state) {
  const StaticModel& model = bench_model();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto json = map_bundle(model, {{"PORO"}, 25});
    bytes = json->size();
    benchmark::DoNotOptimize(json);
  }
  report(state, bytes);
}
BENCHMARK(BM_MapBundle)->Unit(benchmark::kMillisecond);

void BM_IntersectionBundle(benchmark::State& state) {
  const StaticModel& model = bench_model();
  const SectionSpec trace = SectionSpec::polyline({{-100, 25}, {10100, 9975}, {25, 9900}});
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto json = intersection_bundle(model, trace, "PORO");
    bytes = json->size();
    benchmark::DoNotOptimize(json);
  }
  report(state, bytes);
}
BENCHMARK(BM_IntersectionBundle)->Unit(benchmark::kMillisecond);

void BM_VolumeBundle(benchmark::State& state) {
  const StaticModel& model = bench_model();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto json = volume_bundle(model, "PORO");
    bytes = json->size();
    benchmark::DoNotOptimize(json);
  }
  report(state, bytes);
}
BENCHMARK(BM_VolumeBundle)->Unit(benchmark::kMillisecond);

}  // namespace
