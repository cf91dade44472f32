#pragma once
// Geometry of a vertical section: from world coordinates into the grid's own areal coordinates,
// and the depths where a section line enters and leaves one cell.

#include "zorvastatic/grid/volume.hpp"
#include "zorvastatic/model/view/frame.hpp"
#include "zorvatools/foundation/lattice.hpp"

namespace zorvastatic {

using zorvatools::Point2;

// World point -> fractional column indices in the world frame -> the same indices in the
// grid's own lattice, where the pillars stand.
class WorldToLattice {
 public:
  WorldToLattice(const GridFrame& world, const zorvatools::Lattice& grid)
      : world_(world.lattice()), grid_(grid) {}

  // The grid-lattice position of a world point; NaN when the mapping is undefined.
  [[nodiscard]] Point2 point(Point2 world) const;
  // A world direction in grid-lattice coordinates: the image of the origin plus `direction`
  // minus the image of the origin.
  [[nodiscard]] Point2 dir(Point2 direction) const;

 private:
  zorvatools::Lattice world_;
  zorvatools::Lattice grid_;
};

// Top and base depths where the line enters the cell (left) and where it leaves (right).
struct EdgeDepths {
  double top_l = 0;
  double base_l = 0;
  double top_r = 0;
  double base_r = 0;
};

// Clips the line p + t d against the areal extent of the cell's corners and interpolates the
// top and bottom faces bilinearly at the entry and exit points. A direction shorter than 1e-9
// gives the centre depths at both edges; so does a missed clip, after a warning on stderr.
EdgeDepths fence_edge_depths(const CellCorners& corners, Point2 p, Point2 d);

}  // namespace zorvastatic
