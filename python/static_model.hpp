#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zorvastatic/model/model.hpp"

namespace zvpy {

// Creates the StaticModel type (no Python constructor) and adds it to the module.
bool register_static_model(PyObject* module);

// A new StaticModel handle owning `model`.
PyObject* wrap_model(zorvastatic::StaticModel model);

}  // namespace zvpy
