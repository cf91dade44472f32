#include "zorvastatic/spill/spill.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "test_support.hpp"
#include "zorvastatic/model/flat_model.hpp"
#include "zorvastatic/model/view/map.hpp"
#include "zorvastatic/model/view/section.hpp"
#include "zorvastatic/model/view/volume.hpp"
#include "zorvastatic/spill/spill_path.hpp"
#include "zorvastatic/volumetrics/volumetrics.hpp"
#include "zorvatools/store/reader.hpp"

namespace zorvastatic {
namespace {

namespace fs = std::filesystem;

class SpillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zv-spill-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::vector<fs::path> sorted(std::vector<fs::path> paths) {
    std::ranges::sort(paths);
    return paths;
  }

  std::vector<fs::path> files() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      if (entry.is_regular_file()) found.push_back(entry.path());
    }
    return found;
  }

  // The flat model builder with its spill settings pointed at this test's directory.
  StaticModelBuilder builder(FlatModelParams params = {}) {
    auto made = flat_model_builder(params);
    EXPECT_TRUE(made);
    made->spill_dir = dir_ / "nested" / "spill";
    return std::move(*made);
  }

  fs::path dir_;
};

// A whole-grid pipeline keeps the build off the streaming road.
void add_pipeline(StaticModelBuilder& b) {
  b.pipelines.push_back(PropertyPipeline::upscale_only("KX", {WellLog{{{2005, 0.5}}, 150, 150}},
                                                       UpscaleMethod::Arithmetic));
}

TEST(SpillEstimates, BytesPerCellAndSaturation) {
  EXPECT_EQ(in_memory_estimate({10, 10, 5}, 3), 176u * 500);
  EXPECT_EQ(streaming_estimate(500), 176u * 500);
  EXPECT_EQ(streaming_estimate(std::uint64_t{1} << 62), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(in_memory_estimate({1u << 30, 1u << 30, 1u << 30}, 3),
            std::numeric_limits<std::uint64_t>::max());
}

// The sequence number of a name "zorvastatic-spill-{pid}-{seq}-{nanos}.zts", checking its shape.
std::uint64_t spill_sequence_of(const fs::path& path) {
  const std::string name = path.filename().string();
  const std::string prefix = "zorvastatic-spill-" + std::to_string(getpid()) + "-";
  EXPECT_TRUE(name.starts_with(prefix) && name.ends_with(".zts")) << name;
  const std::string rest = name.substr(prefix.size(), name.size() - prefix.size() - 4);
  const std::size_t dash = rest.find('-');
  EXPECT_NE(dash, std::string::npos) << name;
  const std::string seq = rest.substr(0, dash);
  const std::string nanos = rest.substr(dash + 1);
  EXPECT_TRUE(!nanos.empty() && nanos.find_first_not_of("0123456789") == std::string::npos);
  return std::stoull(seq);
}

TEST(SpillPath, SequenceNumbersAndNameShape) {
  const fs::path first = unique_spill_path("/some/dir");
  const fs::path second = unique_spill_path("/some/dir");
  EXPECT_EQ(spill_sequence_of(second), spill_sequence_of(first) + 1);
  EXPECT_EQ(first.parent_path(), "/some/dir");
}

TEST_F(SpillTest, BudgetEqualToTheEstimateStaysInMemoryOneByteLessSpills) {
  StaticModelBuilder kept = builder();
  add_pipeline(kept);
  kept.spill_budget_bytes = in_memory_estimate({10, 10, 5}, 4);
  ASSERT_OK_AND_ASSIGN(StaticModel in_memory, std::move(kept).build());
  EXPECT_FALSE(in_memory.spilled());
  EXPECT_TRUE(files().empty());

  StaticModelBuilder spilled = builder();
  add_pipeline(spilled);
  spilled.spill_budget_bytes = in_memory_estimate({10, 10, 5}, 4) - 1;
  ::testing::internal::CaptureStderr();
  auto model = std::move(spilled).build();
  const std::string notice = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(model) << model.error().display();
  ASSERT_TRUE(model->spilled());
  EXPECT_EQ(model->grid.dims(), (Dims{1, 1, 1}));  // the placeholder
  // The store and, while its model lives, its lock file.
  const fs::path store = dir_ / "nested" / "spill" / model->spill->path().filename();
  EXPECT_EQ(sorted(files()), (std::vector<fs::path>{store, store_lock_path(store)}));
  EXPECT_EQ(notice,
            "zorvastatic: OUT-OF-CORE mode — live-set estimate 0 MiB exceeds budget 0 MiB "
            "(500 cells); spilling geometry + cubes (f32) to " +
                store.string() + "\n");
  EXPECT_EQ(model->property_names(), (std::vector<std::string>{"KX", "NTG", "PORO", "SW"}));
}

TEST_F(SpillTest, StoreLanesAndAppValue) {
  StaticModelBuilder b = builder({.n = 4, .nk = 2});
  add_pipeline(b);
  b.spill_budget_bytes = 0;
  b.keep_spill_file = true;
  ::testing::internal::CaptureStderr();
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(b).build());
  ::testing::internal::GetCapturedStderr();
  ASSERT_OK_AND_ASSIGN(zorvatools::store::Store store, zorvatools::store::open(files().at(0)));
  std::vector<std::string> lanes;
  for (const auto& lane : store.schema().lanes) lanes.push_back(lane.name);
  EXPECT_EQ(lanes, (std::vector<std::string>{"ZCORN", "COORD", "KX", "NTG", "PORO", "SW"}));
  EXPECT_EQ(store.schema().nslabs, 2u);
  EXPECT_EQ(
      store.schema().app_json,
      R"({"cubes":["KX","NTG","PORO","SW"],"kind":"zorvastatic-static-model","ni":3,"nj":3,"nk":2})");
  EXPECT_EQ(store.schema().lanes[0].kind.elems_per_slab(), 8u * 9);
  EXPECT_EQ(store.schema().lanes[1].kind.len(), 6u * 16);
}

TEST_F(SpillTest, UnkeptFileGoesWithTheLastHolderKeptFileStays) {
  for (bool keep : {false, true}) {
    StaticModelBuilder b = builder({.n = 3, .nk = 1});
    b.spill_budget_bytes = 0;
    b.keep_spill_file = keep;
    ::testing::internal::CaptureStderr();
    auto model = std::make_unique<StaticModel>(*std::move(b).build());
    ::testing::internal::GetCapturedStderr();
    const fs::path path = model->spill->path();
    std::shared_ptr<const SpillBacking> reader = model->spill;  // a second holder
    model.reset();
    EXPECT_TRUE(fs::exists(path));
    reader.reset();
    EXPECT_EQ(fs::exists(path), keep);
    if (keep) {
      EXPECT_TRUE(zorvatools::store::open(path));
      fs::remove(path);
    }
  }
}

TEST_F(SpillTest, StreamingRoadMatchesTheInMemoryModel) {
  FlatModelParams params{.n = 6, .owc_m = 2031, .nk = 4, .porosity = 0.21};
  ASSERT_OK_AND_ASSIGN(StaticModel memory, builder(params).build());
  StaticModelBuilder streamed = builder(params);
  streamed.spill_budget_bytes = streaming_estimate(5 * 5 * 4) - 1;
  ::testing::internal::CaptureStderr();
  ASSERT_OK_AND_ASSIGN(StaticModel spilled, std::move(streamed).build());
  const std::string notice = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(spilled.spilled());
  EXPECT_NE(notice.find("(100 cells)"), std::string::npos);
  EXPECT_EQ(spilled.property_names(), (std::vector<std::string>{"NTG", "PORO", "SW"}));
  EXPECT_TRUE(spilled.provenance.warnings.empty());

  ASSERT_OK_AND_ASSIGN(InPlace a, memory.in_place_impl(false));
  ASSERT_OK_AND_ASSIGN(InPlace b, spilled.in_place_impl(false));
  EXPECT_EQ(a.cells, b.cells);
  EXPECT_NEAR(a.grv_m3, b.grv_m3, 1e-6 * a.grv_m3);
  EXPECT_NEAR(a.hcpv_m3, b.hcpv_m3, 1e-6 * a.hcpv_m3);
  EXPECT_NEAR(*memory.bulk_volume(), *spilled.bulk_volume(), 1e-6 * a.grv_m3);
  ASSERT_OK_AND_ASSIGN(ZonedInPlace zoned, spilled.in_place_by_zone());
  EXPECT_EQ(zoned.zones.at(0).in_place.cells, b.cells);

  // The rebuilt grid is the in-memory one rounded to 32-bit floats.
  ASSERT_OK_AND_ASSIGN(Grid rebuilt, spilled.spill->to_in_core_grid());
  EXPECT_EQ(rebuilt.dims(), memory.grid.dims());
  EXPECT_EQ(rebuilt.geom.pillars(), memory.grid.geom.pillars());
  EXPECT_EQ(rebuilt.geom.zcorn(), memory.grid.geom.zcorn());  // depths are exact in f32 here
  EXPECT_EQ(rebuilt.properties.get("PORO")->values[7], static_cast<double>(0.21f));
  EXPECT_NE(rebuilt.properties.get("PORO")->values[7], 0.21);
}

// The store's 32-bit values are widened row by row before the volume kernels run: the sums, the
// phases and the per-cell HCPVs equal those of the in-memory kernels over the grid read back
// from the store, bit for bit. Depths (7 layers over 50 m) and priors are not exact in f32.
class SpilledVolumes : public SpillTest, public testing::WithParamInterface<ContactSpec> {};

TEST_P(SpilledVolumes, EqualTheInMemoryKernelsOverTheStoredValues) {
  StaticModelBuilder b = builder(
      {.n = 9, .nk = 7, .porosity = 0.21, .net_to_gross = 0.83, .water_saturation = 0.31});
  b.spill_budget_bytes = 0;
  ::testing::internal::CaptureStderr();
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(b).build());
  ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(model.spilled());
  ASSERT_OK_AND_ASSIGN(const Grid stored, model.spill->to_in_core_grid());
  const SpillSource source(*model.spill);
  ASSERT_OK_AND_ASSIGN(const InPlace spilled, compute_clipped(source, GetParam(), 0, 7, true));
  ASSERT_OK_AND_ASSIGN(const InPlace memory, grid_volumetrics(stored, GetParam(), 0, 7, true));
  EXPECT_GT(spilled.cells, 0u);
  EXPECT_EQ(spilled.cells, memory.cells);
  EXPECT_EQ(spilled.grv_m3, memory.grv_m3);
  EXPECT_EQ(spilled.hcpv_m3, memory.hcpv_m3);
  for (const auto& [a, b] :
       {std::pair(spilled.gas, memory.gas), std::pair(spilled.oil, memory.oil)}) {
    ASSERT_EQ(a.has_value(), b.has_value());
    if (!a) continue;
    EXPECT_EQ(a->grv_m3, b->grv_m3);
    EXPECT_EQ(a->hcpv_m3, b->hcpv_m3);
    EXPECT_EQ(a->cells, b->cells);
  }
  EXPECT_EQ(spilled.hcpv_cells, memory.hcpv_cells);
}

INSTANTIATE_TEST_SUITE_P(Contacts, SpilledVolumes,
                         testing::Values(ContactSpec::single(2031.3),
                                         ContactSpec::two_contacts(2010.7, 2031.3),
                                         ContactSpec::no_contact()));

TEST_F(SpillTest, BundlesOfASpilledModelReadItsStore) {
  FlatModelParams params{.n = 5, .nk = 5, .porosity = 0.25};
  ASSERT_OK_AND_ASSIGN(StaticModel memory, builder(params).build());
  StaticModelBuilder streamed = builder(params);
  streamed.spill_budget_bytes = 0;
  ::testing::internal::CaptureStderr();
  ASSERT_OK_AND_ASSIGN(StaticModel spilled, std::move(streamed).build());
  ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(spilled.spilled());
  // Depths and these priors are exact in 32-bit floats, so the bundles agree byte for byte.
  EXPECT_EQ(*map_bundle(spilled, {{"PORO"}, 1}), *map_bundle(memory, {{"PORO"}, 1}));
  const SectionSpec trace = SectionSpec::polyline({{10, 500}, {990, 520}});
  EXPECT_EQ(*intersection_bundle(spilled, trace, "PORO"),
            *intersection_bundle(memory, trace, "PORO"));
  EXPECT_EQ(*volume_bundle(spilled, "NTG"), *volume_bundle(memory, "NTG"));
  EXPECT_ERROR_TEXT(volume_bundle(spilled, "KX"), "invalid input: volume_bundle: no property 'KX'");
  EXPECT_EQ(spilled.grid.dims(), (Dims{1, 1, 1}));  // the materialised grid was not kept
}

TEST_F(SpillTest, StreamingCountsPinchedCellsPerLayer) {
  // A Base at the top's depth pinches every cell of the single zone's layers.
  Wireframe wf = *flat_wireframe({.n = 4});
  auto base = std::make_shared<Horizon>(*wf.horizons[0]);
  base->role = HorizonRole::Base;
  wf.horizons.push_back(base);
  ASSERT_OK_AND_ASSIGN(StaticModelBuilder b,
                       StaticModelBuilder::from_wireframe(wf, flat_spec({.n = 4, .nk = 2})));
  b.spill_dir = dir_;
  b.spill_budget_bytes = 0;
  ::testing::internal::CaptureStderr();
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(b).build());
  ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(model.spilled());
  ASSERT_EQ(model.provenance.warnings.size(), 1u);
  EXPECT_EQ(model.provenance.warnings[0].kind, BuildWarning::Kind::PinchedCells);
  EXPECT_EQ(model.provenance.warnings[0].count, 18u);
}

TEST_F(SpillTest, SpilledVolumetricsNeedTheThreeCubesInOrder) {
  StaticModelBuilder b = builder({.n = 3, .nk = 1});
  add_pipeline(b);
  b.spill_budget_bytes = 0;
  ::testing::internal::CaptureStderr();
  ASSERT_OK_AND_ASSIGN(StaticModel model, std::move(b).build());
  ::testing::internal::GetCapturedStderr();
  // Rebuild a backing without NTG (and one without PORO and NTG) from the same store.
  auto without = [&](std::vector<std::string> names) {
    auto store = zorvatools::store::open(model.spill->path());
    return std::make_shared<const SpillBacking>(std::move(*store), model.spill->path(),
                                                model.spill->pillars(), std::move(names), 2, 2, 1,
                                                StoreGuard());
  };
  StaticModel no_ntg = model;
  no_ntg.spill = without({"PORO", "SW"});
  EXPECT_ERROR_TEXT(no_ntg.in_place_impl(false),
                    "invalid input: spilled grid is missing required property 'NTG'");
  no_ntg.spill = without({"SW"});
  EXPECT_ERROR_TEXT(no_ntg.in_place_impl(false),
                    "invalid input: spilled grid is missing required property 'PORO'");
  EXPECT_GT(*no_ntg.bulk_volume(), 0);  // gross volume needs no cubes
}

TEST_F(SpillTest, UnwritableDirectoryFailsWithTheSystemError) {
  const fs::path blocker = dir_ / "file";
  std::fclose(std::fopen(blocker.c_str(), "w"));
  StaticModelBuilder b = builder({.n = 3, .nk = 1});
  b.spill_dir = blocker / "below";
  b.spill_budget_bytes = 0;
  auto model = std::move(b).build();
  ASSERT_FALSE(model);
  EXPECT_EQ(model.error().display(), "I/O error: Not a directory (os error 20)");
  EXPECT_EQ(files().size(), 1u);  // nothing but the blocker
}

TEST(SpillTempDir, TmpdirChoosesTheDefaultDirectory) {
  const char* saved = std::getenv("TMPDIR");
  const std::string previous = saved ? saved : "";
  setenv("TMPDIR", "/var/spill-here", 1);
  EXPECT_EQ(system_temp_dir(), "/var/spill-here");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(system_temp_dir(), "/tmp");
  unsetenv("TMPDIR");
  EXPECT_EQ(system_temp_dir(), "/tmp");
  if (saved) setenv("TMPDIR", previous.c_str(), 1);
}

}  // namespace
}  // namespace zorvastatic
