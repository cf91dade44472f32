// Private module functions: the worker-pool cap and the converged surface solve.

#include "engine_functions.hpp"

#include <cmath>

#include "arguments.hpp"
#include "buffers.hpp"
#include "errors.hpp"
#include "gil.hpp"
#include "zorvastatic/gridder/surface_solve.hpp"
#include "zorvatools/foundation/worker_pool.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zvpy {
namespace {

using zorvastatic::ControlPoint;
using zorvastatic::Result;
using zorvastatic::StaticError;
using zorvastatic::Surface;

PyObject* set_max_threads(PyObject*, PyObject* value) {
  return guarded([&]() -> PyObject* {
    auto threads = to_u64(value, "threads");
    if (!threads) return nullptr;
    zorvatools::set_max_threads(*threads);
    Py_RETURN_NONE;
  });
}

PyObject* get_max_threads(PyObject*, PyObject*) {
  return guarded([&] { return PyLong_FromSize_t(zorvatools::max_threads()); });
}

Result<Surface> solve(std::size_t ni, std::size_t nj, const std::vector<double>& values,
                      std::optional<zorvastatic::TaperSpec> taper) {
  if (ni < 2 || nj < 2) {
    return std::unexpected(StaticError::invalid_input(
        zorvatools::str_cat("surface needs at least 2x2 nodes, got ", ni, "x", nj)));
  }
  std::vector<ControlPoint> controls;
  for (std::size_t j = 0; j < nj; ++j) {
    for (std::size_t i = 0; i < ni; ++i) {
      const double z = values[i + ni * j];
      if (!std::isnan(z)) controls.push_back({i, j, z});
    }
  }
  if (controls.empty()) {
    return std::unexpected(
        StaticError::invalid_input("structural solve needs at least one control point"));
  }
  ZV_ASSIGN_OR_RETURN(Surface surface, zorvastatic::solve_surface_converged(ni, nj, controls));
  if (taper) return zorvastatic::taper_beyond_data(surface, controls, *taper);
  return surface;
}

PyObject* solve_surface(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    std::vector<PyObject*> v;
    if (!parse_arguments("_solve_surface", args, kwargs,
                         {"values", "ni", "nj", "taper_start", "taper_width"}, 3, v)) {
      return nullptr;
    }
    std::uint64_t ni = 0, nj = 0;
    std::optional<double> start, width;
    if (!convert(v[1], "ni", ni) || !convert(v[2], "nj", nj) ||
        !convert(v[3], "taper_start", start) || !convert(v[4], "taper_width", width)) {
      return nullptr;
    }
    auto values = doubles_from_buffer(v[0], "values", ni * nj);
    if (!values) return nullptr;
    std::optional<zorvastatic::TaperSpec> taper;
    if (start || width)
      taper = zorvastatic::TaperSpec{true, start.value_or(2.0), width.value_or(4.0)};
    Result<Surface> surface = without_gil([&] { return solve(ni, nj, *values, taper); });
    if (!surface) return raise_engine_error(surface.error());
    const std::vector<double>& depths = surface->values();
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(depths.data()),
                                     static_cast<Py_ssize_t>(depths.size() * sizeof(double)));
  });
}

}  // namespace

PyMethodDef set_max_threads_def = {
    "_set_max_threads", set_max_threads, METH_O,
    "_set_max_threads(threads, /)\n--\n\nCaps the engine's worker pool; 0 lifts the cap."};

PyMethodDef get_max_threads_def = {
    "_get_max_threads", get_max_threads, METH_NOARGS,
    "_get_max_threads()\n--\n\nThe number of threads the engine's loops may use now."};

PyMethodDef solve_surface_def = {
    "_solve_surface", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(solve_surface)),
    METH_VARARGS | METH_KEYWORDS,
    "_solve_surface(values, ni, nj, taper_start=None, taper_width=None)\n--\n\nThe converged "
    "minimum-curvature surface through the defined nodes (float64 bytes, i fastest), tapered "
    "beyond the data when a taper is given."};

}  // namespace zvpy
