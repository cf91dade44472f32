#include "zorvatools/store/utf8.hpp"

#include <cstddef>

namespace zorvatools::store {
namespace {

bool in(unsigned char byte, unsigned char lo, unsigned char hi) {
  return byte >= lo && byte <= hi;
}

// Length of the well-formed sequence at the start of `text`, or 0 when there is none.
std::size_t sequence_length(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  std::size_t len = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (in(lead, 0xC2, 0xDF)) {
    len = 2;
  } else if (in(lead, 0xE0, 0xEF)) {
    len = 3;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (in(lead, 0xF0, 0xF4)) {
    len = 4;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < len) return 0;
  if (!in(at(1), lo, hi)) return 0;
  for (std::size_t i = 2; i < len; ++i) {
    if (!in(at(i), 0x80, 0xBF)) return 0;
  }
  return len;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t len = sequence_length(text);
    if (len == 0) return false;
    text.remove_prefix(len);
  }
  return true;
}

std::string utf8_lossy(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t len = sequence_length(text);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      text.remove_prefix(1);
    } else {
      out.append(text.substr(0, len));
      text.remove_prefix(len);
    }
  }
  return out;
}

}  // namespace zorvatools::store
