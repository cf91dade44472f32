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
inline double hexahedron_volume(const CellCorners& c) {
  static constexpr int kRing[6][2] = {{1, 3}, {3, 2}, {2, 6}, {6, 4}, {4, 5}, {5, 1}};
  const Point3& apex = c[7];
  const double d0x = c[0].x - apex.x;
  const double d0y = c[0].y - apex.y;
  const double d0z = c[0].z - apex.z;
  double sum = 0;
  for (const auto& [a, b] : kRing) {
    const double ax = c[a].x - apex.x, ay = c[a].y - apex.y, az = c[a].z - apex.z;
    const double bx = c[b].x - apex.x, by = c[b].y - apex.y, bz = c[b].z - apex.z;
    const double cross_x = ay * bz - az * by;
    const double cross_y = az * bx - ax * bz;
    const double cross_z = ax * by - ay * bx;
    sum += d0x * cross_x + d0y * cross_y + d0z * cross_z;
  }
  // Six times each tetrahedron summed, divided once: a box comes out exact.
  return sum / 6.0;
}

}  // namespace zorvastatic
