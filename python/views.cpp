#include "views.hpp"

#include <string>
#include <vector>

#include "arguments.hpp"
#include "errors.hpp"
#include "owned_object.hpp"
#include "py_ref.hpp"
#include "zorvastatic/model/view/map.hpp"
#include "zorvastatic/model/view/section.hpp"
#include "zorvastatic/model/view/volume.hpp"

namespace zvpy {
namespace {

using zorvatools::Point2;

PyObject* json_result(const zorvastatic::Result<std::string>& json) {
  if (!json) return raise_static_error(json.error());
  return to_py_str(*json);
}

// Text is a sequence of characters, never of points.
bool is_text(PyObject* value) {
  return PyUnicode_Check(value) || PyBytes_Check(value) || PyByteArray_Check(value);
}

std::optional<double> coordinate(PyObject* pair, Py_ssize_t index, const char* name) {
  PyRef item = PyRef::steal(PySequence_GetItem(pair, index));
  if (!item) {
    PyErr_Clear();
    raise_argument_error(PyExc_TypeError, name, "a vertex could not be read");
    return std::nullopt;
  }
  return to_double(item.get(), name);
}

// A sequence (not a string) of sequences of exactly two numbers, the world x and y of each
// vertex.
std::optional<std::vector<Point2>> to_trace(PyObject* value, const char* name) {
  if (is_text(value) || !PySequence_Check(value)) {
    raise_argument_error(
        PyExc_TypeError, name,
        std::string("expected a sequence of [x, y] points, not ") + type_name(value));
    return std::nullopt;
  }
  PyRef items = PyRef::steal(PySequence_Fast(value, "expected a sequence of [x, y] points"));
  if (!items) {
    PyErr_Clear();
    raise_argument_error(PyExc_TypeError, name, "expected a sequence of [x, y] points");
    return std::nullopt;
  }
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.get());
  std::vector<Point2> points;
  points.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t n = 0; n < count; ++n) {
    PyObject* pair = PySequence_Fast_GET_ITEM(items.get(), n);
    const std::string which = "item " + std::to_string(n);
    if (is_text(pair) || !PySequence_Check(pair)) {
      raise_argument_error(PyExc_TypeError, name,
                           which + " must be a sequence of two numbers, not " + type_name(pair));
      return std::nullopt;
    }
    const Py_ssize_t size = PySequence_Size(pair);
    if (size != 2) {
      if (size < 0) PyErr_Clear();
      raise_argument_error(PyExc_TypeError, name,
                           which + " must hold exactly two numbers (x, y), got " +
                               (size < 0 ? std::string("no length") : std::to_string(size)));
      return std::nullopt;
    }
    const std::optional<double> x = coordinate(pair, 0, name);
    if (!x) return std::nullopt;
    const std::optional<double> y = coordinate(pair, 1, name);
    if (!y) return std::nullopt;
    points.push_back({*x, *y});
  }
  return points;
}

}  // namespace

PyObject* map_bundle(const zorvastatic::StaticModel& model, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> values;
    if (!parse_arguments("map_bundle", args, kwargs, {"property", "k_slice"}, 0, values)) {
      return nullptr;
    }
    bool ok = true;
    std::optional<std::string> property = to_optional_string(values[0], "property", ok);
    if (!ok) return nullptr;
    const std::optional<std::uint64_t> k_slice = to_optional_u64(values[1], "k_slice", ok);
    if (!ok) return nullptr;
    zorvastatic::MapSpec spec;
    if (property) spec.properties.push_back(std::move(*property));
    spec.k_slice = k_slice;
    return json_result(zorvastatic::map_bundle(model, spec));
  });
}

PyObject* intersection_bundle(const zorvastatic::StaticModel& model, PyObject* args,
                              PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> values;
    if (!parse_arguments("intersection_bundle", args, kwargs, {"line", "property"}, 1, values)) {
      return nullptr;
    }
    const std::optional<std::vector<Point2>> line = to_trace(values[0], "line");
    if (!line) return nullptr;
    bool ok = true;
    const std::optional<std::string> property = to_optional_string(values[1], "property", ok);
    if (!ok) return nullptr;
    return json_result(zorvastatic::intersection_bundle(
        model, zorvastatic::SectionSpec::polyline(*line), property));
  });
}

PyObject* volume_bundle(const zorvastatic::StaticModel& model, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> values;
    if (!parse_arguments("volume_bundle", args, kwargs, {"property"}, 1, values)) return nullptr;
    const std::optional<std::string> property = to_string(values[0], "property");
    if (!property) return nullptr;
    return json_result(zorvastatic::volume_bundle(model, *property));
  });
}

}  // namespace zvpy
