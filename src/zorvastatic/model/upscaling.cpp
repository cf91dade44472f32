#include <algorithm>
#include <cmath>
#include <limits>

#include "zorvastatic/model/areal_lattice.hpp"
#include "zorvastatic/model/pipeline.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/large_array.hpp"

namespace zorvastatic {

using zorvatools::Lattice;

namespace {

constexpr double kTiny = 2.220446049250313e-16;

struct Column {
  std::size_t i = 0;
  std::size_t j = 0;
  double fi = 0;
  double fj = 0;
};

std::optional<Column> place(const Lattice& lattice, double x, double y) {
  const auto ij = lattice.xy_to_ij(x, y);
  if (!ij) return std::nullopt;
  const double ri = std::round(ij->first);
  const double rj = std::round(ij->second);
  if (!(ri >= 0 && ri < static_cast<double>(lattice.nx) && rj >= 0 &&
        rj < static_cast<double>(lattice.ny))) {
    return std::nullopt;
  }
  return Column{static_cast<std::size_t>(ri), static_cast<std::size_t>(rj), ij->first, ij->second};
}

bool usable(const Georef& g) {
  return g.spacing_x != 0 && g.spacing_y != 0 && std::isfinite(g.origin_x) &&
         std::isfinite(g.origin_y) && std::isfinite(g.spacing_x) && std::isfinite(g.spacing_y) &&
         std::isfinite(g.rotation_deg);
}

// Local lattice first unless the georeference is rotated or flipped.
std::optional<Column> locate_well(const Lattice& local, const std::optional<Georef>& georef,
                                  const WellLog& well) {
  if (!georef || !usable(*georef)) return place(local, well.x, well.y);
  const Lattice world = georef->lattice(local.nx, local.ny);
  const bool world_first = georef->rotation_deg != 0 || georef->yflip;
  const Lattice& first = world_first ? world : local;
  const Lattice& second = world_first ? local : world;
  if (auto column = place(first, well.x, well.y)) return column;
  return place(second, well.x, well.y);
}

double fraction(double at, double from, double to) {
  const double span = to - from;
  if (std::fabs(span) <= kTiny) return 0.5;
  return std::clamp((at - from) / span, 0.0, 1.0);
}

double bilinear(const CellCorners& c, int first, double u, double v) {
  return c[first].z * (1 - u) * (1 - v) + c[first + 1].z * u * (1 - v) +
         c[first + 2].z * (1 - u) * v + c[first + 3].z * u * v;
}

}  // namespace

Result<UpscaledCube> upscale_cells_with_georef(const PropertyPipeline& pipeline, const Grid& grid,
                                               const std::optional<Georef>& georef) {
  if (!pipeline.upscale) {
    return std::unexpected(StaticError::invalid_input(
        "property '" + pipeline.name + "' has no upscale step (call .upscale(...))"));
  }
  ZV_ASSIGN_OR_RETURN(const Lattice local, areal_lattice(grid));
  const Dims& dims = grid.dims();
  std::vector<double> cube =
      zorvatools::large_array(dims.cell_count(), std::numeric_limits<double>::quiet_NaN());
  std::vector<double> collected;
  std::vector<LengthValue> selected;

  const std::size_t well_count = pipeline.upscale->wells.size();
  for (std::size_t w = 0; w < well_count; ++w) {
    ZV_TRY(zorvatools::poll_call("upscaling well logs", w, well_count));
    const WellLog& well = pipeline.upscale->wells[w];
    const std::optional<Column> column = locate_well(local, georef, well);
    if (!column) continue;
    const double xl = local.origin_x + column->fi * local.spacing_x;
    const double yl = local.origin_y + column->fj * local.spacing_y;
    for (std::size_t k = 0; k < dims.nk; ++k) {
      const CellCorners c = grid.geom.cell_corners({column->i, column->j, k});
      const double u = fraction(xl, c[0].x, c[1].x);
      const double v = fraction(yl, c[0].y, c[2].y);
      const double top = bilinear(c, 0, u, v);
      const double bottom = bilinear(c, 4, u, v);
      const double lo = std::min(top, bottom);
      const double hi = std::max(top, bottom);
      selected.clear();
      for (const auto& [depth, value] : well.samples) {
        if (depth >= lo && depth <= hi) selected.push_back({1.0, value});
      }
      if (selected.empty()) continue;
      for (const LengthValue& s : selected) collected.push_back(s.value);
      ZV_ASSIGN_OR_RETURN(cube[dims.linear(column->i, column->j, k)],
                          weighted_power_mean(selected, pipeline.upscale->method));
    }
  }
  PropertyReport report = upscale_qc(pipeline.name, cube, collected);
  return UpscaledCube{std::move(cube), std::move(report)};
}

PropertyReport upscale_qc(const std::string& name, const std::vector<double>& cube,
                          const std::vector<double>& collected_samples) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  PropertyReport report{name, 0, collected_samples.size(), nan, nan, nan, nan, false};
  double sum = 0;
  for (double v : cube) {
    if (!std::isfinite(v)) continue;
    if (report.informed_cells == 0) {
      report.min = v;
      report.max = v;
    } else {
      report.min = std::min(report.min, v);
      report.max = std::max(report.max, v);
    }
    ++report.informed_cells;
    sum += v;
  }
  if (report.informed_cells > 0)
    report.upscaled_mean = sum / static_cast<double>(report.informed_cells);
  if (!collected_samples.empty()) {
    double samples = 0;
    for (double v : collected_samples) samples += v;
    report.sample_mean = samples / static_cast<double>(collected_samples.size());
  }
  return report;
}

}  // namespace zorvastatic
