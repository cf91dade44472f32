#include "zorvatools/foundation/worker_pool.hpp"

#include <tbb/global_control.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>

#include "zorvatools/foundation/call_scope.hpp"

namespace zorvatools {
namespace {

std::once_flag environment_read;
std::mutex cap_mutex;
// Never destroyed: a control released during static destruction could outlive the scheduler.
tbb::global_control* cap = nullptr;

void replace_cap(std::size_t threads) {
  std::lock_guard lock(cap_mutex);
  // Several live controls take the smallest value, so the old one goes first.
  delete cap;
  cap = nullptr;
  if (threads != 0) {
    cap = new tbb::global_control(tbb::global_control::max_allowed_parallelism, threads);
  }
}

std::size_t threads_from_environment() {
  const char* text = std::getenv("ZV_NUM_THREADS");
  if (text == nullptr) return 0;
  const std::string_view view(text);
  std::size_t threads = 0;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), threads);
  if (error != std::errc() || end != view.data() + view.size()) return 0;
  return threads;
}

}  // namespace

void apply_thread_cap_from_environment() {
  std::call_once(environment_read, [] {
    if (const std::size_t threads = threads_from_environment(); threads != 0) {
      replace_cap(threads);
    }
  });
}

void set_max_threads(std::size_t threads) {
  apply_thread_cap_from_environment();
  replace_cap(threads);
}

std::size_t max_threads() {
  apply_thread_cap_from_environment();
  return tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism);
}

}  // namespace zorvatools

namespace zorvatools::pool_detail {
namespace {

// How long the calling thread sleeps between polls while the last tasks finish.
constexpr std::chrono::milliseconds kWaitPoll{2};

// Threads that may work on one loop: the arena's and the process cap's smaller.
std::size_t loop_threads() {
  const auto arena = static_cast<std::size_t>(tbb::this_task_arena::max_concurrency());
  return std::max<std::size_t>(1, std::min(arena, max_threads()));
}

}  // namespace

void run_indexed(std::size_t count, void (*run)(void*, std::size_t), void* context,
                 std::string_view stage) {
  if (count == 0) return;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> finished{0};
  std::atomic<bool> thrown{false};
  std::exception_ptr exception;
  std::mutex mutex;
  std::condition_variable all_done;
  CallState* const call = current_call();

  auto drain = [&] {
    const JoinedCall joined(call);
    for (std::size_t index; (index = next.fetch_add(1)) < count;) {
      if (!thrown.load(std::memory_order_relaxed)) {
        try {
          run(context, index);
        } catch (...) {
          const std::lock_guard lock(mutex);
          if (!exception) exception = std::current_exception();
          thrown.store(true, std::memory_order_relaxed);
        }
      }
      const std::size_t done = finished.fetch_add(1) + 1;
      if (done == count) {
        const std::lock_guard lock(mutex);
        all_done.notify_all();
      }
      // The calling thread tells how far the loop has come as it goes (a stop reaches the
      // tasks through their own polls).
      if (owns_current_call()) (void)poll_call(stage, done, count);
    }
  };

  tbb::task_group helpers;
  const std::size_t helper_count = std::min(count, loop_threads()) - 1;
  for (std::size_t h = 0; h < helper_count; ++h) helpers.run(drain);
  drain();
  while (finished.load() < count) {
    {
      std::unique_lock lock(mutex);
      all_done.wait_for(lock, kWaitPoll, [&] { return finished.load() == count; });
    }
    // The running tasks see a stop through their own polls and end with it.
    if (owns_current_call()) (void)poll_call(stage, finished.load(), count);
  }
  helpers.wait();  // helpers that never got an index end at once
  if (exception) std::rethrow_exception(exception);
  if (owns_current_call()) (void)poll_call(stage, count, count);
}

}  // namespace zorvatools::pool_detail
