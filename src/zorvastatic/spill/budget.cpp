#include "zorvastatic/spill/budget.hpp"

#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <sstream>
#include <string>

namespace zorvastatic {
namespace {

bool is_space(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
}

// Well-formed UTF-8: no stray continuation bytes, no overlong or truncated sequences.
bool valid_utf8(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size()) {
    const auto lead = static_cast<unsigned char>(text[n]);
    std::size_t extra = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++n;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (n + extra >= text.size()) return false;
    for (std::size_t e = 1; e <= extra; ++e) {
      const auto byte = static_cast<unsigned char>(text[n + e]);
      if ((byte & 0xC0) != 0x80) return false;
      code = (code << 6) | (byte & 0x3F);
    }
    static constexpr std::uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (code < kMin[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    n += extra + 1;
  }
  return true;
}

}  // namespace

std::optional<std::uint64_t> parse_meminfo_total(std::string_view text) {
  static constexpr std::string_view kKey = "MemTotal:";
  std::size_t line_start = 0;
  while (line_start <= text.size()) {
    std::size_t line_end = text.find('\n', line_start);
    if (line_end == std::string_view::npos) line_end = text.size();
    const std::string_view line = text.substr(line_start, line_end - line_start);
    if (line.starts_with(kKey)) {
      std::size_t p = kKey.size();
      while (p < line.size() && is_space(line[p])) ++p;
      std::size_t q = p;
      while (q < line.size() && !is_space(line[q])) ++q;
      std::string_view number = line.substr(p, q - p);
      if (number.starts_with('+')) number.remove_prefix(1);
      if (number.empty()) return std::nullopt;
      std::uint64_t kib = 0;
      constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
      for (char ch : number) {
        if (ch < '0' || ch > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(ch - '0');
        if (kib > (kMax - digit) / 10) return std::nullopt;
        kib = kib * 10 + digit;
      }
      if (kib > kMax / 1024) return std::nullopt;
      return kib * 1024;
    }
    if (line_end == text.size()) break;
    line_start = line_end + 1;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> query_physical_ram() {
  static std::once_flag once;
  static std::optional<std::uint64_t> bytes;
  std::call_once(once, [] {
    std::ifstream file("/proc/meminfo", std::ios::binary);
    if (!file) return;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return;
    const std::string contents = text.str();
    if (!valid_utf8(contents)) return;
    bytes = parse_meminfo_total(contents);
  });
  return bytes;
}

std::uint64_t default_spill_budget(std::optional<std::uint64_t> physical_bytes) {
  return physical_bytes ? *physical_bytes / 2 : kFallbackSpillBudget;
}

}  // namespace zorvastatic
