#pragma once
// _Array: a read-only buffer over memory that something else owns (a model handle, a spilled
// store, or the array's own vector). numpy and memoryview consume it without copying; the
// exporter keeps the owner alive for as long as any consumer holds a view.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <vector>

namespace zvpy {

// One exported array: element format "d" (float64) or "f" (float32), shape and byte strides.
struct ArrayLayout {
  const void* data = nullptr;
  bool single = false;  // float32 when set, else float64
  std::vector<Py_ssize_t> shape;
  std::vector<Py_ssize_t> strides;  // bytes; C order when left empty
};

// A new _Array over `layout.data`, alive while `owner` (a Python object, may be null) and
// `keep` (a shared C++ owner, may be null) are. nullptr with an exception set on failure.
PyObject* export_array(ArrayLayout layout, PyObject* owner, std::shared_ptr<const void> keep);

// The same over a vector the array takes over.
PyObject* export_owned(std::vector<double> values, std::vector<Py_ssize_t> shape);

bool register_array(PyObject* module);

}  // namespace zvpy
