#pragma once
// Corner-point geometry: one straight pillar per areal node (COORD) and eight corner depths per
// cell, contiguous per cell (ZCORN).

#include <cmath>
#include <cstddef>
#include <vector>

#include "zorvastatic/grid/index.hpp"
#include "zorvastatic/grid/volume.hpp"

namespace zorvastatic {

struct Pillar {
  Point3 top;
  Point3 bottom;
  [[nodiscard]] bool is_vertical() const { return top.x == bottom.x && top.y == bottom.y; }
  friend bool operator==(const Pillar&, const Pillar&) = default;
};

class CornerPointGeom {
 public:
  // Takes ownership of both arrays; their lengths are internal invariants.
  CornerPointGeom(Dims dims, std::vector<Pillar> pillars, std::vector<double> zcorn);

  [[nodiscard]] const Dims& dims() const { return dims_; }
  [[nodiscard]] const std::vector<Pillar>& pillars() const { return pillars_; }
  [[nodiscard]] const std::vector<double>& zcorn() const { return zcorn_; }
  [[nodiscard]] bool vertical() const { return vertical_; }

  // Pillar index of areal node (pi, pj).
  [[nodiscard]] std::size_t pillar_index(std::size_t pi, std::size_t pj) const {
    return pi + pj * (dims_.ni + 1);
  }
  // The eight corner depths of cell c.
  [[nodiscard]] const double* cell_depths(std::size_t c) const { return zcorn_.data() + 8 * c; }

  // Corners of cell (i, j, k): each depth placed on its pillar's line (extrapolating beyond it).
  [[nodiscard]] CellCorners cell_corners(const CellIndex& cell) const;
  // Bulk volume of cell c in m³ (non-negative).
  [[nodiscard]] double cell_volume_at(std::size_t c) const;

 private:
  Dims dims_;
  std::vector<Pillar> pillars_;
  std::vector<double> zcorn_;
  bool vertical_ = true;
};

// The point of a pillar at depth z; a pillar without vertical extent yields its top (x, y).
Point3 point_on_pillar(const Pillar& pillar, double z);

// Corners of the cell whose corners stand on vertical pillars p, p+1, p+ni+1, p+ni+2 (top four
// depths then bottom four): no interpolation needed. Shared by the in-memory and slab paths.
inline CellCorners vertical_cell_corners(const Pillar* pillars, std::size_t p, std::size_t ni,
                                         const double* depths) {
  const Point3* face[4] = {&pillars[p].top, &pillars[p + 1].top, &pillars[p + ni + 1].top,
                           &pillars[p + ni + 2].top};
  CellCorners corners;
  for (int n = 0; n < 8; ++n) corners[n] = {face[n % 4]->x, face[n % 4]->y, depths[n]};
  return corners;
}

// Bulk volume of such a cell: the one volume rule over its corners.
inline double vertical_cell_volume(const Pillar* pillars, std::size_t p, std::size_t ni,
                                   const double* depths) {
  return std::fabs(hexahedron_volume(vertical_cell_corners(pillars, p, ni, depths)));
}

}  // namespace zorvastatic
