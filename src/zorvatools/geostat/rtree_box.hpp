#pragma once
// Axis-aligned boxes of the neighbourhood's R*-tree and the measures its insertion weighs.

#include <algorithm>

#include "zorvatools/foundation/lattice.hpp"

namespace zorvatools {

// A point's box has zero extent.
struct RtreeBox {
  double min_x, min_y, max_x, max_y;
};

inline RtreeBox point_box(Point2 p) {
  return {p.x, p.y, p.x, p.y};
}

inline RtreeBox united(const RtreeBox& a, const RtreeBox& b) {
  return {std::min(a.min_x, b.min_x), std::min(a.min_y, b.min_y), std::max(a.max_x, b.max_x),
          std::max(a.max_y, b.max_y)};
}

// Every comparison is made (no short cut), so callers can stay free of branches.
inline bool contains(const RtreeBox& outer, const RtreeBox& inner) {
  return (outer.min_x <= inner.min_x) & (outer.min_y <= inner.min_y) &
         (inner.max_x <= outer.max_x) & (inner.max_y <= outer.max_y);
}

inline double area(const RtreeBox& b) {
  return (b.max_x - b.min_x) * (b.max_y - b.min_y);
}

inline double margin(const RtreeBox& b) {
  return (b.max_x - b.min_x) + (b.max_y - b.min_y);
}

inline double overlap(const RtreeBox& a, const RtreeBox& b) {
  const double w = std::min(a.max_x, b.max_x) - std::max(a.min_x, b.min_x);
  const double h = std::min(a.max_y, b.max_y) - std::max(a.min_y, b.min_y);
  return w > 0 && h > 0 ? w * h : 0.0;
}

}  // namespace zorvatools
