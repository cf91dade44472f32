#pragma once
// The model's arrays for the zorvastatic package: read-only views of ZCORN, COORD and the cubes
// (in memory, or straight into a spilled model's store), cell volumes by the engine's rule, and
// models made from arrays.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zorvastatic/model/model.hpp"

namespace zvpy {

// `self` is the model's Python handle: in-memory views keep it alive.
PyObject* model_zcorn(PyObject* self, const zorvastatic::StaticModel& model);
PyObject* model_coord(PyObject* self, const zorvastatic::StaticModel& model);
// None when the model has no cube of that name.
PyObject* model_cube(PyObject* self, const zorvastatic::StaticModel& model, PyObject* name);
// _cell_volumes(k_start=0, k_end=nk): the volumes of those layers, an _Array (layers, nj, ni).
PyObject* model_cell_volumes(const zorvastatic::StaticModel& model, PyObject* args,
                             PyObject* kwargs);
// _volume_table(regions=None, region_count=1, per_cell=False, fvfs=None): per zone, region and
// fluid (oil, gas, water) the bulk, net, pore and hydrocarbon pore volumes and the cell count,
// an _Array (zones, regions, 3, 5). `fvfs`, one (boi, bgi or None) per zone, is checked first.
PyObject* model_volume_table(const zorvastatic::StaticModel& model, PyObject* args,
                             PyObject* kwargs);

// _model_from_arrays(ni, nj, nk, coord, zcorn, actnum=None, cubes=(), zones=(), sw_gas=None,
// georef=None, outline=(), inputs_ref="arrays") -> StaticModel
extern PyMethodDef model_from_arrays_def;

}  // namespace zvpy
