#pragma once
// The process-wide work-stealing pool (oneTBB's, created on first use and sized to the
// available processors, or capped by ZV_NUM_THREADS / set_max_threads). Loops over independent
// indices run on it; each index owns its result slot, so results never depend on the number of
// threads.

#include <atomic>
#include <cstddef>
#include <expected>
#include <optional>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace zorvatools {

// Caps the pool at `threads` worker threads, the calling thread included; 0 lifts the cap.
// The cap holds for the whole process until it is set again.
void set_max_threads(std::size_t threads);
// The number of threads loops may use now: the cap, or the processors available without one.
std::size_t max_threads();
// Applies ZV_NUM_THREADS (a positive integer; anything else is ignored) the first time it is
// called, and before any explicit set_max_threads. Loops call it before they start.
void apply_thread_cap_from_environment();

// Runs body(index) for index in [0, count) on the pool and returns the results in index order.
// `body` returns a std::expected. A failure skips every index above it that has not started,
// and the failure with the lowest index is returned, so the error does not depend on
// scheduling either.
template <class Result, class Body>
std::expected<std::vector<typename Result::value_type>, typename Result::error_type>
parallel_collect(std::size_t count, Body&& body) {
  std::vector<std::optional<Result>> slots(count);
  apply_thread_cap_from_environment();
  std::atomic<std::size_t> first_failure{count};
  tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, 1),
                    [&](const tbb::blocked_range<std::size_t>& range) {
                      for (std::size_t index = range.begin(); index != range.end(); ++index) {
                        if (index > first_failure.load(std::memory_order_relaxed)) return;
                        slots[index].emplace(body(index));
                        if (*slots[index]) continue;
                        std::size_t seen = first_failure.load(std::memory_order_relaxed);
                        while (index < seen && !first_failure.compare_exchange_weak(seen, index)) {
                        }
                      }
                    });
  if (const std::size_t failed = first_failure.load(); failed < count) {
    return std::unexpected(std::move(*slots[failed]).error());
  }
  std::vector<typename Result::value_type> values;
  values.reserve(count);
  for (auto& slot : slots) values.push_back(std::move(**slot));
  return values;
}

}  // namespace zorvatools
