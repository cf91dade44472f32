#include "zorvatools/foundation/worker_pool.hpp"

#include <charconv>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>

#include <tbb/global_control.h>

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
