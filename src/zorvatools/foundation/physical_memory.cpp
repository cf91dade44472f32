#include "zorvatools/foundation/physical_memory.hpp"

#include <unistd.h>

namespace zorvatools {

std::optional<std::uint64_t> physical_memory_bytes() {
  static const std::optional<std::uint64_t> bytes = []() -> std::optional<std::uint64_t> {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return std::nullopt;
    return checked_mul(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size));
  }();
  return bytes;
}

std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

}  // namespace zorvatools
