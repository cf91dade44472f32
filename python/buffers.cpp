#include "buffers.hpp"

#include <cstring>
#include <string>
#include <string_view>

#include "arguments.hpp"

namespace zvpy {
namespace {

// float64 in native byte order: "d", with an optional native-order prefix.
bool is_native_double(const char* format) {
  if (format == nullptr) return false;
  std::string_view text(format);
  if (!text.empty() && (text.front() == '@' || text.front() == '=' || text.front() == '<')) {
    text.remove_prefix(1);
  }
  return text == "d";
}

// Releases the view on every path.
struct BufferView {
  Py_buffer view{};
  bool held = false;
  ~BufferView() {
    if (held) PyBuffer_Release(&view);
  }
};

}  // namespace

std::optional<std::vector<double>> doubles_from_buffer(PyObject* value, const char* name,
                                                       std::optional<std::size_t> expected) {
  BufferView buffer;
  if (PyObject_GetBuffer(value, &buffer.view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) {
    PyErr_Clear();
    raise_argument_error(
        PyExc_TypeError, name,
        std::string("expected a C-contiguous float64 buffer, got ") + type_name(value));
    return std::nullopt;
  }
  buffer.held = true;
  if (!is_native_double(buffer.view.format) || buffer.view.itemsize != sizeof(double)) {
    raise_argument_error(PyExc_TypeError, name,
                         std::string("expected float64 values, got buffer format '") +
                             (buffer.view.format != nullptr ? buffer.view.format : "B") + "'");
    return std::nullopt;
  }
  const auto count = static_cast<std::size_t>(buffer.view.len) / sizeof(double);
  if (expected && count != *expected) {
    raise_argument_error(
        PyExc_ValueError, name,
        "expected " + std::to_string(*expected) + " values, got " + std::to_string(count));
    return std::nullopt;
  }
  std::vector<double> values(count);
  if (count != 0) std::memcpy(values.data(), buffer.view.buf, count * sizeof(double));
  return values;
}

}  // namespace zvpy
