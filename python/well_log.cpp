// The WellLog handle: a positioned well log, immutable after construction.

#include "well_log.hpp"

#include <cmath>
#include <memory>

#include "arguments.hpp"
#include "errors.hpp"
#include "owned_object.hpp"
#include "py_ref.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zvpy {
namespace {

using zorvastatic::WellLog;

PyTypeObject* well_type = nullptr;

const WellLog& well(PyObject* self) {
  return value_of<WellLog>(self);
}

// A (depth, value) pair from a tuple (or list) of two numbers.
bool sample_from(PyObject* item, std::pair<double, double>& sample) {
  if (!PyTuple_Check(item) && !PyList_Check(item)) {
    raise_argument_error(
        PyExc_TypeError, "samples",
        std::string("'") + type_name(item) + "' object cannot be converted to 'PyTuple'");
    return false;
  }
  const Py_ssize_t size = PySequence_Size(item);
  if (size != 2) {
    raise_argument_error(
        PyExc_TypeError, "samples",
        zorvatools::str_cat("expected tuple of length 2, but got ", type_name(item), " of length ",
                            static_cast<long>(size)));
    return false;
  }
  PyRef depth = PyRef::steal(PySequence_GetItem(item, 0));
  PyRef value = PyRef::steal(PySequence_GetItem(item, 1));
  if (!depth || !value) return false;
  auto d = to_double(depth.get(), "samples");
  if (!d) return false;
  auto v = to_double(value.get(), "samples");
  if (!v) return false;
  sample = {*d, *v};
  return true;
}

// Construction happens in tp_new, so that a handle is never seen half-made or re-initialised.
PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> values;
    if (!parse_arguments("WellLog", args, kwargs, {"x", "y", "samples"}, 3, values)) {
      return nullptr;
    }
    auto x = to_double(values[0], "x");
    if (!x) return nullptr;
    auto y = to_double(values[1], "y");
    if (!y) return nullptr;
    auto items = to_sequence(values[2], "samples");
    if (!items) return nullptr;
    PyRef list = PyRef::steal(*items);
    WellLog core{{}, *x, *y};
    const Py_ssize_t count = PyList_GET_SIZE(list.get());
    core.samples.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t n = 0; n < count; ++n) {
      std::pair<double, double> sample;
      if (!sample_from(PyList_GET_ITEM(list.get(), n), sample)) return nullptr;
      core.samples.push_back(sample);
    }
    if (!std::isfinite(core.x) || !std::isfinite(core.y)) {
      PyErr_SetString(PyExc_ValueError, "WellLog x/y must be finite");
      return nullptr;
    }
    if (core.samples.empty()) {
      PyErr_SetString(PyExc_ValueError, "WellLog samples must not be empty");
      return nullptr;
    }
    for (const auto& [depth, value] : core.samples) {
      if (!std::isfinite(depth) || !std::isfinite(value)) {
        PyErr_SetString(PyExc_ValueError, "WellLog samples must contain finite depth/value pairs");
        return nullptr;
      }
    }
    return new_owned(type, std::make_unique<WellLog>(std::move(core)));
  });
}

PyObject* samples_list(const WellLog& w) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(w.samples.size())));
  if (!list) return nullptr;
  for (std::size_t n = 0; n < w.samples.size(); ++n) {
    PyObject* pair = Py_BuildValue("(dd)", w.samples[n].first, w.samples[n].second);
    if (pair == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(n), pair);
  }
  return list.release();
}

PyObject* get_x(PyObject* self, void*) {
  return PyFloat_FromDouble(well(self).x);
}
PyObject* get_y(PyObject* self, void*) {
  return PyFloat_FromDouble(well(self).y);
}
PyObject* get_samples(PyObject* self, void*) {
  return samples_list(well(self));
}

PyObject* as_dict(PyObject* self, PyObject*) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  PyRef x = PyRef::steal(PyFloat_FromDouble(well(self).x));
  PyRef y = PyRef::steal(PyFloat_FromDouble(well(self).y));
  PyRef samples = PyRef::steal(samples_list(well(self)));
  if (!x || !y || !samples || PyDict_SetItemString(dict.get(), "x", x.get()) < 0 ||
      PyDict_SetItemString(dict.get(), "y", y.get()) < 0 ||
      PyDict_SetItemString(dict.get(), "samples", samples.get()) < 0) {
    return nullptr;
  }
  return dict.release();
}

PyObject* repr(PyObject* self) {
  const WellLog& w = well(self);
  const std::string text =
      zorvatools::str_cat("WellLog(x=", w.x, ", y=", w.y, ", samples=", w.samples.size(), ")");
  return to_py_str(text);
}

PyGetSetDef getset[] = {
    {"x", get_x, nullptr, nullptr, nullptr},
    {"y", get_y, nullptr, nullptr, nullptr},
    {"samples", get_samples, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"as_dict", as_dict, METH_NOARGS, ""},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(create)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_owned<WellLog>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_getset, getset},
    {Py_tp_methods, methods},
    {Py_tp_doc, const_cast<char*>("WellLog(x, y, samples)\n--\n\nA positioned well log for "
                                  "property-pipeline construction.")},
    {0, nullptr},
};

PyType_Spec spec = {"_zorvastatic.WellLog", sizeof(OwnedObject<WellLog>), 0, Py_TPFLAGS_DEFAULT,
                    slots};

}  // namespace

bool register_well_log(PyObject* module) {
  well_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  if (well_type == nullptr) return false;
  return PyModule_AddObjectRef(module, "WellLog", reinterpret_cast<PyObject*>(well_type)) == 0;
}

const WellLog* well_of(PyObject* object) {
  if (well_type == nullptr || !PyObject_TypeCheck(object, well_type)) return nullptr;
  return &value_of<WellLog>(object);
}

}  // namespace zvpy
