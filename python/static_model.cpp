// The StaticModel handle: owns one built model for its lifetime; every method only reads it.

#include "static_model.hpp"

#include <memory>

#include "arguments.hpp"
#include "errors.hpp"
#include "model_arrays.hpp"
#include "model_records.hpp"
#include "owned_object.hpp"
#include "py_ref.hpp"
#include "views.hpp"
#include "zorvastatic/volumetrics/fvf.hpp"
#include "zorvastatic/volumetrics/zone_report.hpp"

namespace zvpy {
namespace {

using zorvastatic::InPlace;
using zorvastatic::StaticModel;

PyTypeObject* model_type = nullptr;

const StaticModel& model_of(PyObject* self) {
  return value_of<StaticModel>(self);
}

PyObject* property_names(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const auto& cubes = model_of(self).property_names();
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(cubes.size())));
    if (!list) return nullptr;
    for (std::size_t n = 0; n < cubes.size(); ++n) {
      PyObject* name = to_py_str(cubes[n]);
      if (name == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(n), name);
    }
    return list.release();
  });
}

PyObject* bulk_volume(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const zorvastatic::Result<double> volume = model_of(self).bulk_volume();
    if (!volume) return raise_static_error(volume.error());
    return PyFloat_FromDouble(*volume);
  });
}

bool set_item(PyObject* dict, const char* key, PyObject* value) {
  if (value == nullptr) return false;
  const int status = PyDict_SetItemString(dict, key, value);
  Py_DECREF(value);
  return status == 0;
}

// The in-place dict; the FVF checks run after the computation. The dict holds totals only, so
// no per-cell HCPV cube is made for it (a cube the size of the grid, written and dropped).
PyObject* in_place_common(PyObject* self, PyObject* args, PyObject* kwargs, const char* function) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> values;
    if (!parse_arguments(function, args, kwargs, {"boi", "bgi"}, 0, values)) return nullptr;
    double boi = 1.0;
    std::optional<double> bgi;
    if (!convert(values[0], "boi", boi) || !convert(values[1], "bgi", bgi)) return nullptr;

    auto in_place = model_of(self).in_place_impl(false);
    if (!in_place) return raise_static_error(in_place.error());
    if (auto status = zorvastatic::require_oil_fvf(boi); !status) {
      return raise_static_error(status.error());
    }
    std::optional<double> ogip;
    if (bgi) {
      auto gas_fvf = zorvastatic::GasFvf::create(*bgi);
      if (!gas_fvf) return raise_static_error(gas_fvf.error());
      auto gas = gas_fvf->stock_tank_volume(in_place->hcpv_m3);
      if (!gas) return raise_static_error(gas.error());
      ogip = *gas;
    }
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    if (!set_item(dict.get(), "grv_m3", PyFloat_FromDouble(in_place->grv_m3)) ||
        !set_item(dict.get(), "hcpv_m3", PyFloat_FromDouble(in_place->hcpv_m3)) ||
        !set_item(dict.get(), "cells_in_column", PyLong_FromSize_t(in_place->cells)) ||
        !set_item(dict.get(), "ooip_sm3", PyFloat_FromDouble(in_place->hcpv_m3 / boi))) {
      return nullptr;
    }
    if (ogip && !set_item(dict.get(), "ogip_sm3", PyFloat_FromDouble(*ogip))) {
      return nullptr;
    }
    return dict.release();
  });
}

PyObject* in_place(PyObject* self, PyObject* args, PyObject* kwargs) {
  return in_place_common(self, args, kwargs, "in_place");
}

PyObject* in_place_summary(PyObject* self, PyObject* args, PyObject* kwargs) {
  return in_place_common(self, args, kwargs, "in_place_summary");
}

PyObject* in_place_by_zone(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> values;
    if (!parse_arguments("in_place_by_zone", args, kwargs, {"boi"}, 0, values)) return nullptr;
    double boi = 1.0;
    if (!convert(values[0], "boi", boi)) return nullptr;
    if (auto status = zorvastatic::require_oil_fvf(boi); !status) {
      return raise_static_error(status.error());
    }
    auto zoned = model_of(self).in_place_by_zone();
    if (!zoned) return raise_static_error(zoned.error());
    const std::string json = zorvastatic::zoned_in_place_json(*zoned, boi);
    return to_py_str(json);
  });
}

PyObject* map_bundle_method(PyObject* self, PyObject* args, PyObject* kwargs) {
  return map_bundle(model_of(self), args, kwargs);
}

PyObject* intersection_bundle_method(PyObject* self, PyObject* args, PyObject* kwargs) {
  return intersection_bundle(model_of(self), args, kwargs);
}

PyObject* volume_bundle_method(PyObject* self, PyObject* args, PyObject* kwargs) {
  return volume_bundle(model_of(self), args, kwargs);
}

// Private getters for the zorvastatic package.
PyObject* private_dims(PyObject* self, PyObject*) {
  return guarded([&] { return model_dims(model_of(self)); });
}
PyObject* private_zone_table(PyObject* self, PyObject*) {
  return guarded([&] { return model_zone_table(model_of(self)); });
}
PyObject* private_provenance(PyObject* self, PyObject*) {
  return guarded([&] { return model_provenance(model_of(self)); });
}
PyObject* private_spilled(PyObject* self, PyObject*) {
  return PyBool_FromLong(model_of(self).spilled() ? 1 : 0);
}
PyObject* private_store_path(PyObject* self, PyObject*) {
  return guarded([&] { return model_store_path(model_of(self)); });
}

PyObject* private_zcorn(PyObject* self, PyObject*) {
  return guarded([&] { return model_zcorn(self, model_of(self)); });
}
PyObject* private_coord(PyObject* self, PyObject*) {
  return guarded([&] { return model_coord(self, model_of(self)); });
}
PyObject* private_cube(PyObject* self, PyObject* name) {
  return guarded([&] { return model_cube(self, model_of(self), name); });
}
PyObject* private_cell_volumes(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] { return model_cell_volumes(model_of(self), args, kwargs); });
}
PyObject* private_volume_table(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] { return model_volume_table(model_of(self), args, kwargs); });
}

#define ZV_KW_METHOD(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyMethodDef methods[] = {
    {"property_names", property_names, METH_NOARGS,
     "property_names($self)\n--\n\nThe names of the populated property cubes."},
    {"bulk_volume", bulk_volume, METH_NOARGS,
     "bulk_volume($self)\n--\n\nGross rock volume of the whole grid \\[m³\\]."},
    {"in_place", ZV_KW_METHOD(in_place), METH_VARARGS | METH_KEYWORDS,
     "in_place($self, boi=1.0, bgi=None)\n--\n\nIn-place volumes of the whole model, clipped by "
     "its fluid contacts: a dict with\n\"grv_m3\", \"hcpv_m3\", \"cells_in_column\", "
     "\"ooip_sm3\" and, when `bgi` is given, \"ogip_sm3\"."},
    {"in_place_summary", ZV_KW_METHOD(in_place_summary), METH_VARARGS | METH_KEYWORDS,
     "in_place_summary($self, boi=1.0, bgi=None)\n--\n\nSummary-only in-place (no per-cell "
     "HCPV cube) — same aggregate dict shape\nas [`StaticModel::in_place`]."},
    {"in_place_by_zone", ZV_KW_METHOD(in_place_by_zone), METH_VARARGS | METH_KEYWORDS,
     "in_place_by_zone($self, boi=1.0)\n--\n\nPer-zone in-place with a total rollup, as a JSON "
     "string:\n{\"total\": {\"grv_m3\", \"hcpv_m3\", \"ooip_sm3\"},\n \"zones\": [{\"grv_m3\", "
     "\"hcpv_m3\", \"ooip_sm3\", \"zone\"}, ...]}\nwith keys in ascending order and zones in "
     "zone-table order."},
    {"map_bundle", ZV_KW_METHOD(map_bundle_method), METH_VARARGS | METH_KEYWORDS,
     "map_bundle($self, property=None, k_slice=None)\n--\n\nPlan-view map bundle as a JSON "
     "string: the column frame, the outline, the top\nand base depth maps, the zone averages and "
     "optional k-slice of `property`,\nthe wells with their tie residuals and one crossing mask "
     "per fluid contact."},
    {"intersection_bundle", ZV_KW_METHOD(intersection_bundle_method), METH_VARARGS | METH_KEYWORDS,
     "intersection_bundle($self, line, property=None)\n--\n\nVertical section along the world "
     "polyline `line` ([x, y] vertices) as a JSON\nstring: per crossed column the top and base "
     "depth of every layer, its zone\nand the value of `property`, with the zone boundaries, "
     "zones, contacts and\nframe."},
    {"volume_bundle", ZV_KW_METHOD(volume_bundle_method), METH_VARARGS | METH_KEYWORDS,
     "volume_bundle($self, property)\n--\n\nExterior shell of the cells where `property` is "
     "defined, as a JSON string:\na triangle mesh with shared vertices, one value and one zone "
     "per shell cell."},
    {"_dims", private_dims, METH_NOARGS, "_dims($self)\n--\n\n(ni, nj, nk) cells."},
    {"_zone_table", private_zone_table, METH_NOARGS,
     "_zone_table($self)\n--\n\nThe zone table as a list of dicts."},
    {"_provenance", private_provenance, METH_NOARGS,
     "_provenance($self)\n--\n\nThe build provenance as a dict."},
    {"_spilled", private_spilled, METH_NOARGS,
     "_spilled($self)\n--\n\nWhether the model lives in a store file."},
    {"_store_path", private_store_path, METH_NOARGS,
     "_store_path($self)\n--\n\nThe store file of a spilled model, else None."},
    {"_zcorn", private_zcorn, METH_NOARGS,
     "_zcorn($self)\n--\n\nZCORN as a read-only _Array (nk, nj, ni, 8), float32 when spilled."},
    {"_coord", private_coord, METH_NOARGS,
     "_coord($self)\n--\n\nCOORD as a read-only _Array (nj + 1, ni + 1, 6), local frame."},
    {"_cube", private_cube, METH_O,
     "_cube($self, name, /)\n--\n\nA cube as a read-only _Array (nk, nj, ni), else None."},
    {"_cell_volumes", ZV_KW_METHOD(private_cell_volumes), METH_VARARGS | METH_KEYWORDS,
     "_cell_volumes($self, k_start=0, k_end=None)\n--\n\nThe bulk volume of every cell of "
     "layers [k_start, k_end), an _Array (layers, nj, ni)."},
    {"_volume_table", ZV_KW_METHOD(private_volume_table), METH_VARARGS | METH_KEYWORDS,
     "_volume_table($self, regions=None, region_count=1, per_cell=False, fvfs=None)\n--\n\n"
     "Bulk, net, pore and hydrocarbon pore volumes and cell counts per zone, region and fluid "
     "(oil, gas, water): an _Array (zones, regions, 3, 5)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_owned<StaticModel>)},
    {Py_tp_methods, methods},
    {Py_tp_doc,
     const_cast<char*>("A populated static reservoir model: the Python handle over the core "
                       "`StaticModel`.\n\nConstruct one with `build_flat_model` (or "
                       "`PropertyPipeline.apply_to_flat_model`).")},
    {0, nullptr},
};

PyType_Spec spec = {
    "_zorvastatic.StaticModel",
    sizeof(OwnedObject<StaticModel>),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

}  // namespace

bool register_static_model(PyObject* module) {
  model_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  if (model_type == nullptr) return false;
  Py_INCREF(model_type);
  if (PyModule_AddObject(module, "StaticModel", reinterpret_cast<PyObject*>(model_type)) < 0) {
    Py_DECREF(model_type);
    return false;
  }
  return true;
}

PyObject* wrap_model(StaticModel model) {
  return new_owned(model_type, std::make_unique<StaticModel>(std::move(model)));
}

}  // namespace zvpy
