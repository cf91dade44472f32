#pragma once
// Working state of one sequential Gaussian simulation, sized once per call and reused across
// nodes.

#include <cstddef>
#include <utility>
#include <vector>

#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/geostat/local_kriging.hpp"
#include "zorvatools/geostat/neighbourhood.hpp"

namespace zorvatools {

struct SgsScratch {
  explicit SgsScratch(std::size_t node_count) : neighbourhood(node_count) {
    informed_xy.reserve(node_count);
    informed_scores.reserve(node_count);
    path.reserve(node_count);
  }

  std::vector<Point2> informed_xy;      // data nodes first, then simulated nodes in path order
  std::vector<double> informed_scores;  // normal score of each informed position
  Neighbourhood neighbourhood;          // over informed_xy, by index
  std::vector<std::pair<std::size_t, std::size_t>> path;  // nodes (i, j) still to simulate
  std::vector<Neighbourhood::Hit> neighbours;             // of the current node
  Neighbourhood::NearestWalk walk;
  SkScratch kriging;
};

}  // namespace zorvatools
