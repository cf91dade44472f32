#pragma once
// Message building: strings as they are, integers in plain decimal, doubles in the message
// layout ("2", "0.25", "NaN").

#include <charconv>
#include <concepts>
#include <string>
#include <string_view>

#include "zorvatools/text/number_format.hpp"

namespace zorvatools {

namespace detail {

inline void append_piece(std::string& out, std::string_view text) {
  out += text;
}
inline void append_piece(std::string& out, const char* text) {
  out += text;
}
inline void append_piece(std::string& out, const std::string& text) {
  out += text;
}
inline void append_piece(std::string& out, char ch) {
  out.push_back(ch);
}
inline void append_piece(std::string& out, double value) {
  append_message_number(out, value);
}

template <class T>
requires std::integral<T> &&
    (!std::same_as<T, bool>)&&(!std::same_as<T, char>)void append_piece(std::string& out, T value) {
  char text[48];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  (void)ec;
  out.append(text, end);
}

}  // namespace detail

template <class... Pieces>
std::string str_cat(const Pieces&... pieces) {
  std::string out;
  (detail::append_piece(out, pieces), ...);
  return out;
}

}  // namespace zorvatools
