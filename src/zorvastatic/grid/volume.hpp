#pragma once
// The one cell-volume rule of the system, used in memory and out of core.

#include <array>
#include <cmath>

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

// Thickness at or below which a pillar has none, in metres: what rounding leaves of layers that
// run out against a surface.
inline constexpr double kZeroThicknessM = 1e-9;

// Whether the cell's four pillars have no thickness (corners n and n + 4 share a pillar): such a
// cell has no volume. A depth that is not a number is not thin.
inline bool collapsed_cell(const double* z) {
  // Bitwise rather than short-circuit logic keeps the row loops that inline this vectorised.
  return (std::fabs(z[4] - z[0]) <= kZeroThicknessM) & (std::fabs(z[5] - z[1]) <= kZeroThicknessM) &
         (std::fabs(z[6] - z[2]) <= kZeroThicknessM) & (std::fabs(z[7] - z[3]) <= kZeroThicknessM);
}

// Signed sum of six tetrahedra around the diagonal from corner 0 to corner 7 (ring 1, 3, 2, 6,
// 4, 5), over the corners' coordinates as three arrays of eight. Exact for planar faces;
// callers take the absolute value. A collapsed cell has volume exactly 0, not what rounding
// leaves of the six terms (nor the sliver of a rounding-thin pillar).
inline double hexahedron_volume(const double* x, const double* y, const double* z) {
  static constexpr int kRing[6][2] = {{1, 3}, {3, 2}, {2, 6}, {6, 4}, {4, 5}, {5, 1}};
  const double d0x = x[0] - x[7];
  const double d0y = y[0] - y[7];
  const double d0z = z[0] - z[7];
  double sum = 0;
#pragma GCC unroll 6
  for (const auto& [a, b] : kRing) {
    const double ax = x[a] - x[7], ay = y[a] - y[7], az = z[a] - z[7];
    const double bx = x[b] - x[7], by = y[b] - y[7], bz = z[b] - z[7];
    const double cross_x = ay * bz - az * by;
    const double cross_y = az * bx - ax * bz;
    const double cross_z = ax * by - ay * bx;
    sum += d0x * cross_x + d0y * cross_y + d0z * cross_z;
  }
  // Six times each tetrahedron summed, divided once: a box comes out exact.
  return collapsed_cell(z) ? 0.0 : sum / 6.0;
}

// The same rule over corner points.
inline double hexahedron_volume(const CellCorners& c) {
  double x[8], y[8], z[8];
  for (int n = 0; n < 8; ++n) {
    x[n] = c[n].x;
    y[n] = c[n].y;
    z[n] = c[n].z;
  }
  return hexahedron_volume(x, y, z);
}

}  // namespace zorvastatic
