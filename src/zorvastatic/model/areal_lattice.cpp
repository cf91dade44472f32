#include "zorvastatic/model/areal_lattice.hpp"

#include <cmath>

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

zorvatools::Point2 cell_centre(const CornerPointGeom& geom, std::size_t i, std::size_t j,
                               std::size_t k) {
  const CellCorners corners = geom.cell_corners({i, j, k});
  double x = 0;
  double y = 0;
  for (const Point3& corner : corners) {
    x += corner.x * 0.125;
    y += corner.y * 0.125;
  }
  return {x, y};
}

Result<zorvatools::Lattice> areal_lattice(const Grid& grid) {
  const Dims& dims = grid.dims();
  if (dims.ni < 2 || dims.nj < 2) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("property pipeline needs an areal lattice of at least 2x2 columns, got ", dims.ni,
                "x", dims.nj)));
  }
  const zorvatools::Point2 c00 = cell_centre(grid.geom, 0, 0, 0);
  const zorvatools::Point2 c10 = cell_centre(grid.geom, 1, 0, 0);
  const zorvatools::Point2 c01 = cell_centre(grid.geom, 0, 1, 0);
  const double dx = c10.x - c00.x;
  const double dy = c01.y - c00.y;
  if (!std::isfinite(dx) || !(dx > 0) || !std::isfinite(dy) || !(dy > 0)) {
    return std::unexpected(StaticError::invalid_input(str_cat(
        "property pipeline needs a regular axis-aligned column lattice (node spacing dx=", dx,
        ", dy=", dy, ")")));
  }
  return zorvatools::Lattice{c00.x, c00.y, dx, dy, dims.ni, dims.nj, 0, false};
}

}  // namespace zorvastatic
