#pragma once
// What a built model records about itself, as plain Python objects for the package: the
// private getters of the StaticModel handle.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zorvastatic/model/model.hpp"

namespace zvpy {

// (ni, nj, nk) cells, in memory or in the store.
PyObject* model_dims(const zorvastatic::StaticModel& model);
// [{"name", "top", "base", "label", "k_start", "k_end"}, ...] in zone order.
PyObject* model_zone_table(const zorvastatic::StaticModel& model);
// {"inputs_ref", "warnings", "reports", "stack"}: the build's provenance.
PyObject* model_provenance(const zorvastatic::StaticModel& model);
// The store file of a spilled model, else None.
PyObject* model_store_path(const zorvastatic::StaticModel& model);

}  // namespace zvpy
