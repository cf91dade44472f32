#pragma once
// The one place where engine errors become Python exceptions.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>

#include "zorvastatic/error.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zvpy {

// The exception class of broken internal invariants: derived directly from BaseException, so
// that `except Exception` does not swallow it. Created at module initialisation.
PyObject* internal_fault_type();
bool init_internal_fault_type();

// Raises ValueError with the error's display text; returns nullptr for `return raise(...)`.
PyObject* raise_static_error(const zorvastatic::StaticError& error);

// Runs `body` (returning a new reference or nullptr with an exception set), turning C++
// exceptions into Python ones.
template <class Body>
PyObject* guarded(Body&& body) {
  try {
    return body();
  } catch (const zorvatools::InternalFault& fault) {
    PyErr_SetString(internal_fault_type(), fault.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    PyErr_SetString(internal_fault_type(), error.what());
  }
  return nullptr;
}

}  // namespace zvpy
