#pragma once
// The one cell-volume rule of the system, used in memory and out of core.

#include <array>

namespace zorvastatic {

struct Point3 {
  double x = 0;
  double y = 0;
  double z = 0;
  friend bool operator==(const Point3&, const Point3&) = default;
};

// Corners of one cell: top face first, each face in the order (i, j), (i+1, j), (i, j+1),
// (i+1, j+1).
using CellCorners = std::array<Point3, 8>;

// Signed sum of six tetrahedra around the diagonal from corner 0 to corner 7 (ring 1, 3, 2, 6,
// 4, 5). Exact for planar faces; callers take the absolute value.
double hexahedron_volume(const CellCorners& c);

}  // namespace zorvastatic
