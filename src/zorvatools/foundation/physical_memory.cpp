#include "zorvatools/foundation/physical_memory.hpp"

#include <unistd.h>

#include <cstdio>

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

namespace {

// "1.5 GiB", "12.0 MiB": one decimal in the larger unit that the amount reaches.
std::string readable_bytes(std::uint64_t bytes) {
  const double b = static_cast<double>(bytes);
  const bool gib = b >= 1073741824.0;
  char text[48];
  std::snprintf(text, sizeof text, "%.1f %s", gib ? b / 1073741824.0 : b / 1048576.0,
                gib ? "GiB" : "MiB");
  return text;
}

}  // namespace

std::string memory_shortfall_text(std::string_view what, std::uint64_t nx, std::uint64_t ny,
                                  std::uint64_t needed, std::uint64_t limit) {
  std::string text(what);
  text += " of lattice " + std::to_string(nx) + "x" + std::to_string(ny) + " needs " +
          std::to_string(needed) + " bytes (" + readable_bytes(needed) +
          ") of memory, more than the " + std::to_string(limit) + " bytes (" +
          readable_bytes(limit) + ") available";
  return text;
}

}  // namespace zorvatools
