#include "zorvastatic/grid/volume.hpp"

namespace zorvastatic {

double hexahedron_volume(const CellCorners& c) {
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
