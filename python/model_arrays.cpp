#include "model_arrays.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "arguments.hpp"
#include "array_export.hpp"
#include "buffers.hpp"
#include "errors.hpp"
#include "gil.hpp"
#include "item_conversions.hpp"
#include "py_ref.hpp"
#include "static_model.hpp"
#include "zorvastatic/model/arrays_model.hpp"
#include "zorvastatic/spill/backing.hpp"
#include "zorvastatic/volumetrics/fvf.hpp"
#include "zorvastatic/volumetrics/slab_source.hpp"
#include "zorvastatic/volumetrics/volume_table.hpp"
#include "zorvatools/foundation/allocation_failure.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/large_array.hpp"

namespace zvpy {
namespace {

using namespace zorvastatic;

static_assert(std::is_standard_layout_v<Pillar> && sizeof(Pillar) == 6 * sizeof(double),
              "COORD is exported as six doubles per pillar");

Py_ssize_t ssize(std::size_t n) {
  return static_cast<Py_ssize_t>(n);
}

// A slab lane of the store as one array: shape (nk, *per_slab), slab k at the lane's own
// offset. Slabs lie back to back in the store; the stride is taken from the mapping all the
// same, so a padded layout would still be exported without a copy.
PyObject* lane_array(const std::shared_ptr<const SpillBacking>& backing, const std::string& lane,
                     std::vector<Py_ssize_t> per_slab) {
  const zorvatools::store::Store& store = backing->store();
  const std::size_t nk = backing->dims().nk;
  auto first = store.slab_f32(lane, 0);
  if (!first) return raise_engine_error(StaticError(first.error()));
  Py_ssize_t slab_stride = ssize(first->size() * sizeof(float));
  if (nk > 1) {
    auto second = store.slab_f32(lane, 1);
    if (!second) return raise_engine_error(StaticError(second.error()));
    slab_stride = reinterpret_cast<const char*>(second->data()) -
                  reinterpret_cast<const char*>(first->data());
  }
  ArrayLayout layout{first->data(), true, {ssize(nk)}, {slab_stride}};
  Py_ssize_t step = sizeof(float);
  std::vector<Py_ssize_t> inner(per_slab.size());
  for (std::size_t d = per_slab.size(); d-- > 0;) {
    inner[d] = step;
    step *= per_slab[d];
  }
  layout.shape.insert(layout.shape.end(), per_slab.begin(), per_slab.end());
  layout.strides.insert(layout.strides.end(), inner.begin(), inner.end());
  return export_array(std::move(layout), nullptr, backing);
}

// Volumes of the cells of layers [k_start, k_end), cell order.
Result<std::vector<double>> cell_volumes(const StaticModel& model, std::size_t k_start,
                                         std::size_t k_end) {
  const Dims dims = model.spilled() ? model.spill->dims() : model.grid.dims();
  const std::size_t layer = dims.layer_cells();
  std::vector<double> volumes = zorvatools::large_array((k_end - k_start) * layer, 0.0);
  if (model.spilled()) {
    const SpillSource source(*model.spill);
    for (std::size_t k = k_start; k < k_end; ++k) {
      ZV_TRY(zorvatools::poll_call("computing cell volumes", k - k_start, k_end - k_start));
      ZV_ASSIGN_OR_RETURN(const CellSlab slab, source.slab(k));
      double* out = volumes.data() + (k - k_start) * layer;
      for (std::size_t c = 0; c < layer; ++c) out[c] = slab.cell_volume(c);
    }
    return volumes;
  }
  const CornerPointGeom& geom = model.grid.geom;
  for (std::size_t k = k_start; k < k_end; ++k) {
    ZV_TRY(zorvatools::poll_call("computing cell volumes", k - k_start, k_end - k_start));
    double* out = volumes.data() + (k - k_start) * layer;
    for (std::size_t c = 0; c < layer; ++c) out[c] = geom.cell_volume_at(k * layer + c);
  }
  return volumes;
}

}  // namespace

PyObject* model_zcorn(PyObject* self, const StaticModel& model) {
  const Dims dims = model.spilled() ? model.spill->dims() : model.grid.dims();
  std::vector<Py_ssize_t> per_layer{ssize(dims.nj), ssize(dims.ni), 8};
  if (model.spilled()) return lane_array(model.spill, "ZCORN", std::move(per_layer));
  per_layer.insert(per_layer.begin(), ssize(dims.nk));
  return export_array({model.grid.geom.zcorn().data(), false, std::move(per_layer), {}}, self,
                      nullptr);
}

PyObject* model_coord(PyObject* self, const StaticModel& model) {
  const Dims dims = model.spilled() ? model.spill->dims() : model.grid.dims();
  const std::vector<Pillar>& pillars =
      model.spilled() ? model.spill->pillars() : model.grid.geom.pillars();
  ArrayLayout layout{pillars.data(), false, {ssize(dims.nj + 1), ssize(dims.ni + 1), 6}, {}};
  if (model.spilled()) return export_array(std::move(layout), nullptr, model.spill);
  return export_array(std::move(layout), self, nullptr);
}

PyObject* model_cube(PyObject* self, const StaticModel& model, PyObject* name) {
  auto text = to_string(name, "name");
  if (!text) return nullptr;
  if (model.spilled()) {
    if (!model.spill->has_cube(*text)) Py_RETURN_NONE;
    const Dims dims = model.spill->dims();
    return lane_array(model.spill, *text, {ssize(dims.nj), ssize(dims.ni)});
  }
  const Property* cube = model.grid.properties.get(*text);
  if (cube == nullptr) Py_RETURN_NONE;
  const Dims& dims = model.grid.dims();
  return export_array(
      {cube->values.data(), false, {ssize(dims.nk), ssize(dims.nj), ssize(dims.ni)}, {}}, self,
      nullptr);
}

PyObject* model_cell_volumes(const StaticModel& model, PyObject* args, PyObject* kwargs) {
  const Dims dims = model.spilled() ? model.spill->dims() : model.grid.dims();
  std::vector<PyObject*> v;
  if (!parse_arguments("_cell_volumes", args, kwargs, {"k_start", "k_end"}, 0, v)) return nullptr;
  std::uint64_t k_start = 0;
  std::optional<std::uint64_t> last;
  if (!convert(v[0], "k_start", k_start) || !convert(v[1], "k_end", last)) return nullptr;
  const std::uint64_t k_end = last.value_or(dims.nk);
  if (k_start > k_end || k_end > dims.nk) {
    raise_argument_error(PyExc_ValueError, "k_end",
                         "layers [" + std::to_string(k_start) + ", " + std::to_string(k_end) +
                             ") are not within [0, " + std::to_string(dims.nk) + ")");
    return nullptr;
  }
  Result<std::vector<double>> volumes = without_gil([&] {
    return zorvatools::catch_allocation_failure(
        "computing cell volumes", [&] { return cell_volumes(model, k_start, k_end); });
  });
  if (!volumes) return raise_engine_error(volumes.error());
  return export_owned(std::move(*volumes),
                      {ssize(k_end - k_start), ssize(dims.nj), ssize(dims.ni)});
}

namespace {

// A zone's (boi, bgi) pair, checked with the engine's messages; bgi may be None.
bool check_fvf(PyObject* item) {
  std::vector<PyObject*> parts;
  if (!unpack(item, "fvfs", 2, parts)) return false;
  double boi = 1.0;
  std::optional<double> bgi;
  if (!convert(parts[0], "fvfs", boi) || !convert(parts[1], "fvfs", bgi)) return false;
  if (auto status = require_oil_fvf(boi); !status) {
    raise_engine_error(status.error());
    return false;
  }
  if (bgi) {
    if (auto gas = GasFvf::create(*bgi); !gas) {
      raise_engine_error(gas.error());
      return false;
    }
  }
  return true;
}

}  // namespace

PyObject* model_volume_table(const StaticModel& model, PyObject* args, PyObject* kwargs) {
  std::vector<PyObject*> v;
  if (!parse_arguments("_volume_table", args, kwargs,
                       {"regions", "region_count", "per_cell", "fvfs"}, 0, v)) {
    return nullptr;
  }
  std::uint64_t count = 1;
  bool per_cell = false;
  if (!convert(v[1], "region_count", count) || !convert(v[2], "per_cell", per_cell)) return nullptr;
  if (v[3] != nullptr && v[3] != Py_None && !for_each_item(v[3], "fvfs", check_fvf)) return nullptr;
  std::vector<std::uint32_t> ids;
  if (v[0] != nullptr && v[0] != Py_None) {
    auto values = doubles_from_buffer(v[0], "regions");
    if (!values) return nullptr;
    ids.resize(values->size());
    for (std::size_t n = 0; n < ids.size(); ++n) {
      const double id = (*values)[n];
      if (!(id >= 0 && id < 4294967296.0 &&
            id == static_cast<double>(static_cast<std::uint32_t>(id)))) {
        raise_argument_error(PyExc_ValueError, "regions",
                             "region ids must be whole numbers from 0, got " + std::to_string(id));
        return nullptr;
      }
      ids[n] = static_cast<std::uint32_t>(id);
    }
  }
  const RegionIds regions{ids, per_cell, count};
  Result<VolumeTable> table = without_gil([&] { return volume_table(model, regions); });
  if (!table) return raise_engine_error(table.error());
  std::vector<double> values;
  values.reserve(table->sums.size() * 5);
  for (const TableSums& sums : table->sums) {
    values.insert(values.end(), {sums.bulk_m3, sums.net_m3, sums.porv_m3, sums.hcpv_m3,
                                 static_cast<double>(sums.cells)});
  }
  return export_owned(std::move(values),
                      {ssize(table->zones), ssize(table->regions), ssize(kTableFluids), 5});
}

namespace {

bool cube_from(PyObject* item, std::vector<Property>& cubes, std::size_t cells) {
  std::vector<PyObject*> parts;
  if (!unpack(item, "cubes", 2, parts)) return false;
  auto name = to_string(parts[0], "cubes");
  if (!name) return false;
  auto values = doubles_from_buffer(parts[1], "cubes", cells);
  if (!values) return false;
  cubes.push_back({std::move(*name), std::move(*values)});
  return true;
}

bool zone_from(PyObject* item, std::vector<ZoneLayers>& zones) {
  std::vector<PyObject*> parts;
  if (!unpack(item, "zones", 4, parts)) return false;
  ZoneLayers zone;
  std::uint64_t k_start = 0, k_end = 0;
  if (!convert(parts[0], "zones", zone.name) || !convert(parts[1], "zones", k_start) ||
      !convert(parts[2], "zones", k_end)) {
    return false;
  }
  zone.k_start = k_start;
  zone.k_end = k_end;
  if (!for_each_item(parts[3], "zones",
                     [&](PyObject* pair) { return contact_from(pair, "zones", zone.contacts); })) {
    return false;
  }
  zones.push_back(std::move(zone));
  return true;
}

bool georef_from(PyObject* value, std::optional<Georef>& out) {
  if (value == nullptr || value == Py_None) return true;
  std::vector<PyObject*> p;
  if (!unpack(value, "georef", 6, p)) return false;
  Georef georef;
  if (!convert(p[0], "georef", georef.origin_x) || !convert(p[1], "georef", georef.origin_y) ||
      !convert(p[2], "georef", georef.spacing_x) || !convert(p[3], "georef", georef.spacing_y) ||
      !convert(p[4], "georef", georef.rotation_deg) || !convert(p[5], "georef", georef.yflip)) {
    return false;
  }
  out = georef;
  return true;
}

PyObject* model_from_arrays(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("_model_from_arrays", args, kwargs,
                         {"ni", "nj", "nk", "coord", "zcorn", "actnum", "cubes", "zones", "sw_gas",
                          "georef", "outline", "inputs_ref"},
                         5, v)) {
      return nullptr;
    }
    GridArrays arrays;
    std::uint64_t ni = 0, nj = 0, nk = 0;
    if (!convert(v[0], "ni", ni) || !convert(v[1], "nj", nj) || !convert(v[2], "nk", nk) ||
        !convert(v[8], "sw_gas", arrays.sw_gas) ||
        !convert(v[11], "inputs_ref", arrays.inputs_ref) || !georef_from(v[9], arrays.georef)) {
      return nullptr;
    }
    arrays.ni = ni;
    arrays.nj = nj;
    arrays.nk = nk;
    // Buffers are taken at their own length; the engine checks them against the dimensions.
    auto coord = doubles_from_buffer(v[3], "coord");
    if (!coord) return nullptr;
    arrays.coord = std::move(*coord);
    auto zcorn = doubles_from_buffer(v[4], "zcorn");
    if (!zcorn) return nullptr;
    arrays.zcorn = std::move(*zcorn);
    if (v[5] != nullptr && v[5] != Py_None) {
      auto actnum = doubles_from_buffer(v[5], "actnum");
      if (!actnum) return nullptr;
      arrays.active.resize(actnum->size());
      for (std::size_t c = 0; c < actnum->size(); ++c) arrays.active[c] = (*actnum)[c] != 0;
    }
    const std::size_t cells = arrays.zcorn.size() / 8;
    if (v[6] != nullptr && !for_each_item(v[6], "cubes", [&](PyObject* item) {
          return cube_from(item, arrays.cubes, cells);
        })) {
      return nullptr;
    }
    if (v[7] != nullptr && !for_each_item(v[7], "zones", [&](PyObject* item) {
          return zone_from(item, arrays.zones);
        })) {
      return nullptr;
    }
    if (v[10] != nullptr && !for_each_item(v[10], "outline", [&](PyObject* item) {
          std::vector<PyObject*> xy;
          Point2 point;
          if (!unpack(item, "outline", 2, xy) || !convert(xy[0], "outline", point.x) ||
              !convert(xy[1], "outline", point.y)) {
            return false;
          }
          arrays.outline.push_back(point);
          return true;
        })) {
      return nullptr;
    }
    Result<StaticModel> model =
        without_gil([&] { return zorvastatic::model_from_arrays(std::move(arrays)); });
    if (!model) return raise_engine_error(model.error());
    return wrap_model(std::move(*model));
  });
}

}  // namespace

PyMethodDef model_from_arrays_def = {
    "_model_from_arrays",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(model_from_arrays)),
    METH_VARARGS | METH_KEYWORDS,
    "_model_from_arrays(ni, nj, nk, coord, zcorn, actnum=None, cubes=(), zones=(), sw_gas=None, "
    "georef=None, outline=(), inputs_ref='arrays')\n--\n\nA StaticModel on an existing "
    "corner-point grid: COORD (six per pillar), ZCORN (eight per cell), ACTNUM and cubes as "
    "float64 buffers in the engine's order, zones as (name, k_start, k_end, [(kind, depth)])."};

}  // namespace zvpy
