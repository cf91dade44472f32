#pragma once
// The one place where engine errors become Python exceptions.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>

#include "call_monitor.hpp"
#include "zorvastatic/error.hpp"
#include "zorvatools/foundation/allocation_failure.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zvpy {

// The exception class of broken internal invariants: derived directly from BaseException, so
// that `except Exception` does not swallow it. Created at module initialisation.
PyObject* internal_fault_type();
bool init_internal_fault_type();

// Raises ValueError with the error's display text; an allocation failure raises MemoryError
// with it and a stopped call KeyboardInterrupt (replaced by `guarded` with the exception that
// stopped it). Returns nullptr for `return raise(...)`. The entry points of the specified
// interface raise this way.
PyObject* raise_static_error(const zorvastatic::StaticError& error);

// Raises the class registered for the error's kind (a ValueError subclass) with the display
// text, CrossedSurfaces with `nodes` and `worst_m`, McDraw with `index`; plain ValueError
// until classes are registered. A stopped call or an allocation failure raises as above. The
// private entry points raise this way.
PyObject* raise_engine_error(const zorvastatic::StaticError& error);

// _register_error_types(types): a dict from kind name ("algo", "invalid_input", "grid",
// "out_of_range", "crossed_surfaces", "mc_draw") to a ValueError subclass.
extern PyMethodDef register_error_types_def;

// Runs `body` (returning a new reference or nullptr with an exception set) as one engine call:
// Ctrl-C and the progress callback reach it (call_monitor.hpp), and C++ exceptions become Python
// ones. When an exception stopped the call, that exception is raised and any result dropped.
template <class Body>
PyObject* guarded(Body&& body) {
  PythonCallMonitor monitor;
  PyObject* result = nullptr;
  {
    const zorvatools::CallScope scope(monitor);
    try {
      result = body();
    } catch (const zorvatools::InternalFault& fault) {
      PyErr_SetString(internal_fault_type(), fault.what());
    } catch (const std::bad_alloc&) {
      PyErr_SetString(PyExc_MemoryError,
                      zorvatools::out_of_memory("handling the call").display().c_str());
    } catch (const std::exception& error) {
      PyErr_SetString(internal_fault_type(), error.what());
    }
  }
  if (monitor.stopped()) {
    Py_XDECREF(result);
    monitor.restore_exception();
    return nullptr;
  }
  return result;
}

}  // namespace zvpy
