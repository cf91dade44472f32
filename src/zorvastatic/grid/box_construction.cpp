#include "zorvastatic/grid/box_construction.hpp"

#include <cmath>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/large_array.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

Status require_positive(const char* what, double value) {
  if (std::isfinite(value) && value > 0) return {};
  return std::unexpected(StaticError::invalid_input(
      zorvatools::str_cat(what, " must be a finite value > 0, got ", value)));
}

}  // namespace

Result<Grid> build_box(const BoxSpec& spec) {
  ZV_TRY(require_positive("area", spec.area_m2));
  ZV_TRY(require_positive("gross height", spec.gross_height_m));
  ZV_TRY(require_positive("aspect ratio", spec.aspect_ratio));

  const double lx = std::sqrt(spec.area_m2 * spec.aspect_ratio);
  const double ly = std::sqrt(spec.area_m2 / spec.aspect_ratio);
  const double top = spec.top_depth_m;
  const double bottom = spec.top_depth_m + spec.gross_height_m;
  const Dims dims{spec.ni, spec.nj, spec.nk};

  std::vector<Pillar> pillars;
  pillars.reserve((spec.ni + 1) * (spec.nj + 1));
  for (std::size_t pj = 0; pj <= spec.nj; ++pj) {
    for (std::size_t pi = 0; pi <= spec.ni; ++pi) {
      const double x = lx / static_cast<double>(spec.ni) * static_cast<double>(pi);
      const double y = ly / static_cast<double>(spec.nj) * static_cast<double>(pj);
      pillars.push_back({{x, y, top}, {x, y, bottom}});
    }
  }

  const double dz = spec.gross_height_m / static_cast<double>(spec.nk);
  std::vector<double> zcorn;
  zorvatools::reserve_large(zcorn, 8 * dims.cell_count());
  for (const CellIndex& cell : dims.iter()) {
    const double cell_top = top + dz * static_cast<double>(cell.k);
    const double cell_bottom = cell_top + dz;
    for (int n = 0; n < 4; ++n) zcorn.push_back(cell_top);
    for (int n = 0; n < 4; ++n) zcorn.push_back(cell_bottom);
  }

  CornerPointGeom geom(dims, std::move(pillars), std::move(zcorn));
  return Grid{std::move(geom), layer_labels(spec.nk), Properties(dims.cell_count())};
}

Grid unit_box() {
  auto box = build_box(BoxSpec{});
  if (!box) zorvatools::internal_fault("unit box always builds");
  return std::move(*box);
}

}  // namespace zorvastatic
