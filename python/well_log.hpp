#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zorvastatic/model/pipeline.hpp"

namespace zvpy {

bool register_well_log(PyObject* module);

// The core well of a WellLog handle, or nullptr when `object` is not one.
const zorvastatic::WellLog* well_of(PyObject* object);

}  // namespace zvpy
