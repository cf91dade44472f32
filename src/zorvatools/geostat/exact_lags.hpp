#pragma once
// Lattices whose node positions subtract exactly. On many lattices (no rotation, origin and
// spacings on a binary grid fine enough) every node position is a multiple of one power of two,
// few enough of them that the positions and their differences are exact: the lag between two
// nodes, computed from their positions, is then the same pair of doubles for every two nodes so
// offset, and so are the distance and the correlation computed from it.

#include <cstdint>
#include <optional>
#include <span>

#include "zorvatools/foundation/lattice.hpp"

namespace zorvatools {

// Node positions whose differences are exact: position (i, j) is along_i[i] + along_j[j], and the
// lag of an offset (di, dj) is (di step_i + dj step_j) 2^exponent in whole numbers.
struct ExactLags {
  int exponent = 0;
  std::int64_t step_i_x = 0;
  std::int64_t step_i_y = 0;
  std::int64_t step_j_x = 0;
  std::int64_t step_j_y = 0;

  // The lag between two nodes di, dj apart (|di| < along_i.size(), |dj| < along_j.size()).
  [[nodiscard]] Point2 lag(std::int64_t di, std::int64_t dj) const;
};

// The exact lags of the positions along_i[i] + along_j[j], or nothing when some sum or difference
// of positions would round, or the positions do not step evenly along i and along j.
[[nodiscard]] std::optional<ExactLags> exact_lags(std::span<const Point2> along_i,
                                                  std::span<const Point2> along_j);

}  // namespace zorvatools
