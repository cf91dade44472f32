#pragma once
// The fallback of minimum-curvature gridding: an inverse-distance starting surface and
// over-relaxed Gauss-Seidel sweeps of the stencil over the free nodes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zorvatools/foundation/array2d.hpp"
#include "zorvatools/foundation/error.hpp"
#include "zorvatools/foundation/lattice.hpp"

namespace zorvatools {

struct Sample;

inline constexpr std::size_t kMaxRelaxationSweeps = 20000;
inline constexpr double kRelaxationTolerance = 1e-6;  // largest change of a sweep, metres
inline constexpr double kOverRelaxation = 1.5;

// Depth at node (i, j) with signed indices. Beyond an edge, linear extrapolation from the two
// nodes next to it along that axis, z(-1) = 2 z(0) - z(1); i is resolved first, then j.
double z_at(const Array2D<double>& grid, std::size_t nx, std::size_t ny, std::int64_t i,
            std::int64_t j);

// Inverse-distance-squared surface of every sample at each node's world position; a sample at
// distance 0 gives its depth (the first such), a node without weight is NaN.
Array2D<double> inverse_distance_surface(std::span<const Sample> samples, const Lattice& lattice);

struct RelaxationOutcome {
  std::size_t sweeps = 0;
  double last_change = 0;  // largest |change| of the last sweep
};

// Sweeps j outer, i inner, updating in place and skipping nodes whose `fixed` entry (node
// i * ny + j) is >= 0, until a sweep changes no node by 1e-6 or more, or 20000 sweeps. Polls
// the current call once a sweep; fails only when the call is stopped (the grid then holds the
// sweeps done so far).
AlgoResult<RelaxationOutcome> relax_min_curvature(Array2D<double>& grid,
                                                  std::span<const std::int32_t> fixed);

}  // namespace zorvatools
