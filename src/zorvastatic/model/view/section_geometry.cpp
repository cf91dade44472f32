#include "zorvastatic/model/view/section_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

const double kNaN = std::nan("");

// Fractional indices (u, v) to a point of the lattice; the inverse of Lattice::xy_to_ij.
Point2 lattice_point(const zorvatools::Lattice& lattice, double u, double v) {
  const double theta = lattice.rotation_deg * zorvatools::kDegToRad;
  const double c = std::cos(theta);
  const double s = std::sin(theta);
  const double w = lattice.yflip ? v * lattice.spacing_y : -(v * lattice.spacing_y);
  return {lattice.origin_x + u * lattice.spacing_x * c + w * s,
          lattice.origin_y + u * lattice.spacing_x * s - w * c};
}

double face_mean(const CellCorners& corners, int first) {
  return (corners[first].z + corners[first + 1].z + corners[first + 2].z + corners[first + 3].z) *
         0.25;
}

double bilinear(const CellCorners& corners, int first, double fx, double fy) {
  return corners[first].z * (1 - fx) * (1 - fy) + corners[first + 1].z * fx * (1 - fy) +
         corners[first + 2].z * (1 - fx) * fy + corners[first + 3].z * fx * fy;
}

double fraction(double value, double from, double to) {
  const double span = to - from;
  if (std::fabs(span) <= 1e-12) return 0.5;
  return std::clamp((value - from) / span, 0.0, 1.0);
}

}  // namespace

Point2 WorldToLattice::point(Point2 world) const {
  const auto ij = world_.xy_to_ij(world.x, world.y);
  if (!ij) return {kNaN, kNaN};
  const Point2 mapped = lattice_point(grid_, ij->first, ij->second);
  if (!std::isfinite(mapped.x) || !std::isfinite(mapped.y)) return {kNaN, kNaN};
  return mapped;
}

Point2 WorldToLattice::dir(Point2 direction) const {
  const Point2 from = point({0, 0});
  const Point2 to = point({direction.x, direction.y});
  return {to.x - from.x, to.y - from.y};
}

EdgeDepths fence_edge_depths(const CellCorners& corners, Point2 p, Point2 d) {
  const double centre_top = face_mean(corners, 0);
  const double centre_base = face_mean(corners, 4);
  const EdgeDepths centre{centre_top, centre_base, centre_top, centre_base};
  if (std::hypot(d.x, d.y) < 1e-9) return centre;

  const double x0 = corners[0].x;
  const double x1 = corners[1].x;
  const double y0 = corners[0].y;
  const double y2 = corners[2].y;
  const double xmin = std::min(x0, x1);
  const double xmax = std::max(x0, x1);
  const double ymin = std::min(y0, y2);
  const double ymax = std::max(y0, y2);

  double tmin = -std::numeric_limits<double>::infinity();
  double tmax = std::numeric_limits<double>::infinity();
  // An unmapped point (NaN) or a NaN bound makes the clip miss.
  bool undefined = !std::isfinite(p.x) || !std::isfinite(p.y);
  auto clip_axis = [&](double origin, double direction, double lo, double hi) {
    if (!(std::fabs(direction) >= 1e-12)) return;
    double t0 = (lo - origin) / direction;
    double t1 = (hi - origin) / direction;
    if (std::isnan(t0) || std::isnan(t1)) {
      undefined = true;
      return;
    }
    if (t0 > t1) std::swap(t0, t1);
    tmin = std::max(tmin, t0);
    tmax = std::min(tmax, t1);
  };
  clip_axis(p.x, d.x, xmin, xmax);
  clip_axis(p.y, d.y, ymin, ymax);

  if (undefined || tmin > tmax || !std::isfinite(tmin) || !std::isfinite(tmax)) {
    std::string line = zorvatools::str_cat(
        "warning: fence_edge_depths clip miss (frame mismatch?) — section edge fell back to the "
        "centroid: p=(",
        p.x, ", ", p.y, ") dir=(", d.x, ", ", d.y, ") cell x[", xmin, ", ", xmax, "] y[", ymin,
        ", ", ymax, "]\n");
    std::fwrite(line.data(), 1, line.size(), stderr);
    return centre;
  }

  auto edge = [&](double t, double& top, double& base) {
    const double fx = fraction(p.x + t * d.x, x0, x1);
    const double fy = fraction(p.y + t * d.y, y0, y2);
    top = bilinear(corners, 0, fx, fy);
    base = bilinear(corners, 4, fx, fy);
  };
  EdgeDepths edges;
  edge(tmin, edges.top_l, edges.base_l);
  edge(tmax, edges.top_r, edges.base_r);
  return edges;
}

}  // namespace zorvastatic
