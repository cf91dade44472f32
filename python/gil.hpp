#pragma once
// Work that runs with the interpreter lock released.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace zvpy {

// Runs `work` without the interpreter lock and takes it back on every path, exceptions
// included. `work` must not touch any Python object.
template <class Work>
decltype(auto) without_gil(Work&& work) {
  struct Reacquire {
    PyThreadState* state;
    ~Reacquire() { PyEval_RestoreThread(state); }
  } reacquire{PyEval_SaveThread()};
  return work();
}

}  // namespace zvpy
