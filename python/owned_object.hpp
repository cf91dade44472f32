#pragma once
// The layout every handle class shares: a Python object owning one C++ value, created whole in
// tp_new and destroyed in tp_dealloc.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <string_view>

namespace zvpy {

template <class T>
struct OwnedObject {
  PyObject ob_base;  // PyObject_HEAD
  T* value;
};

template <class T>
T& value_of(PyObject* self) {
  return *reinterpret_cast<OwnedObject<T>*>(self)->value;
}

// A new instance of `type` owning `value`; nullptr with an exception set on failure.
template <class T>
PyObject* new_owned(PyTypeObject* type, std::unique_ptr<T> value) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<OwnedObject<T>*>(self)->value = value.release();
  return self;
}

template <class T>
void dealloc_owned(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<OwnedObject<T>*>(self)->value;
  type->tp_free(self);
  Py_DECREF(type);  // instances of heap types hold a reference to their type
}

inline PyObject* to_py_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace zvpy
