#pragma once
// Array arguments of the private entry points: any C-contiguous float64 buffer (a numpy array,
// a memoryview, array.array('d')), copied into the engine's own storage. No numpy headers.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <vector>

namespace zvpy {

// The buffer's values, in memory order; `expected` (when given) is the required value count.
// Nothing, with TypeError or ValueError naming the argument, on failure.
std::optional<std::vector<double>> doubles_from_buffer(PyObject* value, const char* name,
                                                       std::optional<std::size_t> expected = {});

}  // namespace zvpy
