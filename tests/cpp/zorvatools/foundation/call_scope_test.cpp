#include "zorvatools/foundation/call_scope.hpp"

#include <gtest/gtest.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "zorvatools/foundation/allocation_failure.hpp"
#include "zorvatools/foundation/worker_pool.hpp"

namespace zorvatools {
namespace {

using namespace std::chrono_literals;

// Stops the call at its `stop_at`-th check (never when 0); records what it was told and on
// which threads it was asked.
class RecordingMonitor final : public CallMonitor {
 public:
  explicit RecordingMonitor(int stop_at = 0) : stop_at_(stop_at) {}

  bool should_stop() override {
    if (std::this_thread::get_id() != owner_) ++foreign_checks;
    ++checks;
    return stop_at_ != 0 && checks >= stop_at_;
  }
  void progress(std::string_view stage, std::uint64_t done, std::uint64_t total,
                double fraction) override {
    stages.emplace_back(stage);
    last_done = done;
    last_total = total;
    fractions.push_back(fraction);
  }

  int checks = 0;
  int foreign_checks = 0;
  std::vector<std::string> stages;
  std::uint64_t last_done = 0;
  std::uint64_t last_total = 0;
  std::vector<double> fractions;

 private:
  int stop_at_;
  std::thread::id owner_ = std::this_thread::get_id();
};

bool interrupted(const AlgoResult<void>& polled) {
  return !polled && polled.error().kind() == AlgoError::Kind::Interrupted;
}

TEST(CallScope, PollsOutsideAnyCallAlwaysSucceed) {
  for (int n = 0; n < 1000; ++n) EXPECT_TRUE(poll_call());
  EXPECT_EQ(current_call(), nullptr);
  EXPECT_EQ(current_stage("idle"), "idle");
}

TEST(CallScope, TheMonitorStopsTheCallAndEveryLaterPollFails) {
  RecordingMonitor monitor(3);
  {
    const CallScope scope(monitor, 0ns);
    EXPECT_TRUE(poll_call("layering the grid", 1, 10));
    EXPECT_TRUE(poll_call("layering the grid", 2, 10));
    EXPECT_FALSE(scope.stopped());
    const AlgoResult<void> third = poll_call("populating properties", 3, 10);
    ASSERT_TRUE(interrupted(third));
    EXPECT_EQ(third.error().display(), "interrupted");
    EXPECT_TRUE(scope.stopped());
    EXPECT_TRUE(interrupted(poll_call()));
    EXPECT_EQ(monitor.checks, 3);  // a stopped call asks no more
    EXPECT_EQ(current_stage("idle"), "populating properties");
  }
  EXPECT_EQ(monitor.stages, (std::vector<std::string>{"layering the grid", "layering the grid",
                                                      "populating properties"}));
  EXPECT_EQ(monitor.last_done, 3u);
  EXPECT_EQ(monitor.last_total, 10u);
  EXPECT_TRUE(poll_call());  // the scope is closed
}

TEST(CallScope, TheMonitorIsAskedOnlyOnceEachInterval) {
  {
    RecordingMonitor monitor;
    const CallScope scope(monitor, 1h);
    for (int n = 0; n < 100000; ++n) ASSERT_TRUE(poll_call());
    EXPECT_EQ(monitor.checks, 0);
  }
  RecordingMonitor paced;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = 0ms;
  {
    const CallScope scope(paced, 5ms);
    while (elapsed < 30ms) {
      ASSERT_TRUE(poll_call());
      elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
    }
  }
  EXPECT_GE(paced.checks, 1);
  EXPECT_LE(paced.checks, elapsed / 5ms + 1);
}

TEST(CallScope, ANestedScopeJoinsTheOuterCall) {
  RecordingMonitor outer(1);
  RecordingMonitor inner;
  const CallScope scope(outer, 0ns);
  {
    const CallScope nested(inner, 0ns);
    EXPECT_TRUE(interrupted(poll_call()));
  }
  EXPECT_EQ(outer.checks, 1);
  EXPECT_EQ(inner.checks, 0);
  EXPECT_TRUE(interrupted(poll_call()));  // still the outer call, still stopped
}

// A monitor whose progress report runs engine work of its own (a Python callback calling the
// module) polls the same call: it must not be asked again from inside.
TEST(CallScope, AMonitorThatCallsBackIntoTheEngineIsNotAskedFromInside) {
  class Reentrant final : public CallMonitor {
   public:
    bool should_stop() override {
      ++checks;
      return false;
    }
    void progress(std::string_view, std::uint64_t, std::uint64_t, double) override {
      ++depth;
      deepest = std::max(deepest, depth);
      for (int n = 0; n < 10; ++n) EXPECT_TRUE(poll_call());
      --depth;
    }
    int checks = 0;
    int depth = 0;
    int deepest = 0;
  } monitor;
  const CallScope scope(monitor, 0ns);
  for (int n = 0; n < 5; ++n) ASSERT_TRUE(poll_call());
  EXPECT_EQ(monitor.checks, 5);
  EXPECT_EQ(monitor.deepest, 1);
}

// Tasks that would run for ever unless stopped: the calling thread's polls while it waits for
// them must reach them, with every thread count.
TEST(CallScope, WorkerPoolTasksStopWithTheCall) {
  using Outcome = AlgoResult<int>;
  for (int threads : {1, 2, 4}) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
    RecordingMonitor monitor(5);
    const CallScope scope(monitor, 1ms);
    std::atomic<int> started{0};
    const auto result = parallel_collect<Outcome>(
        8,
        [&](std::size_t index) -> Outcome {
          ++started;
          if (index == 0) return 0;
          for (;;) {
            if (auto polled = poll_call(); !polled) return std::unexpected(polled.error());
            std::this_thread::sleep_for(100us);
          }
        },
        "spinning");
    ASSERT_FALSE(result) << threads << " threads";
    EXPECT_EQ(result.error().kind(), AlgoError::Kind::Interrupted);
    EXPECT_EQ(monitor.foreign_checks, 0) << "only the calling thread asks the monitor";
    EXPECT_GE(started.load(), 2);
  }
}

TEST(CallScope, AnExceptionOfATaskReachesTheCallerOnceTheOthersEnded) {
  using Outcome = std::expected<int, std::string>;
  std::atomic<int> finished{0};
  auto run = [&] {
    return parallel_collect<Outcome>(16, [&](std::size_t index) -> Outcome {
      std::this_thread::sleep_for(200us);
      if (index == 5) throw std::runtime_error("task 5");
      ++finished;
      return static_cast<int>(index);
    });
  };
  EXPECT_THROW(run(), std::runtime_error);
  EXPECT_LE(finished.load(), 15);
}

// Steps split the call's fraction by their shares, nested steps split their step, and the
// fraction never goes back, whatever the stages report.
TEST(CallProgress, PartsMapEachStageIntoItsShareOfTheCall) {
  RecordingMonitor monitor;
  const CallScope scope(monitor, 0ns);  // the monitor hears every poll
  ASSERT_TRUE(poll_call("reading", 0, 2));
  {
    const ProgressPart solving(0.0, 0.2);
    ASSERT_TRUE(poll_call("solving", 1, 4));  // a quarter of a fifth
    ASSERT_TRUE(poll_call("solving", 4, 4));
  }
  {
    const ProgressPart layering(0.2, 0.6);
    ASSERT_TRUE(poll_call("layering", 0, 10));  // at the start of its share
    {
      const ProgressPart nested(0.5, 1.0);  // the second half of layering: 0.4 to 0.6
      ASSERT_TRUE(poll_call("rows", 1, 2));
      ASSERT_TRUE(poll_call("rows", 0, 2));  // a stage that starts again does not go back
      ASSERT_TRUE(poll_call("rows", 5, 0));  // nothing to count: the fraction stays
    }
    ASSERT_TRUE(poll_call("layering", 3, 10));  // behind the nested part: no step back
  }
  ASSERT_TRUE(poll_call());  // a poll without a stage tells the fraction the last step ended at
  const std::vector<double> expected = {0.0, 0.05, 0.2, 0.2, 0.5, 0.5, 0.5, 0.6, 0.6};
  ASSERT_EQ(monitor.fractions.size(), expected.size());
  for (std::size_t n = 0; n < expected.size(); ++n) {
    EXPECT_DOUBLE_EQ(monitor.fractions[n], expected[n]) << n;
  }
  EXPECT_EQ(monitor.stages.back(), "layering");
}

// Only the thread that opened the call moves its fraction; a worker-pool loop reports the
// indices finished as it goes, and a monitor's own engine work moves nothing.
TEST(CallProgress, OnlyTheCallingThreadMovesTheFraction) {
  for (int threads : {1, 2, 4}) {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
    RecordingMonitor monitor;
    const CallScope scope(monitor, 0ns);
    const ProgressPart half(0.0, 0.5);
    const auto done = parallel_collect<AlgoResult<int>>(
        40,
        [&](std::size_t index) -> AlgoResult<int> {
          std::this_thread::sleep_for(50us);
          return static_cast<int>(index);
        },
        "tasks");
    ASSERT_TRUE(done);
    ASSERT_FALSE(monitor.fractions.empty());
    EXPECT_TRUE(std::ranges::is_sorted(monitor.fractions)) << threads << " threads";
    EXPECT_LE(monitor.fractions.back(), 0.5);
    EXPECT_GT(std::ranges::count(monitor.stages, "tasks"), threads == 1 ? 30 : 1);
    EXPECT_EQ(current_call()->fraction(), 0.5);  // every index finished
  }
  {
    RecordingMonitor monitor;
    const CallScope scope(monitor, 1h);
    CallState* call = current_call();
    std::thread([call] {
      const JoinedCall joined(call);
      const ProgressPart part(0.5, 1.0);
      EXPECT_TRUE(poll_call("elsewhere", 1, 1));
    }).join();
    EXPECT_EQ(call->fraction(), 0.0);
  }

  class Reentrant final : public CallMonitor {
   public:
    bool should_stop() override { return false; }
    void progress(std::string_view, std::uint64_t, std::uint64_t, double fraction) override {
      seen.push_back(fraction);
      const ProgressPart own(0.0, 1.0);
      (void)poll_call("the monitor's own work", 1, 1);
    }
    std::vector<double> seen;
  } reentrant;
  const CallScope scope(reentrant, 0ns);
  ASSERT_TRUE(poll_call("work", 1, 4));
  ASSERT_TRUE(poll_call("work", 1, 4));
  EXPECT_EQ(reentrant.seen, (std::vector<double>{0.25, 0.25}));
}

TEST(AllocationFailure, BecomesAnErrorNamingTheStageOfTheCall) {
  const auto huge = catch_allocation_failure("sizing a test array", []() -> AlgoResult<int> {
    std::vector<double> values(std::vector<double>().max_size() + 1);  // a size no vector holds
    return static_cast<int>(values.size());
  });
  ASSERT_FALSE(huge);
  EXPECT_EQ(huge.error().kind(), AlgoError::Kind::OutOfMemory);
  EXPECT_EQ(huge.error().display(), "out of memory while sizing a test array");

  RecordingMonitor monitor;
  const CallScope scope(monitor, 1h);
  const auto in_stage = catch_allocation_failure("building the model", []() -> AlgoResult<int> {
    if (auto polled = poll_call("layering the grid", 0, 1); !polled) {
      return std::unexpected(polled.error());
    }
    throw std::bad_alloc();
  });
  ASSERT_FALSE(in_stage);
  EXPECT_EQ(in_stage.error().display(), "out of memory while layering the grid");
  EXPECT_EQ(in_stage.error().debug(), "OutOfMemory(\"layering the grid\")");
  EXPECT_TRUE(catch_allocation_failure("x", [] { return AlgoResult<int>(7); }).value() == 7);
}

}  // namespace
}  // namespace zorvatools
