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
  using Kind = zorvatools::AlgoError::Kind;
  PyObject* type = PyExc_ValueError;
  if (error.kind() == zorvastatic::StaticError::Kind::Algo) {
    if (error.algo().kind() == Kind::Interrupted) type = PyExc_KeyboardInterrupt;
    if (error.algo().kind() == Kind::OutOfMemory) type = PyExc_MemoryError;
  }
  PyErr_SetString(type, error.display().c_str());
  return nullptr;
}

}  // namespace zvpy
