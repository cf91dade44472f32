// A 100 x 100 x 20 flat model with five wells and a Gaussian step, built with the worker pool
// limited to one thread and to two.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include "zorvastatic/model/flat_model.hpp"

namespace {

using namespace zorvastatic;

PropertyPipeline porosity_pipeline() {
  // Five wells through all twenty 2.5 m layers of a 2000-2050 m column.
  std::vector<WellLog> wells;
  const double xs[5] = {505, 2505, 7505, 4005, 8505};
  const double ys[5] = {505, 7505, 2505, 4995, 9005};
  for (int w = 0; w < 5; ++w) {
    WellLog well{{}, xs[w], ys[w]};
    for (int s = 0; s < 100; ++s) {
      well.samples.push_back({2000.25 + 0.5 * s, 0.15 + 0.01 * ((s * 7 + w * 3) % 11)});
    }
    wells.push_back(std::move(well));
  }
  PropertyPipeline pipeline =
      PropertyPipeline::upscale_only("PORO", std::move(wells), UpscaleMethod::Arithmetic);
  Gaussian step;
  step.variogram = zorvatools::AnisotropicVariogram{
      0, 1, 3000, 1500, 10, 30, zorvatools::VariogramModel::Spherical};
  step.seed = 42;
  pipeline.gaussian = step;
  return pipeline;
}

void BM_FlatModelWithGaussianPipeline(benchmark::State& state) {
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism,
                            static_cast<std::size_t>(state.range(0)));
  const PropertyPipeline pipeline = porosity_pipeline();
  for (auto _ : state) {
    // 101 x 101 nodes over 10 km: 100 x 100 columns of 100 m, 20 layers.
    auto builder = flat_model_builder({.n = 101, .area_m2 = 1e8, .nk = 20});
    builder->pipelines.push_back(pipeline);
    auto model = std::move(*builder).build();
    if (!model) state.SkipWithError(model.error().display().c_str());
    benchmark::DoNotOptimize(model);
  }
  state.counters["threads"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_FlatModelWithGaussianPipeline)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

}  // namespace
