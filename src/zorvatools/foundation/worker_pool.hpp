#pragma once
// The process-wide work-stealing pool (oneTBB's, created on first use and sized to the
// available processors, or capped by ZV_NUM_THREADS / set_max_threads). Loops over independent
// indices run on it; each index owns its result slot, so results never depend on the number of
// threads.

#include <atomic>
#include <cstddef>
#include <expected>
#include <optional>
#include <string_view>
#include <vector>

namespace zorvatools {

// Caps the pool at `threads` worker threads, the calling thread included; 0 lifts the cap.
// The cap holds for the whole process until it is set again.
void set_max_threads(std::size_t threads);
// The number of threads loops may use now: the cap, or the processors available without one.
std::size_t max_threads();
// Applies ZV_NUM_THREADS (a positive integer; anything else is ignored) the first time it is
// called, and before any explicit set_max_threads. Loops call it before they start.
void apply_thread_cap_from_environment();

namespace pool_detail {

// Runs run(context, index) once for every index in [0, count): the calling thread and pool
// threads take the indices in increasing order. The calling thread, once no index is left, waits
// for the others while it goes on polling its call (call_scope.hpp), reporting `stage` with the
// indices finished, so that a stop reaches the tasks still running. An exception thrown by a run
// is rethrown here once every started run has ended.
void run_indexed(std::size_t count, void (*run)(void*, std::size_t), void* context,
                 std::string_view stage);

}  // namespace pool_detail

// Runs body(index) for index in [0, count) on the pool and returns the results in index order.
// `body` returns a std::expected. A failure skips every index above it that has not started,
// and the failure with the lowest index is returned, so the error does not depend on
// scheduling either. Every task polls the call of the thread that started the loop.
template <class Result, class Body>
std::expected<std::vector<typename Result::value_type>, typename Result::error_type>
parallel_collect(std::size_t count, Body&& body, std::string_view stage = "parallel work") {
  struct Loop {
    Body& body;
    std::vector<std::optional<Result>> slots;
    std::atomic<std::size_t> first_failure;
  } loop{body, std::vector<std::optional<Result>>(count), count};
  auto run = [](void* context, std::size_t index) {
    Loop& self = *static_cast<Loop*>(context);
    if (index > self.first_failure.load(std::memory_order_relaxed)) return;
    self.slots[index].emplace(self.body(index));
    if (*self.slots[index]) return;
    std::size_t seen = self.first_failure.load(std::memory_order_relaxed);
    while (index < seen && !self.first_failure.compare_exchange_weak(seen, index)) {
    }
  };
  pool_detail::run_indexed(count, run, &loop, stage);
  if (const std::size_t failed = loop.first_failure.load(); failed < count) {
    return std::unexpected(std::move(*loop.slots[failed]).error());
  }
  std::vector<typename Result::value_type> values;
  values.reserve(count);
  for (auto& slot : loop.slots) values.push_back(std::move(**slot));
  return values;
}

}  // namespace zorvatools
