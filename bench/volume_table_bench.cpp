// The in-place table over the 20-million-cell grid of the in-place benchmark (same contacts),
// without regions and with one region id per column: its own pass beside the in-place kernel.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "zorvastatic/grid/box_construction.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/model/population.hpp"
#include "zorvastatic/volumetrics/volume_table.hpp"

namespace {

using namespace zorvastatic;

const StaticModel& big_model() {
  static const StaticModel model = [] {
    Grid grid = *build_box({1e8, 80, 500, 500, 80, 2000, 1});  // 20 million cells
    (void)populate(grid, {0.25, 0.8, 0.3}, std::nullopt, std::nullopt, std::nullopt);
    StaticModel m{
        .sw_gas = std::nullopt,
        .provenance = {},
        .georef = std::nullopt,
        .sugar_cube = false,
        .wireframe = {{}, {{2020, ContactKind::Goc}, {2060, ContactKind::Owc}}, {}},
        .grid = std::move(grid),
        .zone_table = ZoneTable::single(80),
        .zone_contacts = std::nullopt,
        .spill = nullptr,
    };
    return m;
  }();
  return model;
}

void BM_VolumeTable(benchmark::State& state) {
  const StaticModel& model = big_model();
  const Dims& dims = model.grid.dims();
  std::vector<std::uint32_t> ids(dims.layer_cells());
  for (std::size_t c = 0; c < ids.size(); ++c) ids[c] = static_cast<std::uint32_t>(c % 7);
  const RegionIds regions = state.range(0) == 0 ? RegionIds{} : RegionIds{ids, false, 7};
  for (auto _ : state) {
    auto table = volume_table(model, regions);
    benchmark::DoNotOptimize(table);
  }
  state.counters["cells_per_s"] = benchmark::Counter(static_cast<double>(dims.cell_count()),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VolumeTable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
