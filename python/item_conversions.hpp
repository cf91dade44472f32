#pragma once
// Conversions of the items of sequence arguments, shared by the private entry points.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "py_ref.hpp"
#include "zorvastatic/model/wireframe.hpp"

namespace zvpy {

// Sets ValueError "argument '{name}': expected {expected}, got '{got}'"; returns nullptr.
PyObject* choice_error(const char* name, const std::string& got, const char* expected);

// Items of a tuple or list of exactly `count` entries (borrowed), else TypeError naming `name`.
bool unpack(PyObject* item, const char* name, std::size_t count, std::vector<PyObject*>& out);

// Calls `each` on every item of a sequence argument; false as soon as it fails.
template <class Each>
bool for_each_item(PyObject* value, const char* name, Each&& each) {
  auto items = to_sequence(value, name);
  if (!items) return false;
  PyRef list = PyRef::steal(*items);
  for (Py_ssize_t n = 0; n < PyList_GET_SIZE(list.get()); ++n) {
    if (!each(PyList_GET_ITEM(list.get(), n))) return false;
  }
  return true;
}

// "owc", "goc" or "gwc".
std::optional<zorvastatic::ContactKind> contact_kind(const std::string& text);

// Appends the contact of a (kind, depth) pair; false with the exception set on failure.
bool contact_from(PyObject* item, const char* name, std::vector<zorvastatic::Contact>& out);

}  // namespace zvpy
