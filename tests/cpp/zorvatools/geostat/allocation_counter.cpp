#include "zorvatools/geostat/allocation_counter.hpp"

#include <atomic>

// Provided by the AddressSanitizer runtime; null when the tests run without it.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*))
    __attribute__((weak));

namespace zorvatools::testing_alloc {

namespace {

std::atomic<bool> counting{false};
std::atomic<std::size_t> allocations{0};

void on_malloc(const volatile void*, std::size_t) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}
void on_free(const volatile void*) {}

bool install_hooks() {
  return __sanitizer_install_malloc_and_free_hooks != nullptr &&
         __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free) != 0;
}

}  // namespace

bool available() {
  static const bool installed = install_hooks();
  return installed;
}

void start_counting() {
  allocations = 0;
  counting = true;
}

std::size_t stop_counting() {
  counting = false;
  return allocations;
}

}  // namespace zorvatools::testing_alloc
