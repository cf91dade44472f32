#pragma once
// A regular areal node lattice: origin, spacings, node counts, rotation and y-flip.

#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

namespace zorvatools {

inline constexpr double kDegToRad = 0.017453292519943295;

struct Point2 {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point2&, const Point2&) = default;
};

struct Lattice {
  double origin_x = 0;
  double origin_y = 0;
  double spacing_x = 1;
  double spacing_y = 1;
  std::uint64_t nx = 0;
  std::uint64_t ny = 0;
  double rotation_deg = 0;  // counter-clockwise rotation of the i axis from world +x
  bool yflip = false;       // rows run towards -y before rotation

  // The unit lattice in node coordinates: origin (0, 0), spacings 1, no rotation, no flip.
  static Lattice unit(std::uint64_t nx, std::uint64_t ny) { return {0, 0, 1, 1, nx, ny, 0, false}; }

  // World position of node (i, j); indices beyond the node counts extrapolate.
  [[nodiscard]] Point2 node_xy(double i, double j) const;
  // Fractional node coordinates of a world point; nothing when the mapping is undefined.
  [[nodiscard]] std::optional<std::pair<double, double>> xy_to_ij(double x, double y) const;
};

// Nearest integer with halves away from zero, as the system snaps points to nodes.
inline double round_half_away(double value) {
  return std::round(value);
}

}  // namespace zorvatools
