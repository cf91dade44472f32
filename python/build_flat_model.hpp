#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zorvastatic/model/flat_model.hpp"

namespace zvpy {

// Converts the nine flat-model arguments (all optional, by position or keyword); false with an
// exception set on failure.
bool flat_model_params(const char* function, PyObject* args, PyObject* kwargs,
                       zorvastatic::FlatModelParams& params);

extern PyMethodDef build_flat_model_def;

}  // namespace zvpy
