// The _zorvastatic extension module: registration only; each class binds in its own file.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "build_flat_model.hpp"
#include "builder.hpp"
#include "call_monitor.hpp"
#include "engine_functions.hpp"
#include "errors.hpp"
#include "property_pipeline.hpp"
#include "py_ref.hpp"
#include "static_model.hpp"
#include "well_log.hpp"

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

bool add_function(PyObject* module, PyMethodDef* def) {
  zvpy::PyRef function = zvpy::PyRef::steal(PyCFunction_NewEx(def, nullptr, nullptr));
  if (!function) return false;
  return PyModule_AddObjectRef(module, def->ml_name, function.get()) == 0;
}

}  // namespace

PyMODINIT_FUNC PyInit__zorvastatic() {
  zvpy::PyRef module = zvpy::PyRef::steal(PyModule_Create(&module_def));
  if (!module) return nullptr;
  if (PyModule_AddStringConstant(module.get(), "__version__", ZV_VERSION) < 0) return nullptr;
  if (!zvpy::register_static_model(module.get())) return nullptr;
  if (!zvpy::register_well_log(module.get())) return nullptr;
  if (!zvpy::register_property_pipeline(module.get())) return nullptr;
  if (!add_function(module.get(), &zvpy::build_flat_model_def)) return nullptr;
  if (!zvpy::init_internal_fault_type()) return nullptr;
  if (PyModule_AddObjectRef(module.get(), "InternalFault", zvpy::internal_fault_type()) < 0) {
    return nullptr;
  }
  // Private members of the zorvastatic package, after every specified name.
  if (!zvpy::register_builder(module.get())) return nullptr;
  for (PyMethodDef* def :
       {&zvpy::register_error_types_def, &zvpy::set_max_threads_def, &zvpy::get_max_threads_def,
        &zvpy::solve_surface_def, &zvpy::set_progress_callback_def}) {
    if (!add_function(module.get(), def)) return nullptr;
  }
  return module.release();
}
