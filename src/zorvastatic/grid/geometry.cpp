#include "zorvastatic/grid/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {

using zorvatools::require;

CornerPointGeom::CornerPointGeom(Dims dims, std::vector<Pillar> pillars, std::vector<double> zcorn)
    : dims_(dims), pillars_(std::move(pillars)), zcorn_(std::move(zcorn)) {
  require(pillars_.size() == (dims_.ni + 1) * (dims_.nj + 1), "coord length mismatch");
  require(zcorn_.size() == 8 * dims_.cell_count(), "zcorn length mismatch");
  vertical_ = std::ranges::all_of(pillars_, [](const Pillar& p) { return p.is_vertical(); });
}

Point3 point_on_pillar(const Pillar& pillar, double z) {
  const Point3& t = pillar.top;
  const Point3& b = pillar.bottom;
  if (std::fabs(b.z - t.z) < std::numeric_limits<double>::epsilon()) return {t.x, t.y, z};
  const double f = (z - t.z) / (b.z - t.z);
  return {t.x + (b.x - t.x) * f, t.y + (b.y - t.y) * f, z};
}

CellCorners CornerPointGeom::cell_corners(const CellIndex& cell) const {
  require(cell.i < dims_.ni && cell.j < dims_.nj && cell.k < dims_.nk, "cell index out of bounds");
  const std::size_t c = dims_.linear(cell);
  const std::size_t p = pillar_index(cell.i, cell.j);
  const std::size_t ni = dims_.ni;
  const std::size_t face[4] = {p, p + 1, p + ni + 1, p + ni + 2};
  const double* z = cell_depths(c);
  CellCorners corners;
  for (int n = 0; n < 8; ++n) corners[n] = point_on_pillar(pillars_[face[n % 4]], z[n]);
  return corners;
}

double CornerPointGeom::cell_volume_at(std::size_t c) const {
  if (vertical_) {
    require(c < dims_.cell_count(), "cell index out of bounds");
    const std::size_t in_layer = c % dims_.layer_cells();
    const std::size_t p = pillar_index(in_layer % dims_.ni, in_layer / dims_.ni);
    return vertical_cell_volume(pillars_.data(), p, dims_.ni, cell_depths(c));
  }
  return std::fabs(hexahedron_volume(cell_corners(dims_.triple(c))));
}

}  // namespace zorvastatic
