// The _zorvastatic extension module: registration only; each class binds in its own file.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_zorvastatic",                          // m_name
    "The `_zorvastatic` extension module.",  // m_doc
    -1,                                      // m_size
    nullptr,                                 // m_methods
    nullptr,                                 // m_slots
    nullptr,                                 // m_traverse
    nullptr,                                 // m_clear
    nullptr,                                 // m_free
};

}  // namespace

PyMODINIT_FUNC PyInit__zorvastatic() {
  PyObject* module = PyModule_Create(&module_def);
  if (module == nullptr) return nullptr;
  if (PyModule_AddStringConstant(module, "__version__", ZV_VERSION) < 0) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
