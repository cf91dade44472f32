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
    informed_scores.reserve(node_count);
    path.reserve(node_count);
  }

  // Informed nodes: data nodes first, then simulated nodes in path order. The neighbourhood
  // holds their positions (and hands them back with each hit), indexed like their scores.
  std::vector<double> informed_scores;
  Neighbourhood neighbourhood;
  std::vector<std::pair<std::size_t, std::size_t>> path;  // nodes (i, j) still to simulate
  Neighbourhood::NearestWalk walk;
  SkScratch kriging;
};

}  // namespace zorvatools
