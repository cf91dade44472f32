#pragma once
// Compact JSON written straight into one growing buffer: no whitespace, keys in the order they
// are written, numbers in the JSON layout of number_format.hpp.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvatools {

class JsonWriter {
 public:
  JsonWriter() = default;
  explicit JsonWriter(std::size_t reserve_bytes) { out_.reserve(reserve_bytes); }

  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  // The key of the next value inside an object.
  JsonWriter& key(std::string_view name);

  JsonWriter& value(double number);
  JsonWriter& value(float number);
  JsonWriter& value(std::int64_t number);
  JsonWriter& value(std::uint64_t number);
  JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
  JsonWriter& value(unsigned number) { return value(static_cast<std::uint64_t>(number)); }
  JsonWriter& value(bool flag);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
  JsonWriter& value(std::optional<double> number);
  JsonWriter& value(const std::optional<std::string>& text) {
    return text ? value(std::string_view(*text)) : null();
  }
  JsonWriter& null();

  // An array of the items, each written as value() writes it.
  template <class Range>
  JsonWriter& array(const Range& items) {
    begin_array();
    for (const auto& item : items) value(item);
    return end_array();
  }

  // Appends already serialised JSON as one value.
  JsonWriter& raw(std::string_view json);

  // Shorthands for an object member.
  template <class T>
  JsonWriter& member(std::string_view name, const T& v) {
    key(name);
    return value(v);
  }
  template <class Range>
  JsonWriter& member_array(std::string_view name, const Range& items) {
    key(name);
    return array(items);
  }

  [[nodiscard]] const std::string& str() const& { return out_; }
  [[nodiscard]] std::string str() && { return std::move(out_); }

 private:
  void before_value();

  std::string out_;
  // One entry per open container: true until its first element has been written.
  std::vector<bool> first_;
  bool after_key_ = false;
};

// Appends `text` as a JSON string literal: quotes, backslashes and control characters escaped
// (control characters as \u00XX), other bytes (UTF-8) passed through.
void append_json_string(std::string& out, std::string_view text);

}  // namespace zorvatools
