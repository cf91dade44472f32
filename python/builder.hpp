#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zvpy {

// Creates the private _Builder type and adds it to the module.
bool register_builder(PyObject* module);

}  // namespace zvpy
