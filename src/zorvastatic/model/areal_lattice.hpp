#pragma once
// The column lattice of a grid: one node per column at the centre of its top cell.

#include <cstddef>

#include "zorvastatic/error.hpp"
#include "zorvastatic/grid/grid.hpp"
#include "zorvatools/foundation/lattice.hpp"

namespace zorvastatic {

// Mean of the eight corners of cell (i, j, k), x and y.
zorvatools::Point2 cell_centre(const CornerPointGeom& geom, std::size_t i, std::size_t j,
                               std::size_t k);

// Origin at the centre of column (0, 0), spacings from the first row and column (the grid is
// taken to be regular and axis-aligned), no rotation, no flip.
Result<zorvatools::Lattice> areal_lattice(const Grid& grid);

}  // namespace zorvastatic
