#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>

#include "zorvastatic/model/flat_model.hpp"

namespace zvpy {

// Converts the nine flat-model arguments (all optional, by position or keyword); false with an
// exception set on failure.
bool flat_model_params(const char* function, PyObject* args, PyObject* kwargs,
                       zorvastatic::FlatModelParams& params);

// Builds the flat model, with `pipeline` as its whole-grid pipeline when given.
zorvastatic::Result<zorvastatic::StaticModel> build_flat(
    const zorvastatic::FlatModelParams& params,
    const std::optional<zorvastatic::PropertyPipeline>& pipeline);

extern PyMethodDef build_flat_model_def;

}  // namespace zvpy
