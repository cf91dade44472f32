// _format_values: the values of a keyword of the grid text format, as the GRDECL writer streams
// them: runs of equal values as "count*value", every number in the shortest text that reads back
// to the same value of its own precision, lines under the given width.

#include "keyword_text.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "arguments.hpp"
#include "errors.hpp"
#include "zorvatools/text/number_format.hpp"

namespace zvpy {
namespace {

// Formats each distinct value once: the corners of a layer repeat a few values all over it.
class TokenCache {
 public:
  template <class T>
  std::string_view text(T value) {
    std::uint64_t key = 0;
    if constexpr (sizeof(T) == 8) {
      key = std::bit_cast<std::uint64_t>(value);
    } else {
      key = std::bit_cast<std::uint32_t>(value);
    }
    Entry& entry = entries_[(key * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
    if (!entry.used || entry.key != key) {
      scratch_.clear();
      if constexpr (std::is_floating_point_v<T>) {
        zorvatools::append_json_number(scratch_, value);
      } else {
        char digits[24];
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
        (void)ec;  // 24 characters hold any 64-bit integer
        scratch_.assign(digits, end);
      }
      entry.used = true;
      entry.key = key;
      entry.length = static_cast<std::uint8_t>(scratch_.size());
      std::memcpy(entry.text, scratch_.data(), scratch_.size());
    }
    return {entry.text, entry.length};
  }

 private:
  static constexpr int kBits = 12;
  struct Entry {
    std::uint64_t key = 0;
    bool used = false;
    std::uint8_t length = 0;
    char text[40];  // the longest shortest double, "-2.2250738585072014e-308", has 24
  };
  std::array<Entry, std::size_t{1} << kBits> entries_{};
  std::string scratch_;
};

// Appends "count*value" tokens separated by blanks, a line break before a token that would pass
// the width, and a final line break.
class KeywordText {
 public:
  KeywordText(std::size_t width, std::size_t values) : width_(width) {
    out_.reserve(values * 6 + 16);
  }

  void token(std::size_t count, std::string_view value) {
    char prefix[24];
    std::size_t prefix_length = 0;
    if (count > 1) {
      auto [end, ec] = std::to_chars(prefix, prefix + sizeof prefix - 1, count);
      (void)ec;
      *end = '*';
      prefix_length = static_cast<std::size_t>(end - prefix) + 1;
    }
    const std::size_t length = prefix_length + value.size();
    if (line_ > 0 && line_ + 1 + length > width_) {
      out_.push_back('\n');
      line_ = 0;
    } else if (line_ > 0) {
      out_.push_back(' ');
      ++line_;
    }
    out_.append(prefix, prefix_length);
    out_.append(value);
    line_ += length;
  }

  PyObject* finish() {
    if (!out_.empty()) out_.push_back('\n');
    return PyBytes_FromStringAndSize(out_.data(), static_cast<Py_ssize_t>(out_.size()));
  }

 private:
  std::size_t width_;
  std::size_t line_ = 0;
  std::string out_;
};

template <class T>
PyObject* format_all(const T* values, std::size_t count, std::size_t width) {
  TokenCache cache;
  KeywordText text(width, count);
  for (std::size_t start = 0; start < count;) {
    std::size_t end = start + 1;
    while (end < count && values[end] == values[start]) ++end;
    text.token(end - start, cache.text(values[start]));
    start = end;
  }
  return text.finish();
}

struct HeldBuffer {
  Py_buffer view{};
  bool held = false;
  ~HeldBuffer() {
    if (held) PyBuffer_Release(&view);
  }
};

PyObject* format_values(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("_format_values", args, kwargs, {"values", "width"}, 1, v)) {
      return nullptr;
    }
    std::uint64_t width = 128;
    if (!convert(v[1], "width", width)) return nullptr;
    HeldBuffer buffer;
    if (PyObject_GetBuffer(v[0], &buffer.view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
      return nullptr;
    }
    buffer.held = true;
    std::string_view format = buffer.view.format != nullptr ? buffer.view.format : "B";
    if (!format.empty() &&
        (format.front() == '@' || format.front() == '=' || format.front() == '<')) {
      format.remove_prefix(1);
    }
    const auto bytes = static_cast<std::size_t>(buffer.view.len);
    const std::size_t itemsize = static_cast<std::size_t>(buffer.view.itemsize);
    const void* data = buffer.view.buf;
    if ((format == "d") && itemsize == 8) {
      return format_all(static_cast<const double*>(data), bytes / 8, width);
    }
    if ((format == "f") && itemsize == 4) {
      return format_all(static_cast<const float*>(data), bytes / 4, width);
    }
    if ((format == "i" || format == "l" || format == "q") && itemsize == 4) {
      return format_all(static_cast<const std::int32_t*>(data), bytes / 4, width);
    }
    if ((format == "i" || format == "l" || format == "q") && itemsize == 8) {
      return format_all(static_cast<const std::int64_t*>(data), bytes / 8, width);
    }
    raise_argument_error(PyExc_TypeError, "values",
                         "expected float64, float32, int32 or int64 values, got buffer format '" +
                             std::string(format) + "'");
    return nullptr;
  });
}

}  // namespace

PyMethodDef format_values_def = {
    "_format_values", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(format_values)),
    METH_VARARGS | METH_KEYWORDS,
    "_format_values(values, width=128)\n--\n\nKeyword values as text: runs of equal values as "
    "count*value, each number in the shortest text that reads back to it, lines under `width`, "
    "a final line break."};

}  // namespace zvpy
