#include "zorvatools/foundation/large_array.hpp"

#include <cstdint>
#include <fstream>
#include <string>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zorvatools {

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
constexpr std::uintptr_t kPage = std::uintptr_t{4} << 10;
// Smaller storage gains nothing worth a system call.
constexpr std::size_t kSmallest = std::size_t{4} << 20;

#if defined(__linux__)
bool system_huge_pages_never_stall() {
  static const bool never_stall = [] {
    std::ifstream file("/sys/kernel/mm/transparent_hugepage/defrag");
    std::string setting;
    std::getline(file, setting);
    return huge_pages_never_stall(setting);
  }();
  return never_stall;
}

// madvise over the whole `unit`-sized pages inside [start, start + bytes); errors ignored.
void advise_inside(std::uintptr_t start, std::size_t bytes, std::uintptr_t unit, int advice) {
  const std::uintptr_t first = (start + unit - 1) & ~(unit - 1);
  const std::uintptr_t last = (start + bytes) & ~(unit - 1);
  if (last <= first) return;
  (void)madvise(reinterpret_cast<void*>(first), last - first, advice);
}
#endif

}  // namespace

bool huge_pages_never_stall(std::string_view defrag_setting) {
  const std::size_t open = defrag_setting.find('[');
  const std::size_t close = defrag_setting.find(']', open);
  if (open == std::string_view::npos || close == std::string_view::npos) return false;
  const std::string_view selected = defrag_setting.substr(open + 1, close - open - 1);
  return selected == "defer" || selected == "never";
}

void prepare_large_storage(void* data, std::size_t bytes) {
  if (bytes < kSmallest) return;
#if defined(__linux__)
  const auto start = reinterpret_cast<std::uintptr_t>(data);
#if defined(MADV_HUGEPAGE)
  if (system_huge_pages_never_stall()) advise_inside(start, bytes, kHugePage, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
  advise_inside(start, bytes, kPage, MADV_POPULATE_WRITE);
#endif
#else
  (void)data;
#endif
}

}  // namespace zorvatools
