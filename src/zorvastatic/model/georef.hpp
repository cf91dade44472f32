#pragma once

#include <cstddef>

#include "zorvatools/foundation/lattice.hpp"

namespace zorvastatic {

// World georeference of a model's areal lattice (the lattice without node counts).
struct Georef {
  double origin_x = 0;
  double origin_y = 0;
  double spacing_x = 1;
  double spacing_y = 1;
  double rotation_deg = 0;
  bool yflip = false;

  [[nodiscard]] zorvatools::Lattice lattice(std::size_t nx, std::size_t ny) const {
    return {origin_x, origin_y, spacing_x, spacing_y, nx, ny, rotation_deg, yflip};
  }
};

}  // namespace zorvastatic
