#pragma once
// The Python side of a long engine call: Ctrl-C and the progress callback. Every entry point
// opens one (see `guarded`); the engine asks it, on the calling thread every few milliseconds,
// whether to stop. It runs the interpreter's signal handlers under the interpreter lock (taken
// for the moment when the call released it), so a KeyboardInterrupt raised by the SIGINT
// handler, or any exception raised by a handler or by the progress callback, stops the call and
// is what Python sees when it returns.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zorvatools/foundation/call_scope.hpp"

namespace zvpy {

class PythonCallMonitor final : public zorvatools::CallMonitor {
 public:
  PythonCallMonitor() = default;
  PythonCallMonitor(const PythonCallMonitor&) = delete;
  PythonCallMonitor& operator=(const PythonCallMonitor&) = delete;
  ~PythonCallMonitor() override;

  bool should_stop() override;
  void progress(std::string_view stage, std::uint64_t done, std::uint64_t total,
                double fraction) override;

  // Whether an exception stopped the call.
  [[nodiscard]] bool stopped() const { return type_ != nullptr; }
  // Sets that exception as the current one (the interpreter lock held), replacing any other.
  void restore_exception();

 private:
  // Keeps the current exception (the lock held).
  void keep_exception();

  PyObject* type_ = nullptr;
  PyObject* value_ = nullptr;
  PyObject* traceback_ = nullptr;
};

// The function `_zorvastatic._set_progress_callback(callback)`: `callback(stage, done, total,
// fraction)` is called during long calls (None removes it). Returns the previous callback.
extern PyMethodDef set_progress_callback_def;

}  // namespace zvpy
