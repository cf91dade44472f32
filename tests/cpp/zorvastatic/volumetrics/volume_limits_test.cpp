// Volumes at the edges of what a double holds: overflow fails, a collapsed cell is exactly 0.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "test_support.hpp"
#include "zorvastatic/grid/row_volumes.hpp"
#include "zorvastatic/model/flat_model.hpp"
#include "zorvastatic/model/population.hpp"
#include "zorvastatic/spill/spill.hpp"
#include "zorvastatic/volumetrics/fvf.hpp"
#include "zorvastatic/volumetrics/volumetrics.hpp"

namespace zorvastatic {
namespace {

namespace fs = std::filesystem;

// ni x nj x 1 cells on vertical pillars `spacing` apart, 10 m thick from `top`, with the
// flat model's priors.
Grid spaced_grid(std::size_t ni, std::size_t nj, double spacing, double top = 2000) {
  std::vector<Pillar> pillars;
  for (std::size_t pj = 0; pj <= nj; ++pj) {
    for (std::size_t pi = 0; pi <= ni; ++pi) {
      const double x = spacing * static_cast<double>(pi);
      const double y = spacing * static_cast<double>(pj);
      pillars.push_back({{x, y, top}, {x, y, top + 10}});
    }
  }
  std::vector<double> zcorn;
  for (std::size_t c = 0; c < ni * nj; ++c) {
    for (int n = 0; n < 8; ++n) zcorn.push_back(n < 4 ? top : top + 10);
  }
  Grid grid{CornerPointGeom(Dims{ni, nj, 1}, std::move(pillars), std::move(zcorn)),
            {},
            Properties(ni * nj)};
  EXPECT_TRUE(populate(grid, {0.25, 0.8, 0.3}, std::nullopt, std::nullopt, std::nullopt));
  return grid;
}

const ContactSpec kSpecs[] = {ContactSpec::single(2100), ContactSpec::two_contacts(2001, 2100),
                              ContactSpec::no_contact()};

TEST(VolumeLimits, ACellWhoseVolumeOverflowsFailsInsteadOfDroppingOut) {
  const Grid grid = spaced_grid(3, 2, 1e160);  // 1e320 m³ per cell
  for (const ContactSpec& spec : kSpecs) {
    EXPECT_ERROR_TEXT(grid_volumetrics(grid, spec, 0, 1, false),
                      "outside validity range: cell (0, 0, 0) has no finite volume: the products "
                      "of its corner coordinates overflow");
  }
  // Below the contact the cell never counts, so its volume does not matter.
  ASSERT_OK_AND_ASSIGN(const InPlace below,
                       grid_volumetrics(grid, ContactSpec::single(1000), 0, 1, true));
  EXPECT_EQ(below.cells, 0u);
  EXPECT_EQ(below.grv_m3, 0);
}

TEST(VolumeLimits, SumsThatOverflowFail) {
  // Each cell holds 2.25e307 m³ (six times that is still finite): not sixteen together.
  const Grid grid = spaced_grid(4, 4, 1.5e153);
  ASSERT_TRUE(std::isfinite(grid.geom.cell_volume_at(0)));
  for (const ContactSpec& spec : kSpecs) {
    EXPECT_ERROR_TEXT(grid_volumetrics(grid, spec, 0, 1, false),
                      "outside validity range: gross rock volume exceeds the largest "
                      "representable volume (about 1.8e308 m³)");
  }
  const Grid one_row = spaced_grid(1, 1, 1.5e153);
  ASSERT_OK_AND_ASSIGN(const InPlace single,
                       grid_volumetrics(one_row, ContactSpec::single(2100), 0, 1, false));
  EXPECT_TRUE(std::isfinite(single.hcpv_m3));
  ASSERT_OK_AND_ASSIGN(const GasFvf bgi, GasFvf::create(0.001));
  EXPECT_ERROR_TEXT(bgi.stock_tank_volume(single.hcpv_m3),
                    "outside validity range: gas in place (HCPV / Bgi, Bgi 0.001) exceeds the "
                    "largest representable volume (about 1.8e308 Sm³)");
  ASSERT_OK_AND_ASSIGN(const double gas, bgi.stock_tank_volume(5));
  EXPECT_EQ(gas, 5 / 0.001);
}

class VolumeLimitsModel : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zv-limits-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  Result<StaticModel> build(const FlatModelParams& params, bool spilled,
                            const std::function<void(StaticModelBuilder&)>& configure = {}) {
    ZV_ASSIGN_OR_RETURN(StaticModelBuilder builder, flat_model_builder(params));
    builder.spill_dir = dir_;
    if (spilled) builder.spill_budget_bytes = 0;
    if (configure) configure(builder);
    return std::move(builder).build();
  }

  fs::path dir_;
};

TEST_F(VolumeLimitsModel, AnOverflowingFlatModelReportsNoVolumeInMemoryOrSpilled) {
  FlatModelParams params;
  params.n = 10;
  params.area_m2 = 1e300;
  params.gross_height_m = 1e300;
  params.depth_m = 0;
  params.owc_m = 1e300;
  params.net_to_gross = 0;
  for (const bool spilled : {false, true}) {
    ASSERT_OK_AND_ASSIGN(const StaticModel model, build(params, spilled));
    ASSERT_EQ(model.spilled(), spilled);
    const std::string overflow =
        "outside validity range: cell (0, 0, 0) has no finite volume: the products of its corner "
        "coordinates overflow";
    if (!spilled) {  // 32-bit depths in the store cannot even hold the base
      EXPECT_ERROR_TEXT(model.in_place_impl(true), overflow);
      EXPECT_ERROR_TEXT(model.bulk_volume(), overflow);
      EXPECT_ERROR_TEXT(model.in_place_by_zone(), overflow);
    }
    for (const auto& in_place : {model.in_place_impl(false), model.in_place_impl(true)}) {
      if (!in_place) continue;
      EXPECT_TRUE(std::isfinite(in_place->grv_m3) && std::isfinite(in_place->hcpv_m3));
    }
  }
}

// Pinched layers: cells whose four pillars have no thickness have volume 0 exactly, so a model
// counts the same cells in memory and spilled (32-bit depths).
TEST_F(VolumeLimitsModel, PinchedCellsCountTheSameInMemoryAndSpilled) {
  FlatModelParams params;
  params.n = 21;
  params.area_m2 = 777777;  // columns of 44.096... m
  const auto wedge = [](StaticModelBuilder& b) {
    b.spec.conformity = Conformity::top_conform(1.7);
    // A curved base from the top at i = 0 down to 30 m below it, on which the layers run out.
    std::vector<ControlPoint> base;
    for (std::size_t j = 0; j < 21; ++j) {
      for (std::size_t i = 0; i < 21; ++i) {
        const auto x = static_cast<double>(i);
        const auto y = static_cast<double>(j);
        base.push_back({i, j, 2000 + 0.06 * x * x + 0.2 * y + 0.01 * x * y});
      }
    }
    b.base_controls = std::move(base);
  };
  ASSERT_OK_AND_ASSIGN(const StaticModel memory, build(params, false, wedge));
  ASSERT_OK_AND_ASSIGN(const StaticModel spilled, build(params, true, wedge));
  ASSERT_TRUE(spilled.spilled());
  // The layering's own count of cells without thickness, in memory and on the streaming road.
  const auto pinched = [](const StaticModel& model) {
    for (const BuildWarning& warning : model.provenance.warnings) {
      if (warning.kind == BuildWarning::Kind::PinchedCells) return warning.count;
    }
    return std::size_t{0};
  };
  const std::size_t cells = memory.grid.dims().cell_count();
  ASSERT_EQ(pinched(memory), pinched(spilled));
  ASSERT_GT(pinched(memory), 0u);
  ASSERT_LT(pinched(memory), cells);
  ASSERT_OK_AND_ASSIGN(const InPlace in_memory, memory.in_place_impl(false));
  ASSERT_OK_AND_ASSIGN(const InPlace out_of_core, spilled.in_place_impl(false));
  EXPECT_EQ(in_memory.cells, cells - pinched(memory));
  EXPECT_EQ(out_of_core.cells, cells - pinched(memory));
  EXPECT_NEAR(out_of_core.grv_m3, in_memory.grv_m3, 1e-6 * in_memory.grv_m3);
}

TEST(CollapsedCells, HaveVolumeExactlyZeroByEveryRoad) {
  std::mt19937_64 random(17);
  std::uniform_real_distribution<double> jitter(-3.0, 3.0);
  const std::size_t ni = 64;
  std::vector<Pillar> pillars;
  for (std::size_t pj = 0; pj <= 1; ++pj) {
    for (std::size_t pi = 0; pi <= ni; ++pi) {
      const double x = 100.0 * static_cast<double>(pi) + jitter(random);
      const double y = 100.0 * static_cast<double>(pj) + jitter(random);
      pillars.push_back({{x, y, 1900}, {x, y, 2100}});
    }
  }
  // Warped faces, every top corner on its bottom corner.
  std::vector<double> zcorn;
  for (std::size_t i = 0; i < ni; ++i) {
    double top[4];
    for (double& z : top) z = 2000 + jitter(random);
    zcorn.insert(zcorn.end(), top, top + 4);
    zcorn.insert(zcorn.end(), top, top + 4);
  }
  const CornerPointGeom geom(Dims{ni, 1, 1}, pillars, zcorn);
  const PillarTops tops(geom.pillars());
  RowVolumes rows(ni);
  rows.compute(tops, 0, zcorn.data());
  std::vector<float> narrow(zcorn.begin(), zcorn.end());
  RowVolumes narrow_rows(ni);
  narrow_rows.compute(tops, 0, narrow.data());
  for (std::size_t i = 0; i < ni; ++i) {
    EXPECT_EQ(geom.cell_volume_at(i), 0) << "cell " << i;
    EXPECT_EQ(std::fabs(hexahedron_volume(geom.cell_corners({i, 0, 0}))), 0) << "cell " << i;
    EXPECT_EQ(rows.volume(i), 0) << "cell " << i;
    EXPECT_EQ(narrow_rows.volume(i), 0) << "cell " << i;
  }
  // Leaning pillars: a depth names one point of a pillar, so the cell still collapses.
  std::vector<Pillar> leaning = pillars;
  for (Pillar& p : leaning) p.bottom.x += 40;
  const CornerPointGeom leaning_geom(Dims{ni, 1, 1}, leaning, zcorn);
  for (std::size_t i = 0; i < ni; ++i) EXPECT_EQ(leaning_geom.cell_volume_at(i), 0);
}

}  // namespace
}  // namespace zorvastatic
