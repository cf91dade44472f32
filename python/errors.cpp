#include "errors.hpp"

namespace zvpy {
namespace {

PyObject* fault_type = nullptr;

}  // namespace

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
  PyErr_SetString(PyExc_ValueError, error.display().c_str());
  return nullptr;
}

}  // namespace zvpy
