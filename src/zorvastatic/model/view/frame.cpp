#include "zorvastatic/model/view/frame.hpp"

#include <cmath>
#include <limits>

#include "zorvastatic/model/areal_lattice.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

Result<GridFrame> GridFrame::of_grid(const Grid& grid, const std::optional<Georef>& georef) {
  const Dims& dims = grid.dims();
  if (!georef) {
    ZV_ASSIGN_OR_RETURN(const zorvatools::Lattice lattice, areal_lattice(grid));
    return GridFrame{lattice.origin_x,
                     lattice.origin_y,
                     lattice.spacing_x,
                     lattice.spacing_y,
                     dims.ni,
                     dims.nj,
                     0,
                     false};
  }
  if (dims.ni < 2 || dims.nj < 2) {
    return std::unexpected(StaticError::invalid_input(zorvatools::str_cat(
        "view frame needs an areal lattice of at least 2x2 columns, got ", dims.ni, "x", dims.nj)));
  }
  return GridFrame{georef->origin_x, georef->origin_y, georef->spacing_x,    georef->spacing_y,
                   dims.ni,          dims.nj,          georef->rotation_deg, georef->yflip};
}

namespace {

template <class T>
ValueRange finite_range(std::span<const T> values) {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  bool any = false;
  for (const T raw : values) {
    const double v = raw;
    if (!std::isfinite(v)) continue;
    any = true;
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  if (!any) return {std::nan(""), std::nan("")};
  return {lo, hi};
}

}  // namespace

ValueRange ValueRange::of_finite(std::span<const double> values) {
  return finite_range(values);
}

ValueRange ValueRange::of_finite(std::span<const float> values) {
  return finite_range(values);
}

void write_json(zorvatools::JsonWriter& json, const GridFrame& frame) {
  json.begin_object()
      .member("origin_x", frame.origin_x)
      .member("origin_y", frame.origin_y)
      .member("spacing_x", frame.spacing_x)
      .member("spacing_y", frame.spacing_y)
      .member("ncol", frame.ncol)
      .member("nrow", frame.nrow);
  if (frame.rotation_deg != 0) json.member("rotation_deg", frame.rotation_deg);
  if (frame.yflip) json.member("yflip", true);
  json.end_object();
}

void write_json(zorvatools::JsonWriter& json, const ValueRange& range) {
  json.begin_object().member("min", range.min).member("max", range.max).end_object();
}

void write_json(zorvatools::JsonWriter& json, const ScalarLayer& layer) {
  json.begin_object()
      .member("name", layer.name)
      .member("units", layer.units)
      .member_array("values", layer.values)
      .key("range");
  write_json(json, layer.range);
  json.end_object();
}

}  // namespace zorvastatic
