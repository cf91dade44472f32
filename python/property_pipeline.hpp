#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zvpy {

bool register_property_pipeline(PyObject* module);

}  // namespace zvpy
