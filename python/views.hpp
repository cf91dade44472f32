#pragma once
// The three view methods of the StaticModel handle: argument conversion and the JSON result.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zorvastatic/model/model.hpp"

namespace zvpy {

// map_bundle(property=None, k_slice=None)
PyObject* map_bundle(const zorvastatic::StaticModel& model, PyObject* args, PyObject* kwargs);
// intersection_bundle(line, property=None)
PyObject* intersection_bundle(const zorvastatic::StaticModel& model, PyObject* args,
                              PyObject* kwargs);
// volume_bundle(property)
PyObject* volume_bundle(const zorvastatic::StaticModel& model, PyObject* args, PyObject* kwargs);

}  // namespace zvpy
