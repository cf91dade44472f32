#include "errors.hpp"

#include <array>
#include <string>

#include "py_ref.hpp"

namespace zvpy {
namespace {

using zorvastatic::StaticError;

PyObject* fault_type = nullptr;

// One class per StaticError kind, in kind order; strong references held for the process.
constexpr std::array<const char*, 6> kKindNames = {"algo",         "invalid_input",    "grid",
                                                   "out_of_range", "crossed_surfaces", "mc_draw"};
std::array<PyObject*, 6> engine_types{};

bool set_attribute(PyObject* object, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  const int status = PyObject_SetAttrString(object, name, value);
  Py_DECREF(value);
  return status == 0;
}

PyObject* register_error_types(PyObject*, PyObject* types) {
  if (!PyDict_Check(types)) {
    PyErr_SetString(PyExc_TypeError, "_register_error_types expects a dict");
    return nullptr;
  }
  std::array<PyObject*, 6> found{};
  for (std::size_t k = 0; k < kKindNames.size(); ++k) {
    PyObject* type = PyDict_GetItemString(types, kKindNames[k]);  // borrowed
    if (type == nullptr || !PyType_Check(type) ||
        !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type),
                          reinterpret_cast<PyTypeObject*>(PyExc_ValueError))) {
      PyErr_Format(PyExc_TypeError, "_register_error_types: '%s' must map to a ValueError subclass",
                   kKindNames[k]);
      return nullptr;
    }
    found[k] = type;
  }
  for (std::size_t k = 0; k < kKindNames.size(); ++k) {
    Py_INCREF(found[k]);
    Py_XDECREF(engine_types[k]);
    engine_types[k] = found[k];
  }
  Py_RETURN_NONE;
}

}  // namespace

PyMethodDef register_error_types_def = {
    "_register_error_types", register_error_types, METH_O,
    "_register_error_types(types, /)\n--\n\nThe exception class of each engine error kind, for "
    "the private entry points."};

PyObject* internal_fault_type() {
  return fault_type;
}

bool init_internal_fault_type() {
  if (fault_type != nullptr) return true;
  fault_type = PyErr_NewExceptionWithDoc(
      "_zorvastatic.InternalFault",
      "A broken internal invariant of the engine (not reachable from valid input).",
      PyExc_BaseException, nullptr);
  return fault_type != nullptr;
}

PyObject* raise_static_error(const zorvastatic::StaticError& error) {
  using Kind = zorvatools::AlgoError::Kind;
  PyObject* type = PyExc_ValueError;
  if (error.kind() == zorvastatic::StaticError::Kind::Algo) {
    if (error.algo().kind() == Kind::Interrupted) type = PyExc_KeyboardInterrupt;
    if (error.algo().kind() == Kind::OutOfMemory) type = PyExc_MemoryError;
  }
  PyErr_SetString(type, error.display().c_str());
  return nullptr;
}

PyObject* raise_engine_error(const StaticError& error) {
  if (!error.wrappable()) return raise_static_error(error);  // KeyboardInterrupt or MemoryError
  PyObject* type = engine_types[static_cast<std::size_t>(error.kind())];
  if (type == nullptr) return raise_static_error(error);
  const std::string text = error.display();
  PyRef message =
      PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  if (!message) return nullptr;
  PyRef exception = PyRef::steal(PyObject_CallOneArg(type, message.get()));
  if (!exception) return nullptr;
  switch (error.kind()) {
    case StaticError::Kind::CrossedSurfaces:
      if (!set_attribute(exception.get(), "nodes", PyLong_FromUnsignedLongLong(error.nodes())) ||
          !set_attribute(exception.get(), "worst_m", PyFloat_FromDouble(error.worst_m()))) {
        return nullptr;
      }
      break;
    case StaticError::Kind::McDraw:
      if (!set_attribute(exception.get(), "index", PyLong_FromUnsignedLongLong(error.index()))) {
        return nullptr;
      }
      break;
    default:
      break;
  }
  PyErr_SetObject(type, exception.get());
  return nullptr;
}

}  // namespace zvpy
