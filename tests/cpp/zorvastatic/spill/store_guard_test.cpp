// Spill stores never outlive their use: the lock next to a live store, the sweep of stores whose
// process is gone, stores that only their creating process removes, and stores that do not fit.
#include "zorvastatic/spill/store_guard.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "child_process.hpp"
#include "test_support.hpp"
#include "zorvastatic/model/flat_model.hpp"
#include "zorvastatic/spill/spill.hpp"
#include "zorvastatic/spill/spill_path.hpp"
#include "zorvatools/store/reader.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

namespace fs = std::filesystem;
using testing_support::Child;
using zorvatools::str_cat;

class StoreGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zv-guard-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Names of the entries of the directory.
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      found.insert(entry.path().filename().string());
    }
    return found;
  }

  // A spilled flat model in this test's directory (`spill_dir` when given).
  Result<StaticModel> spill(bool keep = false, FlatModelParams params = {.n = 3, .nk = 1},
                            std::optional<fs::path> spill_dir = std::nullopt) {
    auto made = flat_model_builder(params);
    if (!made) return std::unexpected(made.error());
    made->spill_dir = spill_dir ? spill_dir : std::optional(dir_);
    made->spill_budget_bytes = 0;
    made->keep_spill_file = keep;
    ::testing::internal::CaptureStderr();
    auto model = std::move(*made).build();
    last_notice_ = ::testing::internal::GetCapturedStderr();
    return model;
  }

  void touch(const std::string& name) const { std::ofstream(dir_ / name) << "x"; }

  // The name of the first complete store to appear in the directory (within a few seconds).
  std::string wait_for_store() const {
    for (int wait = 0; wait < 5000; ++wait) {
      for (const std::string& name : names()) {
        if (name.ends_with(".zts")) return name;
      }
      ::usleep(1000);
    }
    return "no store appeared";
  }

  fs::path dir_;
  std::string last_notice_;
};

std::string store_name(const StaticModel& model) {
  return model.spill->path().filename().string();
}

TEST_F(StoreGuardTest, TheSweepTakesOnlyStoresWhoseLockNobodyHolds) {
  // A process that is gone: this process's own pid in the name does not keep it (pids are reused).
  const std::string stale = str_cat("zorvastatic-spill-", getpid(), "-900-1.zts");
  for (const char* suffix : {"", ".lock", ".partial"}) touch(stale + suffix);
  // A kept store has no lock file; unrelated files and links look like ours but are not.
  touch("zorvastatic-spill-1-2-3.zts");
  touch("notes.txt");
  touch("zorvastatic-spill-1-2-x.zts.lock");
  touch("zorvastatic-spill-4-5-6.zts");
  fs::create_symlink(dir_ / "notes.txt", dir_ / "zorvastatic-spill-4-5-6.zts.lock");
  // A store in use.
  const fs::path live = unique_spill_path(dir_);
  ASSERT_OK_AND_ASSIGN(StoreGuard guard, StoreGuard::acquire(live));
  std::ofstream(live) << "x";

  sweep_stale_stores(dir_);
  const std::string live_name = live.filename().string();
  EXPECT_EQ(names(), (std::set<std::string>{
                         "zorvastatic-spill-1-2-3.zts", "notes.txt",
                         "zorvastatic-spill-1-2-x.zts.lock", "zorvastatic-spill-4-5-6.zts",
                         "zorvastatic-spill-4-5-6.zts.lock", live_name, live_name + ".lock"}));
  EXPECT_TRUE(guard.removes_store());
  guard = StoreGuard();
  EXPECT_FALSE(names().contains(live_name));
  EXPECT_FALSE(names().contains(live_name + ".lock"));
}

TEST_F(StoreGuardTest, StoreAndLockAreReadableByTheirOwnerOnly) {
  const mode_t old_mask = ::umask(0);
  auto model = spill();
  ::umask(old_mask);
  ASSERT_TRUE(model) << model.error().display();
  for (const fs::path& path : {model->spill->path(), store_lock_path(model->spill->path())}) {
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0) << path;
    EXPECT_EQ(status.st_mode & 0777, 0600u) << path;
  }
}

// How a process holding a spilled model ends without releasing it.
enum class Death { Kill, Terminate, Abort, ImmediateExit };

TEST_F(StoreGuardTest, TheStoresOfADeadProcessGoAtTheNextSpillIntoTheirDirectory) {
  for (Death death : {Death::Kill, Death::Terminate, Death::Abort, Death::ImmediateExit}) {
    std::string theirs;
    {
      Child child([&]() -> std::string {
        auto model = spill();
        if (!model) return model.error().display();
        const std::string name = store_name(*model);
        if (death == Death::ImmediateExit) {
          // Still alive when the process goes.
          [[maybe_unused]] static StaticModel* alive = new StaticModel(std::move(*model));
          return name;
        }
        for (;;) ::pause();  // until a signal ends it
      });
      if (death == Death::ImmediateExit) {
        theirs = child.read_rest();
        child.wait();
      } else {
        theirs = wait_for_store();
        // While its process lives, a sweep leaves it alone.
        sweep_stale_stores(dir_);
        EXPECT_EQ(names(), (std::set<std::string>{theirs, theirs + ".lock"}));
        const int signal = death == Death::Kill        ? SIGKILL
                           : death == Death::Terminate ? SIGTERM
                                                       : SIGABRT;
        ::kill(child.pid(), signal);
        EXPECT_TRUE(WIFSIGNALED(child.wait()));
      }
    }
    ASSERT_EQ(names(), (std::set<std::string>{theirs, theirs + ".lock"}));
    auto model = spill();
    ASSERT_TRUE(model) << model.error().display();
    const std::string mine = store_name(*model);
    EXPECT_EQ(names(), (std::set<std::string>{mine, mine + ".lock"}));
  }
}

TEST_F(StoreGuardTest, AForkedChildNeverRemovesItsParentsStore) {
  auto model = std::make_unique<StaticModel>(*spill());
  const std::string mine = store_name(*model);
  {
    // The child drops its copy of the model, then exits normally, running the exit handlers.
    Child child(
        [&] {
          model.reset();
          return std::string("released");
        },
        Child::Exit::Normal);
    EXPECT_EQ(child.read_rest(), "released");
    EXPECT_EQ(child.wait(), 0);
  }
  EXPECT_EQ(names(), (std::set<std::string>{mine, mine + ".lock"}));
  sweep_stale_stores(dir_);  // still locked by this process
  EXPECT_EQ(names().size(), 2u);
  model.reset();
  EXPECT_TRUE(names().empty());
}

TEST_F(StoreGuardTest, StoresAliveAtNormalExitAreRemoved) {
  Child child(
      [&] {
        // Never released, as a handle kept in a module global at interpreter exit.
        static StaticModel* global = new StaticModel(*spill());
        return store_name(*global);
      },
      Child::Exit::Normal);
  const std::string theirs = child.read_rest();
  EXPECT_EQ(child.wait(), 0);
  EXPECT_TRUE(theirs.starts_with("zorvastatic-spill-")) << theirs;
  EXPECT_TRUE(names().empty());
}

TEST_F(StoreGuardTest, RelativeDirectoriesAreFixedWhenTheStoreIsCreated) {
  const fs::path cwd = fs::current_path();
  const char* saved = std::getenv("TMPDIR");
  const std::string previous = saved ? saved : "";
  for (bool from_tmpdir : {false, true}) {
    fs::current_path(dir_);
    auto builder = *flat_model_builder({.n = 3, .nk = 1});
    builder.spill_budget_bytes = 0;
    if (from_tmpdir) {
      setenv("TMPDIR", "rel-tmp", 1);
    } else {
      builder.spill_dir = "rel-spill";
    }
    ::testing::internal::CaptureStderr();
    auto model = std::make_unique<StaticModel>(*std::move(builder).build());
    const std::string notice = ::testing::internal::GetCapturedStderr();
    fs::current_path("/");
    const fs::path expected = dir_ / (from_tmpdir ? "rel-tmp" : "rel-spill") / store_name(*model);
    EXPECT_EQ(model->spill->path(), expected);
    EXPECT_TRUE(notice.ends_with(" to " + expected.string() + "\n")) << notice;
    EXPECT_TRUE(fs::exists(expected));
    model.reset();
    EXPECT_FALSE(fs::exists(expected));
    EXPECT_FALSE(fs::exists(store_lock_path(expected)));
  }
  if (saved) {
    setenv("TMPDIR", previous.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  fs::current_path(cwd);
}

TEST_F(StoreGuardTest, AKeptStoreIsCompleteOrAbsentWhenItsWriterIsKilled) {
  {
    // Writes kept stores until it is killed, somewhere in the middle of one.
    Child child([&] {
      for (;;) {
        auto model = spill(true, {.n = 60, .nk = 40});
        if (!model) return model.error().display();
      }
    });
    for (int wait = 0; wait < 5000 && names().size() < 4; ++wait) ::usleep(1000);
    ::kill(child.pid(), SIGKILL);
    child.wait();
  }
  // Every store under its final name is complete. One whose lock is still there was not yet
  // reported kept when its writer died: the next sweep may take it.
  std::set<std::string> kept;
  for (const std::string& name : names()) {
    if (!name.ends_with(".zts")) continue;
    EXPECT_TRUE(zorvatools::store::open(dir_ / name)) << name;
    if (!fs::exists(store_lock_path(dir_ / name))) kept.insert(name);
  }
  ASSERT_FALSE(kept.empty());
  // The next spill sweeps what the killed writer left half-done; the kept stores stay.
  auto model = spill();
  ASSERT_TRUE(model) << model.error().display();
  std::set<std::string> expected = kept;
  expected.insert(store_name(*model));
  expected.insert(store_name(*model) + ".lock");
  EXPECT_EQ(names(), expected);
}

TEST_F(StoreGuardTest, AStoreThatDoesNotFitFailsAtOnceNamingSizesAndLeavesNoFile) {
  const FlatModelParams params{.n = 41, .nk = 10};
  auto reference = spill(true, params);
  ASSERT_TRUE(reference) << reference.error().display();
  const std::uintmax_t store_bytes = fs::file_size(reference->spill->path());
  fs::remove(reference->spill->path());

  const fs::path small = dir_ / "small";
  fs::create_directory(small);
  std::string why;
  const auto report = testing_support::run_on_small_tmpfs(
      small, 256 * 1024,
      [&](const fs::path& directory) {
        auto model = spill(false, params, directory);
        std::string text = model ? "spilled" : model.error().display();
        for (const auto& entry : fs::directory_iterator(directory)) {
          text += " " + entry.path().filename().string();
        }
        return text;
      },
      why);
  if (!report) GTEST_SKIP() << why;
  EXPECT_EQ(*report, str_cat("I/O error: a model of 40 x 40 x 10 cells needs ",
                             streaming_estimate(16000), " bytes of memory (budget 0 bytes) or ",
                             store_bytes, " bytes in spill directory ", small.string(), " (",
                             256 * 1024, " bytes free): No space left on device (os error 28)"));
}

}  // namespace
}  // namespace zorvastatic
