#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <cmath>
#include <limits>

#include "grid_fixtures.hpp"
#include "test_support.hpp"
#include "zorvastatic/model/builder.hpp"
#include "zorvastatic/model/flat_model.hpp"
#include "zorvastatic/model/pipeline_apply.hpp"

namespace zorvastatic {
namespace {

using testing::box_grid;

// 6 x 5 columns of 50 m, 4 layers of 5 m from 2000 m; column centres at 25, 75, ...
Grid grid() {
  return box_grid(6, 5, 4, 50, 50, 2000, 20);
}

Gaussian gaussian(std::uint64_t seed = 7) {
  Gaussian step;
  step.variogram = zorvatools::AnisotropicVariogram{
      0, 1, 200, 200, 10, 0, zorvatools::VariogramModel::Spherical};
  step.seed = seed;
  return step;
}

// Wells through every layer at three columns, with values varying by layer.
PropertyPipeline pipeline(Gaussian step, std::vector<WellLog> wells = {}) {
  if (wells.empty()) {
    wells = {WellLog{{{2002, 0.1}, {2007, 0.2}, {2012, 0.3}, {2017, 0.15}}, 25, 25},
             WellLog{{{2002, 0.3}, {2007, 0.25}, {2012, 0.1}, {2017, 0.35}}, 275, 225},
             WellLog{{{2002, 0.2}, {2007, 0.05}, {2012, 0.2}, {2017, 0.25}}, 125, 175}};
  }
  PropertyPipeline p =
      PropertyPipeline::upscale_only("PORO", std::move(wells), UpscaleMethod::Arithmetic);
  p.gaussian = std::move(step);
  return p;
}

std::vector<double> simulate(const PropertyPipeline& p) {
  Grid g = grid();
  auto report = apply_with_georef(p, g, std::nullopt);
  EXPECT_TRUE(report) << report.error().display();
  EXPECT_TRUE(report->simulated);
  return g.properties.get("PORO")->values;
}

TEST(PropagateSgs, FillsEveryCellHonouringDataWithinTheDataRange) {
  const std::vector<double> values = simulate(pipeline(gaussian()));
  const Dims dims{6, 5, 4};
  for (double v : values) {
    ASSERT_TRUE(std::isfinite(v));
    EXPECT_GE(v, 0.05);
    EXPECT_LE(v, 0.35);
  }
  EXPECT_DOUBLE_EQ(values[dims.linear(0, 0, 0)], 0.1);
  EXPECT_DOUBLE_EQ(values[dims.linear(5, 4, 3)], 0.35);
  EXPECT_DOUBLE_EQ(values[dims.linear(2, 3, 1)], 0.05);
}

TEST(PropagateSgs, SameSeedSameCubeWhateverTheThreadCount) {
  const PropertyPipeline p = pipeline(gaussian(11));
  std::vector<double> one_thread;
  {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, 1);
    one_thread = simulate(p);
  }
  EXPECT_EQ(simulate(p), one_thread);
  EXPECT_NE(simulate(pipeline(gaussian(12))), one_thread);
}

TEST(PropagateSgs, LayerSeedsFollowTheAbsoluteLayerIndex) {
  EXPECT_EQ(layer_seed(0, 0), 0x9E3779B97F4A7C15ull);
  EXPECT_EQ(layer_seed(5, 1), 5ull ^ (2 * 0x9E3779B97F4A7C15ull));
  EXPECT_EQ(layer_seed(1, std::numeric_limits<std::uint64_t>::max()), 1ull);  // wraps to 0
}

TEST(PropagateSgs, UnpenetratedLayersFailOrTakeTheMean) {
  // Samples in layers 0 and 2 only.
  const std::vector<WellLog> wells = {WellLog{{{2002, 0.1}, {2012, 0.3}}, 25, 25}};
  Grid g = grid();
  auto failed = apply_with_georef(pipeline(gaussian(), wells), g, std::nullopt);
  ASSERT_FALSE(failed);
  EXPECT_TRUE(failed.error().display().starts_with(
      "invalid input: property 'PORO': simulated layer 1 has no conditioning data — a silent "
      "constant mean-fill would erase its spatial structure."));
  EXPECT_EQ(g.properties.get("PORO"), nullptr);  // nothing stored

  Gaussian filled = gaussian();
  filled.allow_mean_fill = true;
  ASSERT_OK(apply_with_georef(pipeline(filled, wells), g, std::nullopt));
  const auto& values = g.properties.get("PORO")->values;
  for (std::size_t c = 30; c < 60; ++c) EXPECT_DOUBLE_EQ(values[c], 0.2);   // layer 1
  for (std::size_t c = 90; c < 120; ++c) EXPECT_DOUBLE_EQ(values[c], 0.2);  // layer 3
}

TEST(PropagateSgs, NoInformedCellInTheRange) {
  Grid g = grid();
  std::vector<double> output(g.dims().cell_count(), -1.0);
  std::vector<double> upscaled(g.dims().cell_count(), std::numeric_limits<double>::quiet_NaN());
  upscaled[0] = 0.2;  // layer 0 only
  auto status =
      propagate_sgs_into(g, "NTG", upscaled, 1, 4, pipeline(gaussian()), output, std::nullopt);
  ASSERT_FALSE(status);
  EXPECT_TRUE(status.error().display().starts_with(
      "invalid input: property 'NTG': no conditioning data in the simulated range (upscale "
      "produced no informed cells)"));
  EXPECT_EQ(output, std::vector<double>(g.dims().cell_count(), -1.0));
}

TEST(PropagateSgs, OnlyTheRangeIsWritten) {
  Grid g = grid();
  std::vector<double> upscaled(g.dims().cell_count(), 0.2);
  std::vector<double> output(g.dims().cell_count(), -1.0);
  ASSERT_OK(
      propagate_sgs_into(g, "NTG", upscaled, 1, 3, pipeline(gaussian()), output, std::nullopt));
  for (std::size_t c = 0; c < output.size(); ++c) {
    const std::size_t k = c / 30;
    EXPECT_EQ(output[c], k == 1 || k == 2 ? 0.2 : -1.0) << c;
  }
}

TEST(PropagateSgs, TrendMustCoverHalfTheColumns) {
  Gaussian step = gaussian();
  TrendSurface far;
  far.values.assign(4, 1.0);
  far.nx = far.ny = 2;
  far.origin_x = 1e7;
  far.spacing_x = far.spacing_y = 10;
  far.frame = TrendSurface::Frame::World;
  step.trend = far;
  Grid g = grid();
  auto failed = apply_with_georef(pipeline(step), g, std::nullopt);
  ASSERT_FALSE(failed);
  EXPECT_TRUE(failed.error().display().starts_with(
      "invalid input: collocated trend covers only 0/30 areal nodes (< 50% of the model frame)"));

  TrendSurface degenerate = far;
  degenerate.spacing_x = 0;
  step.trend = degenerate;
  EXPECT_ERROR_TEXT(apply_with_georef(pipeline(step), g, std::nullopt),
                    "grid error: trend resample failed: invalid geometry: resample: degenerate "
                    "source geometry (empty grid or zero node spacing)");

  TrendSurface local;  // a local 3 x 3 trend stretched over the columns
  local.values = {1, 2, 3, 2, 3, 4, 3, 4, 5};
  local.nx = local.ny = 3;
  step.trend = local;
  step.collocated_rho = 0.6;
  ASSERT_OK(apply_with_georef(pipeline(step), g, std::nullopt));
}

TEST(PropagateSgs, SgsFailuresNameTheLayer) {
  Gaussian step = gaussian();
  step.search = NeighbourSearch{0, 100};
  Grid g = grid();
  EXPECT_ERROR_TEXT(apply_with_georef(pipeline(step), g, std::nullopt),
                    "grid error: SGS propagate failed on layer 0: invalid argument: sgs: need "
                    "max_neighbours >= 1 and radius > 0");
  Grid column = *build_box({100, 10, 1, 5, 2, 0, 0.04});
  EXPECT_ERROR_TEXT(apply_with_georef(pipeline(gaussian()), column, std::nullopt),
                    "invalid input: property pipeline needs an areal lattice of at least 2x2 "
                    "columns, got 1x5");
}

TEST(ZonePipelines, GaussianZonePipelineSimulatesOnlyItsZone) {
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder builder, flat_model_builder({.n = 6, .nk = 4}));
  // Layers of 12.5 m from 2000 m; one well samples every layer.
  PropertyPipeline zone_pipe = PropertyPipeline::upscale_only(
      "PORO", {WellLog{{{2005, 0.1}, {2018, 0.3}, {2030, 0.2}, {2045, 0.4}}, 100, 100}},
      UpscaleMethod::Arithmetic);
  zone_pipe.gaussian = gaussian();
  builder.zone_pipelines.push_back({"RESERVOIR", zone_pipe});
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(builder).build());
  ASSERT_EQ(model.provenance.property_reports.size(), 1u);
  EXPECT_TRUE(model.provenance.property_reports[0].simulated);
  for (double v : model.grid.properties.get("PORO")->values) {
    EXPECT_GE(v, 0.1);
    EXPECT_LE(v, 0.4);
  }
}

}  // namespace
}  // namespace zorvastatic
