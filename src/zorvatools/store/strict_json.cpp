#include "zorvatools/store/strict_json.hpp"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "zorvatools/store/utf8.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvatools::store {
namespace {

using nlohmann::json;

// A pointer into the text that records how far the reader has looked, so that errors the reader
// does not place (duplicate keys, number overflow) still get a position.
class TrackingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  TrackingIterator(const char* at, const char* base, std::size_t* bytes_seen)
      : at_(at), base_(base), bytes_seen_(bytes_seen) {}

  reference operator*() const {
    *bytes_seen_ = static_cast<std::size_t>(at_ - base_) + 1;
    return *at_;
  }
  TrackingIterator& operator++() {
    ++at_;
    return *this;
  }
  TrackingIterator operator++(int) {
    TrackingIterator before = *this;
    ++at_;
    return before;
  }
  friend bool operator==(const TrackingIterator& a, const TrackingIterator& b) {
    return a.at_ == b.at_;
  }

 private:
  const char* at_;
  const char* base_;
  std::size_t* bytes_seen_;
};

struct DuplicateKey {
  std::string key;
};

// " at line {line} column {column}" for the byte at `offset`, both counted from 1 and the column
// in bytes; an offset at the end of the text names the position just past the last byte.
std::string position_suffix(std::string_view text, std::size_t offset) {
  const std::string_view before = text.substr(0, std::min(offset, text.size()));
  const std::size_t line = 1 + static_cast<std::size_t>(std::ranges::count(before, '\n'));
  const std::size_t last_newline = before.rfind('\n');
  const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
  return str_cat(" at line ", line, " column ", before.size() - line_start + 1);
}

// The byte at which the reader stopped: the last one it looked at.
std::size_t last_seen(std::size_t bytes_seen) {
  return bytes_seen == 0 ? 0 : bytes_seen - 1;
}

// The reader's message without its exception-id prefix and without its own position wording.
std::string reader_message(std::string_view what) {
  if (what.starts_with('[')) {
    const std::size_t close = what.find("] ");
    if (close != std::string_view::npos) what.remove_prefix(close + 2);
  }
  if (what.starts_with("parse error")) {
    const std::size_t colon = what.find(": ");
    if (colon != std::string_view::npos) what.remove_prefix(colon + 2);
  }
  return utf8_lossy(what);
}

}  // namespace

AlgoResult<json> parse_strict_json(std::string_view text) {
  std::size_t bytes_seen = 0;
  // Keys seen so far in each open object, innermost last.
  std::vector<std::set<std::string, std::less<>>> open_objects;
  const auto on_event = [&](int /*depth*/, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
        open_objects.emplace_back();
        break;
      case json::parse_event_t::object_end:
        open_objects.pop_back();
        break;
      case json::parse_event_t::key:
        if (!open_objects.back().insert(parsed.get_ref<const std::string&>()).second) {
          throw DuplicateKey{parsed.get_ref<const std::string&>()};
        }
        break;
      default:
        break;
    }
    return true;
  };
  const char* base = text.data();
  const TrackingIterator first(base, base, &bytes_seen);
  const TrackingIterator last(base + text.size(), base, &bytes_seen);
  try {
    return json::parse(first, last, on_event);
  } catch (const DuplicateKey& duplicate) {
    std::string message = "duplicate key ";
    append_json_string(message, duplicate.key);
    return std::unexpected(
        AlgoError::parse(message + position_suffix(text, last_seen(bytes_seen))));
  } catch (const json::parse_error& error) {
    // `byte` counts the bytes read, the offending one included.
    return std::unexpected(AlgoError::parse(reader_message(error.what()) +
                                            position_suffix(text, last_seen(error.byte))));
  } catch (const json::exception& error) {
    return std::unexpected(AlgoError::parse(reader_message(error.what()) +
                                            position_suffix(text, last_seen(bytes_seen))));
  }
}

void write_canonical_json(const json& value, JsonWriter& out) {
  struct Open {
    const json* container;
    json::const_iterator next;
  };
  std::vector<Open> open;
  // Writes a scalar, or opens a container whose members the loop below writes.
  const auto start = [&](const json& v) {
    switch (v.type()) {
      case json::value_t::object:
        out.begin_object();
        open.push_back({&v, v.cbegin()});
        break;
      case json::value_t::array:
        out.begin_array();
        open.push_back({&v, v.cbegin()});
        break;
      case json::value_t::string:
        out.value(std::string_view(v.get_ref<const std::string&>()));
        break;
      case json::value_t::boolean:
        out.value(v.get<bool>());
        break;
      case json::value_t::number_integer:
        out.value(v.get<std::int64_t>());
        break;
      case json::value_t::number_unsigned:
        out.value(v.get<std::uint64_t>());
        break;
      case json::value_t::number_float:
        out.value(v.get<double>());
        break;
      case json::value_t::null:
      case json::value_t::binary:
      case json::value_t::discarded:
        out.null();
        break;
    }
  };
  start(value);
  while (!open.empty()) {
    Open& top = open.back();
    if (top.next == top.container->cend()) {
      if (top.container->is_object()) {
        out.end_object();
      } else {
        out.end_array();
      }
      open.pop_back();
      continue;
    }
    const json::const_iterator member = top.next++;
    // The default object type is a std::map over std::string: keys come in ascending byte order.
    if (top.container->is_object()) out.key(member.key());
    start(*member);  // may grow `open`; `top` is not used again
  }
}

}  // namespace zorvatools::store
