#pragma once
// Working state of one sequential Gaussian simulation, sized once per call and reused across
// nodes.

#include <cstddef>
#include <utility>
#include <vector>

#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/geostat/lattice_neighbours.hpp"
#include "zorvatools/geostat/local_kriging.hpp"

namespace zorvatools {

struct SgsScratch {
  SgsScratch(const Lattice& lattice, double radius2, std::size_t max_neighbours)
      : neighbours(lattice, radius2, max_neighbours) {
    path.reserve(lattice.nx * lattice.ny);
  }

  // Informed nodes: data nodes first, then simulated nodes in path order.
  LatticeNeighbours neighbours;
  std::vector<std::pair<std::size_t, std::size_t>> path;  // nodes (i, j) still to simulate
  SkScratch kriging;                                      // the first node of a pair on the path
  SkScratch second_kriging;                               // the second
};

}  // namespace zorvatools
