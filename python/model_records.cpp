#include "model_records.hpp"

#include <string>
#include <vector>

#include "owned_object.hpp"
#include "py_ref.hpp"
#include "zorvastatic/spill/backing.hpp"

namespace zvpy {
namespace {

using namespace zorvastatic;

// A dict filled key by key; the first failed conversion makes release() return nullptr.
class Record {
 public:
  Record() : dict_(PyRef::steal(PyDict_New())) { ok_ = static_cast<bool>(dict_); }

  Record& set(const char* key, PyObject* value) {
    if (!ok_ || value == nullptr) {
      Py_XDECREF(value);
      ok_ = false;
      return *this;
    }
    ok_ = PyDict_SetItemString(dict_.get(), key, value) == 0;
    Py_DECREF(value);
    return *this;
  }
  Record& text(const char* key, const std::string& value) { return set(key, to_py_str(value)); }
  Record& real(const char* key, double value) { return set(key, PyFloat_FromDouble(value)); }
  Record& count(const char* key, std::size_t value) { return set(key, PyLong_FromSize_t(value)); }
  Record& flag(const char* key, bool value) { return set(key, PyBool_FromLong(value ? 1 : 0)); }
  Record& none(const char* key) { return set(key, Py_NewRef(Py_None)); }

  PyObject* release() { return ok_ ? dict_.release() : nullptr; }

 private:
  PyRef dict_;
  bool ok_ = false;
};

// A list of make(item) for every item; nullptr when one fails.
template <class Items, class Make>
PyObject* list_of(const Items& items, Make&& make) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  Py_ssize_t n = 0;
  for (const auto& item : items) {
    PyObject* value = make(item);
    if (value == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), n++, value);
  }
  return list.release();
}

const char* role_name(HorizonRole role) {
  switch (role) {
    case HorizonRole::Top:
      return "top";
    case HorizonRole::Base:
      return "base";
    case HorizonRole::Intermediate:
      return "intermediate";
  }
  return "top";
}

const char* conformity_name(Conformity::Kind kind) {
  switch (kind) {
    case Conformity::Kind::Proportional:
      return "proportional";
    case Conformity::Kind::TopConform:
      return "top_conform";
    case Conformity::Kind::BaseConform:
      return "base_conform";
  }
  return "proportional";
}

PyObject* warning_record(const BuildWarning& warning) {
  static constexpr const char* kinds[] = {"horizon", "thickness_repaired", "pinched_cells",
                                          "collapsed_cells", "layers_capped"};
  Record record;
  record.text("kind", kinds[static_cast<std::size_t>(warning.kind)]);
  if (warning.kind == BuildWarning::Kind::Horizon) {
    record.text("horizon", warning.horizon)
        .text("message", warning.message)
        .text("role", role_name(warning.role));
  } else {
    record.none("horizon").none("message").none("role");
  }
  return record.count("count", warning.count).real("worst_m", warning.worst_m).release();
}

PyObject* report_record(const PropertyReport& report) {
  return Record()
      .text("property", report.property)
      .count("informed_cells", report.informed_cells)
      .count("sample_count", report.sample_count)
      .real("sample_mean", report.sample_mean)
      .real("upscaled_mean", report.upscaled_mean)
      .real("min", report.min)
      .real("max", report.max)
      .flag("simulated", report.simulated)
      .release();
}

PyObject* residual_record(const HorizonTieResidual& residual) {
  return Record()
      .text("horizon", residual.horizon)
      .real("pick_m", residual.pick_depth)
      .real("surface_m", residual.surface_depth)
      .real("residual_m", residual.residual)
      .release();
}

PyObject* tie_record(const WellTieRecord& tie) {
  return Record()
      .text("name", tie.name)
      .real("x", tie.x)
      .real("y", tie.y)
      .count("i", tie.i)
      .count("j", tie.j)
      .set("residuals", list_of(tie.residuals, residual_record))
      .release();
}

PyObject* repair_record(const InterfaceRepair& repair) {
  return Record()
      .count("interface", repair.interface_index)
      .count("nodes", repair.nodes_changed)
      .real("value_m", repair.summary_m)
      .release();
}

PyObject* zone_record(const ZoneProvenance& zone) {
  return Record()
      .text("zone", zone.zone)
      .text("top", zone.top_horizon)
      .text("base", zone.base_horizon)
      .count("k_start", zone.k_start)
      .count("k_end", zone.k_end)
      .text("conformity", conformity_name(zone.layering.conformity.kind))
      .real("dz_m", zone.layering.conformity.dz_m)
      .count("nk", zone.layering.nk)
      .count("pinched_cells", zone.layering.pinched_cells)
      .count("collapsed_cells", zone.layering.collapsed_cells)
      .release();
}

PyObject* resolution_record(const HorizonResolution& how) {
  return Record()
      .text("horizon", how.horizon)
      .flag("mapped", how.mapped)
      .text("method", resolution_method_name(how.method))
      .text("anchor", how.anchor)
      .count("controls", how.controls)
      .release();
}

PyObject* stack_record(const StackRecord& stack) {
  return Record()
      .set("repairs", list_of(stack.interface_repairs, repair_record))
      .set("ties", list_of(stack.well_ties, tie_record))
      .set("zones", list_of(stack.stack.zones, zone_record))
      .set("horizons", list_of(stack.stack.horizons, resolution_record))
      .release();
}

}  // namespace

PyObject* model_dims(const StaticModel& model) {
  const Dims dims = model.spill ? model.spill->dims() : model.grid.dims();
  return Py_BuildValue("(nnn)", static_cast<Py_ssize_t>(dims.ni), static_cast<Py_ssize_t>(dims.nj),
                       static_cast<Py_ssize_t>(dims.nk));
}

PyObject* model_zone_table(const StaticModel& model) {
  return list_of(model.zone_table.zones, [](const Zone& zone) {
    Record record;
    record.text("name", zone.name).text("top", zone.top).text("base", zone.base);
    if (zone.label) {
      record.text("label", *zone.label);
    } else {
      record.none("label");
    }
    return record.count("k_start", zone.k_start).count("k_end", zone.k_end).release();
  });
}

PyObject* model_provenance(const StaticModel& model) {
  const Provenance& provenance = model.provenance;
  Record record;
  record.text("inputs_ref", provenance.inputs_ref)
      .set("warnings", list_of(provenance.warnings, warning_record))
      .set("reports", list_of(provenance.property_reports, report_record));
  if (provenance.stack) {
    record.set("stack", stack_record(*provenance.stack));
  } else {
    record.none("stack");
  }
  return record.release();
}

PyObject* model_store_path(const StaticModel& model) {
  if (!model.spill) Py_RETURN_NONE;
  return PyUnicode_DecodeFSDefault(model.spill->path().c_str());
}

}  // namespace zvpy
