#pragma once
// Solving depth surfaces from node-indexed control points: one seeded minimum-curvature solve,
// the converged production solve (trend removal and restarts), and tapering beyond the data.

#include <cstddef>
#include <vector>

#include "zorvastatic/gridder/surface.hpp"

namespace zorvatools {
struct MinCurvatureCache;
}

namespace zorvastatic {

struct TaperSpec {
  bool enabled = true;
  double start = 2.0;  // distance in node units at which tapering begins
  double width = 4.0;  // distance in node units over which it completes
};

inline constexpr int kSolveRestartLimit = 16;
inline constexpr double kSolveMovementThreshold = 0.001;

// One minimum-curvature solve of `controls` on the seed's lattice, started from `seed`.
Result<Surface> solve_surface_seeded(const Surface& seed,
                                     const std::vector<ControlPoint>& controls);

// The production solve: planar trend, residual solve and restarts until the surface stops
// moving. Requires nx >= 2 and ny >= 2.
Result<Surface> solve_surface_converged(std::size_t nx, std::size_t ny,
                                        const std::vector<ControlPoint>& controls);
// The same with the caller's factorisation cache, so that solves on one set of control nodes
// factor once; the result is bit-identical to the uncached solve.
Result<Surface> solve_surface_converged(std::size_t nx, std::size_t ny,
                                        const std::vector<ControlPoint>& controls,
                                        zorvatools::MinCurvatureCache& cache);

// Pulls the surface towards the nearest control's depth far away from the data.
Surface taper_beyond_data(const Surface& surface, const std::vector<ControlPoint>& controls,
                          const TaperSpec& taper);

}  // namespace zorvastatic
