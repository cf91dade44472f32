// The private _Builder: a one-shot mirror of the engine's builder. Setters convert and copy
// their arguments into engine values at once; build() copies the gathered inputs and runs the
// engine with the interpreter lock released.

#include "builder.hpp"

#include <cmath>
#include <memory>
#include <string_view>

#include "arguments.hpp"
#include "buffers.hpp"
#include "builder_inputs.hpp"
#include "errors.hpp"
#include "gil.hpp"
#include "item_conversions.hpp"
#include "names.hpp"
#include "owned_object.hpp"
#include "py_ref.hpp"
#include "static_model.hpp"

namespace zvpy {
namespace {

using namespace zorvastatic;

BuilderInputs& inputs_of(PyObject* self) {
  return value_of<BuilderInputs>(self);
}

std::optional<Conformity> conformity_from(const std::string& text, double dz_m) {
  if (text == "proportional") return Conformity::proportional();
  if (text == "top_conform") return Conformity::top_conform(dz_m);
  if (text == "base_conform") return Conformity::base_conform(dz_m);
  return std::nullopt;
}

constexpr const char* kConformities = "'proportional', 'top_conform' or 'base_conform'";

// A node index held in a float64 buffer: a non-negative whole number.
bool node_index(double value, std::size_t& out) {
  if (!(std::isfinite(value) && value >= 0 && value < 9007199254740992.0 &&
        value == std::floor(value))) {
    return false;
  }
  out = static_cast<std::size_t>(value);
  return true;
}

PyObject* add_horizon(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("add_horizon", args, kwargs, {"name", "role", "depths", "ni", "nj"}, 5,
                         v)) {
      return nullptr;
    }
    std::string name, role;
    std::uint64_t ni = 0, nj = 0;
    if (!convert(v[0], "name", name) || !convert(v[1], "role", role) || !convert(v[3], "ni", ni) ||
        !convert(v[4], "nj", nj)) {
      return nullptr;
    }
    HorizonRole horizon_role = HorizonRole::Top;
    if (role == "base") {
      horizon_role = HorizonRole::Base;
    } else if (role == "intermediate") {
      horizon_role = HorizonRole::Intermediate;
    } else if (role != "top") {
      return choice_error("role", role, "'top', 'base' or 'intermediate'");
    }
    auto depths = doubles_from_buffer(v[2], "depths", ni * nj);
    if (!depths) return nullptr;
    inputs_of(self).wireframe.horizons.push_back(std::make_shared<const Horizon>(
        Horizon{std::move(name), std::move(*depths), ni, nj, horizon_role}));
    Py_RETURN_NONE;
  });
}

PyObject* add_contact(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("add_contact", args, kwargs, {"kind", "depth_m"}, 2, v)) return nullptr;
    PyRef pair = PyRef::steal(PyTuple_Pack(2, v[0], v[1]));
    if (!pair || !contact_from(pair.get(), "contact", inputs_of(self).wireframe.contacts)) {
      return nullptr;
    }
    Py_RETURN_NONE;
  });
}

PyObject* set_outline(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("set_outline", args, kwargs, {"points"}, 1, v)) return nullptr;
    std::vector<zorvatools::Point2> outline;
    const bool ok = for_each_item(v[0], "points", [&](PyObject* item) {
      std::vector<PyObject*> parts;
      zorvatools::Point2 point;
      if (!unpack(item, "points", 2, parts) || !convert(parts[0], "points", point.x) ||
          !convert(parts[1], "points", point.y)) {
        return false;
      }
      outline.push_back(point);
      return true;
    });
    if (!ok) return nullptr;
    inputs_of(self).wireframe.outline = std::move(outline);
    Py_RETURN_NONE;
  });
}

PyObject* set_spec(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("set_spec", args, kwargs,
                         {"conformity", "dz_m", "nk", "area_m2", "gross_height_m", "porosity",
                          "net_to_gross", "water_saturation"},
                         8, v)) {
      return nullptr;
    }
    std::string conformity;
    double dz_m = 0;
    std::uint64_t nk = 0;
    BuildSpec spec;
    if (!convert(v[0], "conformity", conformity) || !convert(v[1], "dz_m", dz_m) ||
        !convert(v[2], "nk", nk) || !convert(v[3], "area_m2", spec.area_m2) ||
        !convert(v[4], "gross_height_m", spec.gross_height_m) ||
        !convert(v[5], "porosity", spec.priors.porosity) ||
        !convert(v[6], "net_to_gross", spec.priors.net_to_gross) ||
        !convert(v[7], "water_saturation", spec.priors.water_saturation)) {
      return nullptr;
    }
    const auto rule = conformity_from(conformity, dz_m);
    if (!rule) return choice_error("conformity", conformity, kConformities);
    spec.conformity = *rule;
    spec.nk = nk;
    inputs_of(self).spec = spec;
    Py_RETURN_NONE;
  });
}

PyObject* set_georef(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments(
            "set_georef", args, kwargs,
            {"origin_x", "origin_y", "spacing_x", "spacing_y", "rotation_deg", "yflip"}, 6, v)) {
      return nullptr;
    }
    Georef georef;
    if (!convert(v[0], "origin_x", georef.origin_x) ||
        !convert(v[1], "origin_y", georef.origin_y) ||
        !convert(v[2], "spacing_x", georef.spacing_x) ||
        !convert(v[3], "spacing_y", georef.spacing_y) ||
        !convert(v[4], "rotation_deg", georef.rotation_deg) ||
        !convert(v[5], "yflip", georef.yflip)) {
      return nullptr;
    }
    inputs_of(self).georef = georef;
    Py_RETURN_NONE;
  });
}

PyObject* set_spacing(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("set_spacing", args, kwargs, {"dx", "dy"}, 2, v)) return nullptr;
    NodeSpacing spacing;
    if (!convert(v[0], "dx", spacing.dx) || !convert(v[1], "dy", spacing.dy)) return nullptr;
    inputs_of(self).node_spacing = spacing;
    Py_RETURN_NONE;
  });
}

HorizonStack& stack_of(PyObject* self) {
  auto& stack = inputs_of(self).horizon_stack;
  if (!stack) stack.emplace();
  return *stack;
}

PyObject* add_stack_mapped(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("add_stack_mapped", args, kwargs, {"name", "values", "ni", "nj"}, 4, v)) {
      return nullptr;
    }
    std::string name;
    std::uint64_t ni = 0, nj = 0;
    if (!convert(v[0], "name", name) || !convert(v[2], "ni", ni) || !convert(v[3], "nj", nj)) {
      return nullptr;
    }
    auto values = doubles_from_buffer(v[1], "values", ni * nj);
    if (!values) return nullptr;
    stack_of(self).horizons.push_back(
        StackHorizon::mapped(std::move(name), std::move(*values), ni, nj));
    Py_RETURN_NONE;
  });
}

PyObject* add_stack_tops(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("add_stack_tops", args, kwargs, {"name", "tops"}, 2, v)) return nullptr;
    std::string name;
    if (!convert(v[0], "name", name)) return nullptr;
    auto flat = doubles_from_buffer(v[1], "tops");
    if (!flat) return nullptr;
    if (flat->size() % 3 != 0) {
      raise_argument_error(PyExc_ValueError, "tops", "expected (i, j, z) triples");
      return nullptr;
    }
    std::vector<ControlPoint> tops(flat->size() / 3);
    for (std::size_t n = 0; n < tops.size(); ++n) {
      if (!node_index((*flat)[3 * n], tops[n].i) || !node_index((*flat)[3 * n + 1], tops[n].j)) {
        raise_argument_error(PyExc_ValueError, "tops",
                             "top " + std::to_string(n) + " is not on a lattice node");
        return nullptr;
      }
      tops[n].z = (*flat)[3 * n + 2];
    }
    stack_of(self).horizons.push_back(StackHorizon::tops_only(std::move(name), std::move(tops)));
    Py_RETURN_NONE;
  });
}

PyObject* add_stack_zone(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("add_stack_zone", args, kwargs,
                         {"name", "label", "conformity", "nk", "dz_m", "contacts"}, 6, v)) {
      return nullptr;
    }
    StackZone zone;
    bool ok = true;
    std::string conformity;
    std::uint64_t nk = 0;
    double dz_m = 0;
    zone.label = to_optional_string(v[1], "label", ok);
    if (!ok || !convert(v[0], "name", zone.name) || !convert(v[2], "conformity", conformity) ||
        !convert(v[3], "nk", nk) || !convert(v[4], "dz_m", dz_m) ||
        !for_each_item(v[5], "contacts", [&](PyObject* item) {
          return contact_from(item, "contacts", zone.contacts);
        })) {
      return nullptr;
    }
    const auto rule = conformity_from(conformity, dz_m);
    if (!rule) return choice_error("conformity", conformity, kConformities);
    zone.layers = {*rule, nk};
    stack_of(self).zones.push_back(std::move(zone));
    Py_RETURN_NONE;
  });
}

PyObject* add_well_tie(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("add_well_tie", args, kwargs, {"name", "x", "y", "i", "j", "picks"}, 6,
                         v)) {
      return nullptr;
    }
    WellTie tie;
    std::uint64_t i = 0, j = 0;
    const bool ok = convert(v[0], "name", tie.name) && convert(v[1], "x", tie.x) &&
                    convert(v[2], "y", tie.y) && convert(v[3], "i", i) && convert(v[4], "j", j) &&
                    for_each_item(v[5], "picks", [&](PyObject* item) {
                      std::vector<PyObject*> parts;
                      if (!unpack(item, "picks", 2, parts)) return false;
                      TiePick pick;
                      if (!convert(parts[0], "picks", pick.horizon) ||
                          !convert(parts[1], "picks", pick.depth)) {
                        return false;
                      }
                      tie.picks.push_back(std::move(pick));
                      return true;
                    });
    if (!ok) return nullptr;
    tie.i = i;
    tie.j = j;
    inputs_of(self).well_ties.push_back(std::move(tie));
    Py_RETURN_NONE;
  });
}

PyObject* set_options(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments(
            "set_options", args, kwargs,
            {"taper", "taper_start", "taper_width", "min_thickness_m", "collapse_below_m",
             "clamp_crossings", "tie_radius_m", "sw_gas", "spill_budget_bytes", "spill_dir",
             "keep_spill_file", "sugar_cube", "inputs_ref", "zone_name", "zone_label"},
            0, v)) {
      return nullptr;
    }
    BuilderInputs& in = inputs_of(self);
    BuilderInputs next = in;  // every option converted before any is kept
    bool ok = true;
    std::optional<std::string> spill_dir;
    ok = convert(v[0], "taper", next.taper.enabled) &&
         convert(v[1], "taper_start", next.taper.start) &&
         convert(v[2], "taper_width", next.taper.width) &&
         convert(v[3], "min_thickness_m", next.min_thickness_m) &&
         convert(v[4], "collapse_below_m", next.collapse_below_m) &&
         convert(v[5], "clamp_crossings", next.clamp_crossings) &&
         convert(v[6], "tie_radius_m", next.tie_radius_m) && convert(v[7], "sw_gas", next.sw_gas) &&
         convert(v[8], "spill_budget_bytes", next.spill_budget_bytes);
    if (ok && v[9] != nullptr) spill_dir = to_optional_string(v[9], "spill_dir", ok);
    ok = ok && convert(v[10], "keep_spill_file", next.keep_spill_file) &&
         convert(v[11], "sugar_cube", next.sugar_cube);
    if (ok && v[12] != nullptr) next.inputs_ref = to_optional_string(v[12], "inputs_ref", ok);
    if (ok && v[13] != nullptr) next.zone_name = to_optional_string(v[13], "zone_name", ok);
    if (ok && v[14] != nullptr) next.zone_label = to_optional_string(v[14], "zone_label", ok);
    if (!ok) return nullptr;
    if (v[9] != nullptr) {
      next.spill_dir.reset();
      if (spill_dir) next.spill_dir = std::filesystem::path(*spill_dir);
    }
    in = std::move(next);
    Py_RETURN_NONE;
  });
}

PyObject* add_zone_priors(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("add_zone_priors", args, kwargs,
                         {"zone", "porosity", "net_to_gross", "water_saturation"}, 4, v)) {
      return nullptr;
    }
    std::string zone;
    ConstantPriors priors;
    if (!convert(v[0], "zone", zone) || !convert(v[1], "porosity", priors.porosity) ||
        !convert(v[2], "net_to_gross", priors.net_to_gross) ||
        !convert(v[3], "water_saturation", priors.water_saturation)) {
      return nullptr;
    }
    inputs_of(self).zone_priors.emplace_back(std::move(zone), priors);
    Py_RETURN_NONE;
  });
}

PyObject* set_depth_profile(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("set_depth_profile", args, kwargs, {"depth_m", "porosity", "sw"}, 3, v)) {
      return nullptr;
    }
    auto depth = doubles_from_buffer(v[0], "depth_m");
    if (!depth) return nullptr;
    auto porosity = doubles_from_buffer(v[1], "porosity", depth->size());
    if (!porosity) return nullptr;
    auto sw = doubles_from_buffer(v[2], "sw", depth->size());
    if (!sw) return nullptr;
    std::vector<DepthRecord> records(depth->size());
    for (std::size_t n = 0; n < records.size(); ++n) {
      records[n] = {(*depth)[n], (*porosity)[n], (*sw)[n]};
    }
    inputs_of(self).depth_profile = std::move(records);
    Py_RETURN_NONE;
  });
}

// A world-georeferenced trend from (values, nx, ny, origin_x, origin_y, spacing_x, spacing_y,
// rotation_deg, yflip).
std::optional<TrendSurface> trend_from(PyObject* value, const char* name) {
  std::vector<PyObject*> p;
  if (!unpack(value, name, 9, p)) return std::nullopt;
  TrendSurface trend;
  std::uint64_t nx = 0, ny = 0;
  bool yflip = false;
  if (!convert(p[1], name, nx) || !convert(p[2], name, ny) ||
      !convert(p[3], name, trend.origin_x) || !convert(p[4], name, trend.origin_y) ||
      !convert(p[5], name, trend.spacing_x) || !convert(p[6], name, trend.spacing_y) ||
      !convert(p[7], name, trend.rotation_deg) || !convert(p[8], name, yflip)) {
    return std::nullopt;
  }
  auto values = doubles_from_buffer(p[0], name, nx * ny);
  if (!values) return std::nullopt;
  trend.values = std::move(*values);
  trend.nx = nx;
  trend.ny = ny;
  trend.frame = yflip ? TrendSurface::Frame::WorldFlipped : TrendSurface::Frame::World;
  return trend;
}

PyObject* set_areal_trend(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("set_areal_trend", args, kwargs, {"trend", "scale_porosity"}, 2, v)) {
      return nullptr;
    }
    ArealTrend areal;
    auto trend = trend_from(v[0], "trend");
    if (!trend || !convert(v[1], "scale_porosity", areal.scale_porosity)) return nullptr;
    areal.trend = std::move(*trend);
    inputs_of(self).areal_trend = std::move(areal);
    Py_RETURN_NONE;
  });
}

// One well of a pipeline from (x, y, depths, values).
bool well_from(PyObject* item, std::vector<WellLog>& wells) {
  std::vector<PyObject*> p;
  if (!unpack(item, "wells", 4, p)) return false;
  WellLog well;
  if (!convert(p[0], "wells", well.x) || !convert(p[1], "wells", well.y)) return false;
  auto depths = doubles_from_buffer(p[2], "wells");
  if (!depths) return false;
  auto values = doubles_from_buffer(p[3], "wells", depths->size());
  if (!values) return false;
  well.samples.reserve(depths->size());
  for (std::size_t n = 0; n < depths->size(); ++n) {
    well.samples.emplace_back((*depths)[n], (*values)[n]);
  }
  wells.push_back(std::move(well));
  return true;
}

constexpr std::initializer_list<const char*> kPipelineParameters = {
    "zone",           "name",     "wells",           "method",
    "model",          "major_m",  "minor_m",         "vertical_m",
    "azimuth",        "sill",     "nugget",          "seed",
    "max_neighbours", "radius_m", "allow_mean_fill", "unbounded_search",
    "trend",          "rho"};

PyObject* add_pipeline(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("add_pipeline", args, kwargs, kPipelineParameters, 4, v)) {
      return nullptr;
    }
    bool ok = true;
    const std::optional<std::string> zone = to_optional_string(v[0], "zone", ok);
    if (!ok) return nullptr;
    std::string name, method;
    std::vector<WellLog> wells;
    if (!convert(v[1], "name", name) ||
        !for_each_item(v[2], "wells", [&](PyObject* item) { return well_from(item, wells); }) ||
        !convert(v[3], "method", method)) {
      return nullptr;
    }
    const auto upscale = parse_upscale_method(method);
    if (!upscale) return choice_error("method", method, "'arithmetic', 'harmonic' or 'geometric'");
    PropertyPipeline pipeline = PropertyPipeline::upscale_only(name, std::move(wells), *upscale);

    const std::optional<std::string> model = to_optional_string(v[4], "model", ok);
    if (!ok) return nullptr;
    if (model) {
      const auto structure = parse_variogram_model(*model);
      if (!structure) {
        return choice_error("model", *model, "'spherical', 'exponential' or 'gaussian'");
      }
      zorvatools::AnisotropicVariogram variogram;
      variogram.model = *structure;
      Gaussian step;
      std::optional<std::uint64_t> max_neighbours;
      std::optional<double> radius_m;
      if (!convert(v[5], "major_m", variogram.major_m) ||
          !convert(v[6], "minor_m", variogram.minor_m) ||
          !convert(v[7], "vertical_m", variogram.vertical_m) ||
          !convert(v[8], "azimuth", variogram.azimuth) || !convert(v[9], "sill", variogram.sill) ||
          !convert(v[10], "nugget", variogram.nugget) || !convert(v[11], "seed", step.seed) ||
          !convert(v[12], "max_neighbours", max_neighbours) ||
          !convert(v[13], "radius_m", radius_m) ||
          !convert(v[14], "allow_mean_fill", step.allow_mean_fill) ||
          !convert(v[15], "unbounded_search", step.unbounded_search) ||
          !convert(v[17], "rho", step.collocated_rho)) {
        return nullptr;
      }
      auto checked = variogram.validated();
      if (!checked) return raise_engine_error(checked.error());
      step.variogram = *checked;
      if (max_neighbours.has_value() != radius_m.has_value()) {
        raise_argument_error(PyExc_ValueError, "max_neighbours",
                             "max_neighbours and radius_m must be given together");
        return nullptr;
      }
      if (max_neighbours) step.search = NeighbourSearch{*max_neighbours, *radius_m};
      if (v[16] != nullptr && v[16] != Py_None) {
        auto trend = trend_from(v[16], "trend");
        if (!trend) return nullptr;
        step.trend = std::move(*trend);
      }
      pipeline.gaussian = std::move(step);
    }
    BuilderInputs& in = inputs_of(self);
    if (zone) {
      in.zone_pipelines.emplace_back(*zone, std::move(pipeline));
    } else {
      in.pipelines.push_back(std::move(pipeline));
    }
    Py_RETURN_NONE;
  });
}

// The engine's work: the one region that runs without the interpreter lock.
Result<StaticModel> build_released(BuilderInputs inputs) {
  return without_gil([&] { return run_build(std::move(inputs)); });
}

PyObject* build(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    Result<StaticModel> model = build_released(inputs_of(self));  // a copy: the inputs stay
    if (!model) return raise_engine_error(model.error());
    return wrap_model(std::move(*model));
  });
}

PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("_Builder", args, kwargs, {}, 0, v)) return nullptr;
    return new_owned(type, std::make_unique<BuilderInputs>());
  });
}

#define ZV_KW(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))
constexpr int kKw = METH_VARARGS | METH_KEYWORDS;

PyMethodDef methods[] = {
    {"add_horizon", ZV_KW(add_horizon), kKw,
     "add_horizon($self, name, role, depths, ni, nj)\n--\n\nA wireframe horizon; role 'top', "
     "'base' or 'intermediate'; depths i fastest."},
    {"add_contact", ZV_KW(add_contact), kKw,
     "add_contact($self, kind, depth_m)\n--\n\nA wireframe contact: 'owc', 'goc' or 'gwc'."},
    {"set_outline", ZV_KW(set_outline), kKw,
     "set_outline($self, points)\n--\n\nThe wireframe's closed world outline, (x, y) points."},
    {"set_spec", ZV_KW(set_spec), kKw,
     "set_spec($self, conformity, dz_m, nk, area_m2, gross_height_m, porosity, net_to_gross, "
     "water_saturation)\n--\n\nThe single zone's layering and the constant priors."},
    {"set_georef", ZV_KW(set_georef), kKw,
     "set_georef($self, origin_x, origin_y, spacing_x, spacing_y, rotation_deg, yflip)\n--\n\n"
     "World placement of the column centres."},
    {"set_spacing", ZV_KW(set_spacing), kKw,
     "set_spacing($self, dx, dy)\n--\n\nExplicit pillar spacing in metres."},
    {"add_stack_mapped", ZV_KW(add_stack_mapped), kKw,
     "add_stack_mapped($self, name, values, ni, nj)\n--\n\nA mapped stack horizon, NaN where "
     "undefined."},
    {"add_stack_tops", ZV_KW(add_stack_tops), kKw,
     "add_stack_tops($self, name, tops)\n--\n\nA stack horizon known from (i, j, z) tops."},
    {"add_stack_zone", ZV_KW(add_stack_zone), kKw,
     "add_stack_zone($self, name, label, conformity, nk, dz_m, contacts)\n--\n\nA stack zone "
     "with its (kind, depth_m) contacts."},
    {"add_well_tie", ZV_KW(add_well_tie), kKw,
     "add_well_tie($self, name, x, y, i, j, picks)\n--\n\nA well tie at node (i, j) with its "
     "(horizon, depth) picks."},
    {"set_options", ZV_KW(set_options), kKw,
     "set_options($self, taper=True, taper_start=2.0, taper_width=4.0, min_thickness_m=None, "
     "collapse_below_m=None, clamp_crossings=False, tie_radius_m=None, sw_gas=None, "
     "spill_budget_bytes=None, spill_dir=None, keep_spill_file=False, sugar_cube=False, "
     "inputs_ref=None, zone_name=None, zone_label=None)\n--\n\nBuild options."},
    {"add_zone_priors", ZV_KW(add_zone_priors), kKw,
     "add_zone_priors($self, zone, porosity, net_to_gross, water_saturation)\n--\n\nConstant "
     "priors of one zone."},
    {"set_depth_profile", ZV_KW(set_depth_profile), kKw,
     "set_depth_profile($self, depth_m, porosity, sw)\n--\n\nDepth-profile records, sorted by "
     "depth."},
    {"set_areal_trend", ZV_KW(set_areal_trend), kKw,
     "set_areal_trend($self, trend, scale_porosity)\n--\n\nAn areal trend: (values, nx, ny, "
     "origin_x, origin_y, spacing_x, spacing_y, rotation_deg, yflip)."},
    {"add_pipeline", ZV_KW(add_pipeline), kKw,
     "add_pipeline($self, zone, name, wells, method, model=None, major_m=1.0, minor_m=1.0, "
     "vertical_m=1.0, azimuth=0.0, sill=1.0, nugget=0.0, seed=0, max_neighbours=None, "
     "radius_m=None, allow_mean_fill=False, unbounded_search=False, trend=None, rho=0.0)\n--\n\n"
     "A property pipeline over the whole grid (zone None) or one zone; wells are (x, y, depths, "
     "values); model None: upscale only."},
    {"build", build, METH_NOARGS,
     "build($self)\n--\n\nBuilds a model from a copy of the inputs, without the interpreter "
     "lock."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(create)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_owned<BuilderInputs>)},
    {Py_tp_methods, methods},
    {Py_tp_doc, const_cast<char*>("_Builder()\n--\n\nThe engine's model builder, private to the "
                                  "zorvastatic package.")},
    {0, nullptr},
};

PyType_Spec spec = {"_zorvastatic._Builder", sizeof(OwnedObject<BuilderInputs>), 0,
                    Py_TPFLAGS_DEFAULT, slots};

}  // namespace

bool register_builder(PyObject* module) {
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) return false;
  const bool added = PyModule_AddObjectRef(module, "_Builder", type) == 0;
  Py_DECREF(type);
  return added;
}

}  // namespace zvpy
