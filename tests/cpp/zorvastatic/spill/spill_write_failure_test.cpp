// A store whose room is lost while it is being written: the build fails with an error naming the
// store, and every file of the store goes with it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.hpp"
#include "zorvastatic/model/flat_model.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/store/file_mapping.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

namespace fs = std::filesystem;

// Once `layers` layers of the store are written, cuts its partial file to nothing (which frees
// its reservation) and gives all the room to another file, as a file system that cannot keep a
// reservation (copy-on-write, remote) may do.
class RoomThief : public zorvatools::CallMonitor {
 public:
  RoomThief(fs::path directory, std::uint64_t layers)
      : directory_(std::move(directory)), layers_(layers) {}

  bool should_stop() override { return false; }
  void progress(std::string_view stage, std::uint64_t done, std::uint64_t, double) override {
    if (!partial_.empty() || stage != "writing the store" || done < layers_) return;
    for (const auto& entry : fs::directory_iterator(directory_)) {
      if (entry.path().extension() == ".partial") partial_ = entry.path();
    }
    if (partial_.empty() || ::truncate(partial_.c_str(), 0) != 0) return;
    auto filler = zorvatools::store::open_file(directory_ / "filler", O_RDWR | O_CREAT, 0600);
    const auto free = zorvatools::store::free_bytes(directory_);
    if (filler && free) (void)zorvatools::store::reserve_file_space(filler->get(), *free);
  }

  [[nodiscard]] const fs::path& partial() const { return partial_; }

 private:
  fs::path directory_;
  std::uint64_t layers_;
  fs::path partial_;
};

// Whether the model is built whole and then spilled (a whole-grid pipeline), or streamed.
enum class Road { Streamed, SpilledWhole };

std::string build_losing_the_room(const fs::path& directory, Road road) {
  auto builder = flat_model_builder({.n = 41, .nk = 6});
  if (!builder) return "no builder";
  builder->spill_dir = directory;
  builder->spill_budget_bytes = 0;
  if (road == Road::SpilledWhole) {
    builder->pipelines.push_back(PropertyPipeline::upscale_only(
        "KX", {WellLog{{{2005, 0.5}}, 150, 150}}, UpscaleMethod::Arithmetic));
  }
  RoomThief thief(directory, 3);
  Result<StaticModel> built = std::unexpected(StaticError::invalid_input("not built"));
  {
    const zorvatools::CallScope scope(thief, std::chrono::nanoseconds(0));
    built = std::move(*builder).build();
  }
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(directory)) {
    left.push_back(entry.path().filename().string());
  }
  std::ranges::sort(left);
  std::string report = built ? std::string("built") : built.error().display();
  report = zorvatools::str_cat(report, "|", thief.partial().string(), "|");
  for (const std::string& name : left) report += name + " ";
  return report;
}

class LostRoom : public ::testing::TestWithParam<Road> {};

TEST_P(LostRoom, FailsNamingTheStoreAndLeavesNoFileOfIt) {
  std::string pattern = (fs::temp_directory_path() / "zv-room-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path directory = pattern;
  std::string why;
  const auto report = ::testing_support::run_on_small_tmpfs(
      directory, 1 << 20, [&](const fs::path& d) { return build_losing_the_room(d, GetParam()); },
      why);
  fs::remove_all(directory);
  if (!report) GTEST_SKIP() << why;
  const std::size_t bar = report->find('|');
  const std::size_t second = report->find('|', bar + 1);
  ASSERT_NE(second, std::string::npos) << *report;
  const std::string partial = report->substr(bar + 1, second - bar - 1);
  EXPECT_TRUE(partial.starts_with((directory / "zorvastatic-spill-").string())) << *report;
  EXPECT_TRUE(partial.ends_with(".zts.partial")) << *report;
  EXPECT_EQ(*report, "I/O error: writing store " + partial +
                         ": No space left on device (os error 28)|" + partial + "|filler ");
}

INSTANTIATE_TEST_SUITE_P(Roads, LostRoom, ::testing::Values(Road::Streamed, Road::SpilledWhole));

}  // namespace
}  // namespace zorvastatic
