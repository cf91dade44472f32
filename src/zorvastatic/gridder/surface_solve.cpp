#include "zorvastatic/gridder/surface_solve.hpp"

#include <chrono>
#include <cmath>
#include <limits>
#include <new>

#include "zorvastatic/gridder/solve_profile.hpp"
#include "zorvatools/foundation/physical_memory.hpp"
#include "zorvatools/gridding/min_curvature.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

constexpr double kPlaneDeterminantThreshold = 1e-9;

// Lattice-sized surfaces alive at once during a converged solve: the seed, the current and the
// next solution, and the engine's seed copy, result and rearranged result.
constexpr std::uint64_t kSurfacesHeld = 6;

// Fails, before anything lattice-sized is allocated, when the surfaces of a solve cannot fit in
// the machine's memory.
Result<void> check_surface_memory(std::size_t nx, std::size_t ny) {
  const std::uint64_t limit =
      zorvatools::physical_memory_bytes().value_or(std::numeric_limits<std::uint64_t>::max());
  const auto nodes = zorvatools::checked_mul(nx, ny);
  const auto per_surface = nodes ? zorvatools::checked_mul(*nodes, sizeof(double)) : std::nullopt;
  const auto needed =
      per_surface ? zorvatools::checked_mul(*per_surface, kSurfacesHeld) : std::nullopt;
  if (needed && *needed <= limit) return {};
  return std::unexpected(StaticError::grid(zorvatools::memory_shortfall_text(
      "surface solve", nx, ny, needed.value_or(std::numeric_limits<std::uint64_t>::max()), limit)));
}

StaticError out_of_memory(std::size_t nx, std::size_t ny) {
  return StaticError::grid(str_cat("surface solve of lattice ", nx, "x", ny, " ran out of memory"));
}

// Least-squares plane z = a + b i + c j in node coordinates; flat (b = c = 0) when the controls
// do not determine a plane (one control, or all on one line).
struct PlaneTrend {
  double a = 0;
  double b = 0;
  double c = 0;
  [[nodiscard]] double at(double i, double j) const { return a + b * i + c * j; }
};

// The fit over depths times `scale` (a power of two).
PlaneTrend fit_scaled_plane(const std::vector<ControlPoint>& controls, double scale) {
  double si = 0, sj = 0, sz = 0, sii = 0, sjj = 0, sij = 0, siz = 0, sjz = 0;
  for (const ControlPoint& cp : controls) {
    const auto i = static_cast<double>(cp.i);
    const auto j = static_cast<double>(cp.j);
    const double z = cp.z * scale;
    si += i;
    sj += j;
    sz += z;
    sii += i * i;
    sjj += j * j;
    sij += i * j;
    siz += i * z;
    sjz += j * z;
  }
  const auto n = static_cast<double>(controls.size());
  const double mi = si / n, mj = sj / n, mz = sz / n;
  const double var_i = sii / n - mi * mi;
  const double var_j = sjj / n - mj * mj;
  const double cov_ij = sij / n - mi * mj;
  const double cov_iz = siz / n - mi * mz;
  const double cov_jz = sjz / n - mj * mz;
  const double det = var_i * var_j - cov_ij * cov_ij;
  PlaneTrend plane;
  if (std::fabs(det) > kPlaneDeterminantThreshold) {
    plane.b = (var_j * cov_iz - cov_ij * cov_jz) / det;
    plane.c = (var_i * cov_jz - cov_ij * cov_iz) / det;
  }
  plane.a = mz - plane.b * mi - plane.c * mj;
  return plane;
}

bool finite_plane(const PlaneTrend& plane) {
  return std::isfinite(plane.a) && std::isfinite(plane.b) && std::isfinite(plane.c);
}

PlaneTrend fit_plane(const std::vector<ControlPoint>& controls) {
  const PlaneTrend plane = fit_scaled_plane(controls, 1.0);
  if (finite_plane(plane)) return plane;
  // Finite depths so large that a sum overflowed: the fit of the depths scaled down by a power of
  // two, scaled back up, is the same fit (the scaling is exact) without the overflow.
  constexpr double kDown = 0x1p-64;
  constexpr double kUp = 0x1p64;
  const PlaneTrend scaled = fit_scaled_plane(controls, kDown);
  const PlaneTrend restored{scaled.a * kUp, scaled.b * kUp, scaled.c * kUp};
  return finite_plane(restored) ? restored : plane;
}

// The seeded solve; with a cache, restarts on an unchanged anchor layout skip the factorisation.
Result<Surface> solve_seeded(const Surface& seed, const std::vector<ControlPoint>& controls,
                             zorvatools::MinCurvatureCache* cache) {
  const std::size_t nx = seed.nx();
  const std::size_t ny = seed.ny();
  if (nx < 2 || ny < 2) {
    return std::unexpected(
        StaticError::grid(str_cat("seed lattice must be at least 2x2, got ", nx, "x", ny)));
  }
  for (const ControlPoint& cp : controls) {
    if (cp.i >= nx || cp.j >= ny) {
      return std::unexpected(StaticError::grid(
          str_cat("control (", cp.i, ",", cp.j, ") outside lattice ", nx, "x", ny)));
    }
  }
  std::vector<zorvatools::Sample> samples;
  samples.reserve(controls.size());
  for (const ControlPoint& cp : controls) {
    samples.push_back({static_cast<double>(cp.i), static_cast<double>(cp.j), cp.z});
  }
  zorvatools::Array2D<double> seed_ij(nx, ny);
  for (std::size_t i = 0; i < nx; ++i) {
    for (std::size_t j = 0; j < ny; ++j) seed_ij(i, j) = seed.at(i, j);
  }
  auto grid =
      zorvatools::grid_min_curvature(samples, zorvatools::Lattice::unit(nx, ny), seed_ij, cache);
  if (!grid) {
    return std::unexpected(
        StaticError::grid(str_cat("zorvatools seeded grid failed: ", grid.error().display())));
  }
  Surface out(nx, ny, std::vector<double>(nx * ny));
  for (std::size_t i = 0; i < nx; ++i) {
    for (std::size_t j = 0; j < ny; ++j) out.at(i, j) = (*grid)(i, j);
  }
  return out;
}

Result<Surface> converged_solve(std::size_t nx, std::size_t ny,
                                const std::vector<ControlPoint>& controls,
                                zorvatools::MinCurvatureCache& cache);

// Largest |a - b| over all nodes, NaN differences ignored; 0 when there is none.
double largest_move(const Surface& before, const Surface& after) {
  double moved = 0;
  const std::vector<double>& a = before.values();
  const std::vector<double>& b = after.values();
  for (std::size_t n = 0; n < a.size(); ++n) {
    const double d = std::fabs(b[n] - a[n]);
    if (d > moved) moved = d;
  }
  return moved;
}

}  // namespace

Result<Surface> solve_surface_seeded(const Surface& seed,
                                     const std::vector<ControlPoint>& controls) {
  try {
    return solve_seeded(seed, controls, nullptr);
  } catch (const std::bad_alloc&) {
    return std::unexpected(out_of_memory(seed.nx(), seed.ny()));
  }
}

Result<Surface> solve_surface_converged(std::size_t nx, std::size_t ny,
                                        const std::vector<ControlPoint>& controls) {
  zorvatools::MinCurvatureCache cache;
  return solve_surface_converged(nx, ny, controls, cache);
}

Result<Surface> solve_surface_converged(std::size_t nx, std::size_t ny,
                                        const std::vector<ControlPoint>& controls,
                                        zorvatools::MinCurvatureCache& cache) {
  if (controls.empty()) {
    return std::unexpected(
        StaticError::invalid_input("structural solve needs at least one control point"));
  }
  ZV_TRY(check_surface_memory(nx, ny));
  try {
    return converged_solve(nx, ny, controls, cache);
  } catch (const std::bad_alloc&) {
    return std::unexpected(out_of_memory(nx, ny));
  }
}

namespace {

Result<Surface> converged_solve(std::size_t nx, std::size_t ny,
                                const std::vector<ControlPoint>& controls,
                                zorvatools::MinCurvatureCache& cache) {
  const PlaneTrend trend = fit_plane(controls);
  std::vector<ControlPoint> residuals;
  residuals.reserve(controls.size());
  double residual_sum = 0;
  for (const ControlPoint& cp : controls) {
    const double r = cp.z - trend.at(static_cast<double>(cp.i), static_cast<double>(cp.j));
    residuals.push_back({cp.i, cp.j, r});
    residual_sum += r;
  }

  const SolveProfile profile;
  const Surface seed =
      Surface::constant(nx, ny, residual_sum / static_cast<double>(residuals.size()));
  // Every solve below has the same anchors: the factorisation is done once and reused.
  const auto first_start = std::chrono::steady_clock::now();
  ZV_ASSIGN_OR_RETURN(Surface current, solve_seeded(seed, residuals, &cache));
  profile.start_line(nx, ny, controls.size(), SolveProfile::ms_since(first_start));

  int restarts = 0;
  double moved = 0;
  while (restarts < kSolveRestartLimit) {
    ++restarts;
    const auto restart_start = std::chrono::steady_clock::now();
    ZV_ASSIGN_OR_RETURN(Surface next, solve_seeded(current, residuals, &cache));
    moved = largest_move(current, next);
    current = std::move(next);
    profile.restart_line(restarts, kSolveRestartLimit, moved,
                         SolveProfile::ms_since(restart_start));
    if (moved < kSolveMovementThreshold) break;
  }
  profile.done_line(controls.size(), restarts, restarts == kSolveRestartLimit, moved);

  std::vector<double>& values = current.values();
  for (std::size_t j = 0; j < ny; ++j) {
    for (std::size_t i = 0; i < nx; ++i) {
      values[i + nx * j] =
          trend.at(static_cast<double>(i), static_cast<double>(j)) + values[i + nx * j];
    }
  }
  return current;
}

}  // namespace

}  // namespace zorvastatic
