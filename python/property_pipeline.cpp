// The PropertyPipeline handle: well logs, an upscale method, a variogram and a seed lowered to
// the core pipeline; immutable after construction.

#include "property_pipeline.hpp"

#include <cmath>
#include <memory>

#include "arguments.hpp"
#include "build_flat_model.hpp"
#include "errors.hpp"
#include "names.hpp"
#include "owned_object.hpp"
#include "py_ref.hpp"
#include "static_model.hpp"
#include "well_log.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zvpy {
namespace {

using zorvastatic::PropertyPipeline;
using zorvastatic::UpscaleMethod;
using zorvatools::VariogramModel;

struct PipelineHandle {
  std::optional<std::uint64_t> max_neighbours;
  std::optional<double> radius_m;
  PropertyPipeline core;
  // The description used for reporting.
  std::string name;
  std::string method_text;
  std::string model_text;
  std::size_t well_count = 0;
  double range_m = 0;
  double minor_m = 0;
  double vertical_m = 0;
  double azimuth = 0;
  double sill = 0;
  double nugget = 0;
  std::uint64_t seed = 0;
  bool propagate = true;
  bool allow_mean_fill = false;
  bool unbounded_search = false;
};

const PipelineHandle& handle_of(PyObject* self) {
  return value_of<PipelineHandle>(self);
}

PyObject* value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  return nullptr;
}

// Unicode whitespace trimmed at both ends (str.strip()).
std::optional<std::string> stripped(PyObject* text) {
  PyRef result = PyRef::steal(PyObject_CallMethod(text, "strip", nullptr));
  if (!result) return std::nullopt;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(result.get(), &size);
  if (utf8 == nullptr) return std::nullopt;
  return std::string(utf8, static_cast<std::size_t>(size));
}

std::string ascii_lower(std::string text) {
  for (char& ch : text) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

bool finite_positive(double v) {
  return std::isfinite(v) && v > 0;
}

// The wells of the `wells` argument: a sequence of WellLog handles.
bool wells_from(PyObject* value, std::vector<zorvastatic::WellLog>& wells) {
  auto items = to_sequence(value, "wells");
  if (!items) return false;
  PyRef list = PyRef::steal(*items);
  const Py_ssize_t count = PyList_GET_SIZE(list.get());
  for (Py_ssize_t n = 0; n < count; ++n) {
    PyObject* item = PyList_GET_ITEM(list.get(), n);
    const zorvastatic::WellLog* well = well_of(item);
    if (well == nullptr) {
      raise_argument_error(
          PyExc_TypeError, "wells",
          std::string("'") + type_name(item) + "' object cannot be converted to 'WellLog'");
      return false;
    }
    wells.push_back(*well);
  }
  return true;
}

constexpr std::initializer_list<const char*> kParameters = {"name",
                                                            "wells",
                                                            "method",
                                                            "variogram_model",
                                                            "range_m",
                                                            "seed",
                                                            "sill",
                                                            "nugget",
                                                            "minor_m",
                                                            "vertical_m",
                                                            "azimuth",
                                                            "propagate",
                                                            "allow_mean_fill",
                                                            "max_neighbours",
                                                            "radius_m",
                                                            "unbounded_search"};

// The constructor's arguments after conversion, with their defaults.
struct PipelineArgs {
  std::string name;
  std::vector<zorvastatic::WellLog> wells;
  std::string method;
  std::string variogram_model;
  double range_m = 0;
  std::uint64_t seed = 0;
  double sill = 1.0;
  double nugget = 0.0;
  std::optional<double> minor_m;
  std::optional<double> vertical_m;
  double azimuth = 0.0;
  bool propagate = true;
  bool allow_mean_fill = false;
  std::optional<std::uint64_t> max_neighbours;
  std::optional<double> radius_m;
  bool unbounded_search = false;
};

// Every argument converted in parameter order; the first failure raises.
bool convert_arguments(const std::vector<PyObject*>& v, PipelineArgs& a) {
  return convert(v[0], "name", a.name) && wells_from(v[1], a.wells) &&
         convert(v[2], "method", a.method) && convert(v[3], "variogram_model", a.variogram_model) &&
         convert(v[4], "range_m", a.range_m) && convert(v[5], "seed", a.seed) &&
         convert(v[6], "sill", a.sill) && convert(v[7], "nugget", a.nugget) &&
         convert(v[8], "minor_m", a.minor_m) && convert(v[9], "vertical_m", a.vertical_m) &&
         convert(v[10], "azimuth", a.azimuth) && convert(v[11], "propagate", a.propagate) &&
         convert(v[12], "allow_mean_fill", a.allow_mean_fill) &&
         convert(v[13], "max_neighbours", a.max_neighbours) &&
         convert(v[14], "radius_m", a.radius_m) &&
         convert(v[15], "unbounded_search", a.unbounded_search);
}

PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("PropertyPipeline", args, kwargs, kParameters, 6, v)) return nullptr;
    PipelineArgs a;
    if (!convert_arguments(v, a)) return nullptr;
    // Names are trimmed of Unicode whitespace as str.strip() does, on the original objects.
    auto trimmed = stripped(v[0]);
    if (!trimmed) return nullptr;
    if (trimmed->empty()) return value_error("PropertyPipeline name must be non-empty");
    if (a.wells.empty()) return value_error("PropertyPipeline requires at least one WellLog");
    const double minor_m = a.minor_m.value_or(a.range_m);
    const double vertical_m = a.vertical_m.value_or(a.range_m);
    if (!finite_positive(a.range_m) || !finite_positive(minor_m) || !finite_positive(vertical_m)) {
      return value_error("PropertyPipeline variogram ranges must be finite and > 0");
    }
    if (!std::isfinite(a.azimuth)) return value_error("PropertyPipeline azimuth must be finite");
    if (!std::isfinite(a.sill) || !std::isfinite(a.nugget) || a.sill < 0 || a.nugget < 0) {
      return value_error("PropertyPipeline sill/nugget must be finite and >= 0");
    }
    if (a.radius_m && !finite_positive(*a.radius_m)) {
      return value_error("radius_m must be finite and > 0");
    }
    if (a.max_neighbours && *a.max_neighbours == 0) {
      return value_error("max_neighbours must be > 0");
    }
    auto method_stripped = stripped(v[2]);
    auto model_stripped = stripped(v[3]);
    if (!method_stripped || !model_stripped) return nullptr;
    const std::string method_text = ascii_lower(*method_stripped);
    const std::string model_text = ascii_lower(*model_stripped);
    const std::optional<UpscaleMethod> upscale = parse_upscale_method(method_text);
    if (!upscale) {
      return value_error("unknown upscale method '" + method_text +
                         "' (expected 'arithmetic', 'harmonic', or 'geometric')");
    }
    const std::optional<VariogramModel> structure = parse_variogram_model(model_text);
    if (!structure) {
      return value_error("unknown variogram model '" + model_text +
                         "' (expected 'spherical', 'exponential', or 'gaussian')");
    }

    auto variogram = zorvatools::AnisotropicVariogram{a.nugget,   a.sill,    a.range_m, minor_m,
                                                      vertical_m, a.azimuth, *structure}
                         .validated();
    if (!variogram) return value_error(variogram.error().display());
    auto handle = std::make_unique<PipelineHandle>();
    handle->core = PropertyPipeline::upscale_only(*trimmed, std::move(a.wells), *upscale);
    if (a.propagate) {
      if (a.max_neighbours.has_value() != a.radius_m.has_value()) {
        return value_error("max_neighbours and radius_m must be provided together");
      }
      zorvastatic::Gaussian step;
      if (a.max_neighbours) {
        step.search = zorvastatic::NeighbourSearch{*a.max_neighbours, *a.radius_m};
      }
      step.variogram = *variogram;
      step.seed = a.seed;
      step.allow_mean_fill = a.allow_mean_fill;
      step.unbounded_search = a.unbounded_search;
      handle->core.gaussian = std::move(step);
    }
    handle->max_neighbours = a.max_neighbours;
    handle->radius_m = a.radius_m;
    handle->name = *trimmed;
    handle->method_text = method_text;
    handle->model_text = model_text;
    handle->well_count = handle->core.upscale->wells.size();
    handle->range_m = a.range_m;
    handle->minor_m = minor_m;
    handle->vertical_m = vertical_m;
    handle->azimuth = variogram->azimuth;
    handle->sill = a.sill;
    handle->nugget = a.nugget;
    handle->seed = a.seed;
    handle->propagate = a.propagate;
    handle->allow_mean_fill = a.allow_mean_fill;
    handle->unbounded_search = a.unbounded_search;

    return new_owned(type, std::move(handle));
  });
}

PyObject* get_name(PyObject* self, void*) {
  return to_py_str(handle_of(self).name);
}

std::string report_text(const PipelineHandle& h) {
  using zorvatools::str_cat;
  return str_cat("PropertyPipeline(property='", h.name,
                 "', step=", h.propagate ? "upscale+gaussian" : "upscale", ", wells=", h.well_count,
                 ", method=", h.method_text, ", variogram=", h.model_text, " major_m=", h.range_m,
                 " minor_m=", h.minor_m, " vertical_m=", h.vertical_m, " azimuth=", h.azimuth,
                 " sill=", h.sill, " nugget=", h.nugget, " seed=", h.seed, ")");
}

PyObject* repr(PyObject* self) {
  return to_py_str(report_text(handle_of(self)));
}

PyObject* report(PyObject* self, PyObject*) {
  return repr(self);
}

PyObject* config(PyObject* self, PyObject*) {
  const PipelineHandle& h = handle_of(self);
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  auto set = [&](const char* key, PyObject* value) {
    if (value == nullptr) return false;
    const int status = PyDict_SetItemString(dict.get(), key, value);
    Py_DECREF(value);
    return status == 0;
  };
  auto boolean = [](bool b) { return PyBool_FromLong(b ? 1 : 0); };
  auto optional_u64 = [](const std::optional<std::uint64_t>& v) -> PyObject* {
    if (!v) Py_RETURN_NONE;
    return PyLong_FromUnsignedLongLong(*v);
  };
  auto optional_double = [](const std::optional<double>& v) -> PyObject* {
    if (!v) Py_RETURN_NONE;
    return PyFloat_FromDouble(*v);
  };
  const bool ok =
      set("property", to_py_str(h.name)) && set("well_count", PyLong_FromSize_t(h.well_count)) &&
      set("method", to_py_str(h.method_text)) && set("variogram_model", to_py_str(h.model_text)) &&
      set("range_m", PyFloat_FromDouble(h.range_m)) &&
      set("major_m", PyFloat_FromDouble(h.range_m)) &&
      set("minor_m", PyFloat_FromDouble(h.minor_m)) &&
      set("vertical_m", PyFloat_FromDouble(h.vertical_m)) &&
      set("azimuth", PyFloat_FromDouble(h.azimuth)) && set("sill", PyFloat_FromDouble(h.sill)) &&
      set("nugget", PyFloat_FromDouble(h.nugget)) &&
      set("seed", PyLong_FromUnsignedLongLong(h.seed)) && set("propagate", boolean(h.propagate)) &&
      set("allow_mean_fill", boolean(h.allow_mean_fill)) &&
      set("max_neighbours", optional_u64(h.max_neighbours)) &&
      set("radius_m", optional_double(h.radius_m)) &&
      set("unbounded_search", boolean(h.unbounded_search));
  return ok ? dict.release() : nullptr;
}

PyObject* apply_to_flat_model(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    zorvastatic::FlatModelParams params{.n = 11,
                                        .depth_m = 1000.0,
                                        .owc_m = 1100.0,
                                        .area_m2 = 10000.0,
                                        .gross_height_m = 20.0,
                                        .nk = 2,
                                        .porosity = 0.25,
                                        .net_to_gross = 0.8,
                                        .water_saturation = 0.3};
    if (!flat_model_params("apply_to_flat_model", args, kwargs, params)) return nullptr;
    auto model = build_flat(params, handle_of(self).core);
    if (!model) return raise_static_error(model.error());
    return wrap_model(std::move(*model));
  });
}

PyGetSetDef getset[] = {
    {"name", get_name, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"config", config, METH_NOARGS, ""},
    {"report", report, METH_NOARGS, ""},
    {"apply_to_flat_model",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(apply_to_flat_model)),
     METH_VARARGS | METH_KEYWORDS,
     "apply_to_flat_model($self, n=11, depth_m=1000.0, owc_m=1100.0, area_m2=10000.0, "
     "gross_height_m=20.0, nk=2, porosity=0.25, net_to_gross=0.8, water_saturation=0.3)\n--\n\n"
     "Smoke-apply this pipeline through the existing flat-model builder."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(create)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_owned<PipelineHandle>)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_getset, getset},
    {Py_tp_methods, methods},
    {Py_tp_doc,
     const_cast<char*>(
         "PropertyPipeline(name, wells, method, variogram_model, range_m, seed, sill=1.0, "
         "nugget=0.0, minor_m=None, vertical_m=None, azimuth=0.0, propagate=True, "
         "allow_mean_fill=False, max_neighbours=None, radius_m=None, unbounded_search=False)"
         "\n--\n\n"
         "A property-population pipeline: positioned well logs, an upscale method, a variogram\n"
         "and an SGS seed, lowered to the core `PropertyPipeline`.\n\n"
         "Applying a pipeline to an arbitrary mutable grid is intentionally not exposed until a\n"
         "grid binding exists; `apply_to_flat_model` is the smoke path through the existing\n"
         "flat-model builder.")},
    {0, nullptr},
};

PyType_Spec spec = {"_zorvastatic.PropertyPipeline", sizeof(OwnedObject<PipelineHandle>), 0,
                    Py_TPFLAGS_DEFAULT, slots};

}  // namespace

bool register_property_pipeline(PyObject* module) {
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) return false;
  const bool added = PyModule_AddObjectRef(module, "PropertyPipeline", type) == 0;
  Py_DECREF(type);
  return added;
}

}  // namespace zvpy
