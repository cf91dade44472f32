#include "build_flat_model.hpp"

#include "arguments.hpp"
#include "errors.hpp"
#include "static_model.hpp"
#include "zorvatools/foundation/allocation_failure.hpp"

namespace zvpy {

bool flat_model_params(const char* function, PyObject* args, PyObject* kwargs,
                       zorvastatic::FlatModelParams& params) {
  std::vector<PyObject*> values;
  if (!parse_arguments(function, args, kwargs,
                       {"n", "depth_m", "owc_m", "area_m2", "gross_height_m", "nk", "porosity",
                        "net_to_gross", "water_saturation"},
                       0, values)) {
    return false;
  }
  return convert(values[0], "n", params.n) && convert(values[1], "depth_m", params.depth_m) &&
         convert(values[2], "owc_m", params.owc_m) &&
         convert(values[3], "area_m2", params.area_m2) &&
         convert(values[4], "gross_height_m", params.gross_height_m) &&
         convert(values[5], "nk", params.nk) && convert(values[6], "porosity", params.porosity) &&
         convert(values[7], "net_to_gross", params.net_to_gross) &&
         convert(values[8], "water_saturation", params.water_saturation);
}

zorvastatic::Result<zorvastatic::StaticModel> build_flat(
    const zorvastatic::FlatModelParams& params,
    const std::optional<zorvastatic::PropertyPipeline>& pipeline) {
  // The wireframe of a large lattice may not fit either.
  return zorvatools::catch_allocation_failure(
      "building the model", [&]() -> zorvastatic::Result<zorvastatic::StaticModel> {
        ZV_ASSIGN_OR_RETURN(zorvastatic::StaticModelBuilder builder,
                            zorvastatic::flat_model_builder(params));
        if (pipeline) builder.pipelines.push_back(*pipeline);
        return std::move(builder).build();
      });
}

namespace {

PyObject* build_flat_model(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    zorvastatic::FlatModelParams params;
    if (!flat_model_params("build_flat_model", args, kwargs, params)) return nullptr;
    auto model = build_flat(params, std::nullopt);
    if (!model) return raise_static_error(model.error());
    return wrap_model(std::move(*model));
  });
}

}  // namespace

PyMethodDef build_flat_model_def = {
    "build_flat_model",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(build_flat_model)),
    METH_VARARGS | METH_KEYWORDS,
    "build_flat_model(n=11, depth_m=2000.0, owc_m=2100.0, area_m2=1000000.0, "
    "gross_height_m=50.0, nk=5, porosity=0.25, net_to_gross=0.8, water_saturation=0.3)\n--\n\n"
    "Build a flat synthetic single-zone static model and populate it with constant\n"
    "priors — the minimal path from Python to a model you can read volumes off.\n\n"
    "`n` is the top-surface node count per side; `depth_m` the flat top depth;\n"
    "`owc_m` the oil-water contact; `area_m2` the areal footprint; `gross_height_m`\n"
    "the column thickness; `nk` the layer count; and `porosity` / `net_to_gross` /\n"
    "`water_saturation` the day-1 constant fraction priors."};

}  // namespace zvpy
