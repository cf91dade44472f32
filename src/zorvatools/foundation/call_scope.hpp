#pragma once
// Interruption and progress of long calls. The caller (the Python binding, a command-line tool)
// opens a CallScope with a CallMonitor around a call; the call's long loops poll. A poll is an
// atomic read; only on the thread that opened the scope, and only every few milliseconds, does it
// ask the monitor whether to stop and tell it how far the call has come. Once the monitor says
// stop, every poll of the call, on any thread, fails with an Interrupted error, which ends the
// operation like any other error: nothing half-written, no partial result.
//
// Progress: a loop reports `done` of `total` units of its stage. A call made of several stages
// splits its progress with ProgressPart, so that the monitor also learns the fraction of the whole
// call done, which never decreases.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "zorvatools/foundation/error.hpp"

namespace zorvatools {

// The caller's side of a call. Both members run on the thread that opened the scope.
class CallMonitor {
 public:
  virtual ~CallMonitor() = default;
  // True stops the call.
  virtual bool should_stop() = 0;
  // The latest progress: `done` of `total` units of `stage`, and `fraction` (0 to 1, never
  // decreasing) of the whole call. Called just before should_stop.
  virtual void progress(std::string_view stage, std::uint64_t done, std::uint64_t total,
                        double fraction) = 0;
};

// The shared state of one call: the stop flag every thread of the call reads, and what only the
// opening thread touches (the monitor, the clock, the latest progress).
class CallState {
 public:
  CallState(CallMonitor* monitor, std::chrono::nanoseconds interval);

  [[nodiscard]] bool stopped() const { return stop_.load(std::memory_order_relaxed); }
  void stop() { stop_.store(true, std::memory_order_relaxed); }

  // The opening thread's poll: asks the monitor when the interval has passed.
  [[nodiscard]] bool check_due();
  void note_progress(std::string_view stage, std::uint64_t done, std::uint64_t total);
  [[nodiscard]] std::string_view stage() const { return stage_; }
  [[nodiscard]] double fraction() const { return fraction_; }

 private:
  friend class ProgressPart;
  friend class ProgressSteps;
  // The calling thread's call when it may move the progress (not while asking its monitor).
  static CallState* progress_owner();
  // Progress reported from now on fills [from, to] of the whole call.
  void start_part(double from, double to);

  std::atomic<bool> stop_{false};
  CallMonitor* monitor_;
  std::chrono::nanoseconds interval_;
  std::chrono::steady_clock::time_point next_check_;
  bool checking_ = false;  // a monitor that calls back into the engine is not asked again
  std::string_view stage_;
  std::uint64_t done_ = 0;
  std::uint64_t total_ = 0;
  // The share of the whole call that progress reported now fills, and the fraction reached.
  double part_from_ = 0.0;
  double part_to_ = 1.0;
  double fraction_ = 0.0;
};

// How often the opening thread asks its monitor.
inline constexpr std::chrono::milliseconds kCallCheckInterval{10};

// Opens a call on this thread until the scope ends. A scope opened while another is open on the
// same thread (a call made by a call) joins the outer one and changes nothing.
class CallScope {
 public:
  explicit CallScope(CallMonitor& monitor, std::chrono::nanoseconds interval = kCallCheckInterval);
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
  ~CallScope();

  // Whether the monitor stopped the call.
  [[nodiscard]] bool stopped() const { return state_.stopped(); }

 private:
  CallState state_;
  bool outermost_;
};

// A step of the call: progress reported while it lives fills [from, to] of the step it is made
// in (the whole call at first), and the fraction reaches `to` when it ends. Steps made in turn
// split their enclosing step by their weight in the work, nested ones split it further. Only the
// thread that opened the call keeps its progress; anywhere else a ProgressPart does nothing.
class ProgressPart {
 public:
  ProgressPart(double from, double to);
  ProgressPart(const ProgressPart&) = delete;
  ProgressPart& operator=(const ProgressPart&) = delete;
  ~ProgressPart();

 private:
  CallState* call_;
  double outer_from_ = 0.0;
  double outer_to_ = 1.0;
};

// Consecutive steps of the step it is made in (the whole call at first), each sized by the work
// it is expected to take, in any one unit; steps of no work take no share, and when none has work
// they share equally. `enter` ends the step running, counted done, and starts the next; progress
// reported meanwhile fills that step's share. Only the thread that opened the call keeps its
// progress; anywhere else this does nothing.
class ProgressSteps {
 public:
  explicit ProgressSteps(std::span<const double> work);
  ProgressSteps(std::initializer_list<double> work)
      : ProgressSteps(std::span<const double>(work.begin(), work.size())) {}
  ProgressSteps(const ProgressSteps&) = delete;
  ProgressSteps& operator=(const ProgressSteps&) = delete;
  ~ProgressSteps();

  // Runs step `n`, or steps `first` to `last` as one.
  void enter(std::size_t n) { enter(n, n); }
  void enter(std::size_t first, std::size_t last);

 private:
  CallState* call_;
  double outer_from_ = 0.0;
  double outer_to_ = 1.0;
  bool running_ = false;
  std::vector<double> bounds_;  // where each step starts, and 1
};

// The call this thread works for (null outside any call), for handing to worker-pool tasks.
[[nodiscard]] CallState* current_call();
// Whether this thread opened the call it works for.
[[nodiscard]] bool owns_current_call();

// Lets a worker-pool task poll the call that started it; restores the thread's own on exit.
class JoinedCall {
 public:
  explicit JoinedCall(CallState* state);
  JoinedCall(const JoinedCall&) = delete;
  JoinedCall& operator=(const JoinedCall&) = delete;
  ~JoinedCall();

 private:
  CallState* previous_;
  bool previous_owned_;
};

// The poll of long loops: fails with an Interrupted error once the call was stopped. Outside any
// call it always succeeds.
[[nodiscard]] AlgoResult<void> poll_call();
// The same, recording progress for the monitor: `done` of `total` units of `stage`, whose text
// must outlive the call (a string literal).
[[nodiscard]] AlgoResult<void> poll_call(std::string_view stage, std::uint64_t done,
                                         std::uint64_t total);

// The stage last reported in this thread's call, or `fallback` when none was.
[[nodiscard]] std::string_view current_stage(std::string_view fallback);

}  // namespace zorvatools
