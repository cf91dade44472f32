#include "zorvatools/foundation/lattice.hpp"

#include <cmath>

namespace zorvatools {

Point2 Lattice::node_xy(double i, double j) const {
  const double theta = rotation_deg * kDegToRad;
  const double s = std::sin(theta);
  const double c = std::cos(theta);
  const double h = yflip ? spacing_y : -spacing_y;
  return {origin_x + spacing_x * c * i + s * h * j, origin_y + spacing_x * s * i - c * h * j};
}

std::optional<std::pair<double, double>> Lattice::xy_to_ij(double x, double y) const {
  if (spacing_x == 0 || spacing_y == 0) return std::nullopt;
  for (double v : {origin_x, origin_y, spacing_x, spacing_y, rotation_deg, x, y}) {
    if (!std::isfinite(v)) return std::nullopt;
  }
  const double u = x - origin_x;
  const double v = y - origin_y;
  const double theta = rotation_deg * kDegToRad;
  const double s = std::sin(theta);
  const double c = std::cos(theta);
  const double fi = (u * c + v * s) / spacing_x;
  const double t = v * c - u * s;
  const double fj = yflip ? -t / spacing_y : t / spacing_y;
  if (!std::isfinite(fi) || !std::isfinite(fj)) return std::nullopt;
  return std::pair{fi, fj};
}

}  // namespace zorvatools
