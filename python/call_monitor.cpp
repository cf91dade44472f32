#include "call_monitor.hpp"

#include "py_ref.hpp"

namespace zvpy {
namespace {

// The progress callback; only touched with the interpreter lock held.
PyObject* progress_callback = nullptr;

// Holds the interpreter lock for a scope, whether or not the thread held it already.
class InterpreterLock {
 public:
  InterpreterLock() : state_(PyGILState_Ensure()) {}
  InterpreterLock(const InterpreterLock&) = delete;
  InterpreterLock& operator=(const InterpreterLock&) = delete;
  ~InterpreterLock() { PyGILState_Release(state_); }

 private:
  PyGILState_STATE state_;
};

PyObject* set_progress_callback(PyObject*, PyObject* callback) {
  if (callback != Py_None && !PyCallable_Check(callback)) {
    PyErr_Format(PyExc_TypeError, "progress callback must be callable or None, not %s",
                 Py_TYPE(callback)->tp_name);
    return nullptr;
  }
  PyObject* previous = progress_callback != nullptr ? progress_callback : Py_None;
  progress_callback = callback == Py_None ? nullptr : Py_NewRef(callback);
  return previous == Py_None ? Py_NewRef(Py_None) : previous;  // hands over our reference
}

}  // namespace

PyMethodDef set_progress_callback_def = {
    "_set_progress_callback", set_progress_callback, METH_O,
    "_set_progress_callback(callback)\n--\n\nCalls `callback(stage, done, total, fraction)` every "
    "few milliseconds during long\nengine calls, on the thread that made the call: `done` of "
    "`total` units of\n`stage`, and `fraction` of the whole call (never decreasing). None removes "
    "it;\nan exception it raises stops the call. Returns the previous callback."};

PythonCallMonitor::~PythonCallMonitor() {
  if (type_ == nullptr) return;
  const InterpreterLock lock;
  Py_XDECREF(type_);
  Py_XDECREF(value_);
  Py_XDECREF(traceback_);
}

void PythonCallMonitor::keep_exception() {
  if (type_ != nullptr) {
    PyErr_Clear();
    return;
  }
  PyErr_Fetch(&type_, &value_, &traceback_);
}

bool PythonCallMonitor::should_stop() {
  const InterpreterLock lock;
  if (PyErr_CheckSignals() < 0) keep_exception();
  return stopped();
}

void PythonCallMonitor::progress(std::string_view stage, std::uint64_t done, std::uint64_t total,
                                 double fraction) {
  if (stage.empty() || stopped()) return;
  const InterpreterLock lock;
  if (progress_callback == nullptr) return;
  PyRef callback = PyRef::borrow(progress_callback);  // the callback may replace itself
  PyRef result = PyRef::steal(PyObject_CallFunction(
      callback.get(), "s#KKd", stage.data(), static_cast<Py_ssize_t>(stage.size()),
      static_cast<unsigned long long>(done), static_cast<unsigned long long>(total), fraction));
  if (!result) keep_exception();
}

void PythonCallMonitor::restore_exception() {
  PyErr_Restore(type_, value_, traceback_);
  type_ = value_ = traceback_ = nullptr;
}

}  // namespace zvpy
