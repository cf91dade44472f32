#include "zorvatools/text/number_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace zorvatools {
namespace {

// Shortest digits d1..dn (no leading or trailing zeros) and the decimal point position kk, so
// that |v| = 0.d1..dn × 10^kk. Only for finite, non-zero values.
struct ShortestDigits {
  char digits[32];
  int count = 0;
  int point = 0;
};

template <class T>
ShortestDigits shortest_digits(T value) {
  char text[64];
  auto [end, ec] =
      std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific);
  (void)ec;  // 64 bytes always suffice for a scientific float or double
  ShortestDigits result;
  const char* p = text;
  for (; p != end && *p != 'e'; ++p) {
    if (*p != '.') result.digits[result.count++] = *p;
  }
  while (result.count > 1 && result.digits[result.count - 1] == '0') --result.count;
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
  result.point = exponent + 1;
  return result;
}

void append_zeros(std::string& out, int count) {
  out.append(static_cast<std::size_t>(count), '0');
}

template <class T>
void append_json_layout(std::string& out, T value, int max_point, int min_point) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (std::signbit(value)) out.push_back('-');
  if (value == 0) {
    out += "0.0";
    return;
  }
  const ShortestDigits d = shortest_digits(value);
  const int n = d.count;
  const int kk = d.point;
  if (kk > 0 && kk <= max_point) {
    if (n <= kk) {
      out.append(d.digits, n);
      append_zeros(out, kk - n);
      out += ".0";
    } else {
      out.append(d.digits, kk);
      out.push_back('.');
      out.append(d.digits + kk, n - kk);
    }
  } else if (kk > min_point && kk <= 0) {
    out += "0.";
    append_zeros(out, -kk);
    out.append(d.digits, n);
  } else {
    out.push_back(d.digits[0]);
    if (n > 1) {
      out.push_back('.');
      out.append(d.digits + 1, n - 1);
    }
    out.push_back('e');
    char exponent[16];
    auto [end, ec] = std::to_chars(exponent, exponent + sizeof exponent, kk - 1);
    (void)ec;
    out.append(exponent, end);
  }
}

}  // namespace

void append_message_number(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
    return;
  }
  if (std::signbit(value)) out.push_back('-');
  if (std::isinf(value)) {
    out += "inf";
    return;
  }
  if (value == 0) {
    out.push_back('0');
    return;
  }
  const ShortestDigits d = shortest_digits(value);
  const int n = d.count;
  const int kk = d.point;
  if (kk >= n) {
    out.append(d.digits, n);
    append_zeros(out, kk - n);
  } else if (kk > 0) {
    out.append(d.digits, kk);
    out.push_back('.');
    out.append(d.digits + kk, n - kk);
  } else {
    out += "0.";
    append_zeros(out, -kk);
    out.append(d.digits, n);
  }
}

std::string message_number(double value) {
  std::string out;
  append_message_number(out, value);
  return out;
}

void append_json_number(std::string& out, double value) {
  append_json_layout(out, value, 16, -5);
}
void append_json_number(std::string& out, float value) {
  append_json_layout(out, value, 13, -6);
}

std::string json_number(double value) {
  std::string out;
  append_json_number(out, value);
  return out;
}

std::string json_number(float value) {
  std::string out;
  append_json_number(out, value);
  return out;
}

}  // namespace zorvatools
