#pragma once
// Text of the grid keyword format's values, formatted natively for the GRDECL writer.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zvpy {

// _format_values(values, width=128) -> bytes
extern PyMethodDef format_values_def;

}  // namespace zvpy
