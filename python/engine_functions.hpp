#pragma once
// Private module functions: _set_max_threads, _get_max_threads, _solve_surface.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zvpy {

extern PyMethodDef set_max_threads_def;
extern PyMethodDef get_max_threads_def;
extern PyMethodDef solve_surface_def;

}  // namespace zvpy
