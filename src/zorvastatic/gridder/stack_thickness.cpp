#include "zorvastatic/gridder/stack_thickness.hpp"

#include <algorithm>
#include <cmath>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

// Thickness never goes negative; an undefined difference counts as none.
double non_negative(double value) {
  return value > 0 ? value : 0.0;
}

enum class Side { Below, Above };

// Thickness of the tops on one side of `surface`, solved into a field when there are several.
Result<std::vector<double>> tops_field(const std::vector<ControlPoint>& tops,
                                       const Surface& surface, std::size_t ni, std::size_t nj,
                                       const TaperSpec& taper, Side side,
                                       zorvatools::MinCurvatureCache* cache) {
  zorvatools::require(surface.nx() == ni && surface.ny() == nj,
                      "thickness surface is not on the stack lattice");
  if (tops.empty()) {
    return std::unexpected(
        StaticError::invalid_input("structural solve needs at least one control point"));
  }
  std::vector<ControlPoint> controls;
  controls.reserve(tops.size());
  for (const ControlPoint& top : tops) {
    if (top.i >= ni || top.j >= nj) {
      return std::unexpected(StaticError::grid(
          str_cat("control (", top.i, ",", top.j, ") outside lattice ", ni, "x", nj)));
    }
    const double s = surface.at(top.i, top.j);
    controls.push_back({top.i, top.j, non_negative(side == Side::Below ? top.z - s : s - top.z)});
  }
  if (controls.size() == 1) return std::vector<double>(ni * nj, controls.front().z);

  ZV_ASSIGN_OR_RETURN(const Surface solved, cache != nullptr
                                                ? solve_surface_converged(ni, nj, controls, *cache)
                                                : solve_surface_converged(ni, nj, controls));
  std::vector<double> field = taper_beyond_data(solved, controls, taper).values();
  clamp_non_negative(field);
  return field;
}

}  // namespace

std::vector<ControlPoint> controls_from_surface(std::span<const double> grid, std::size_t ni,
                                                std::size_t nj) {
  zorvatools::require(grid.size() == ni * nj, "control grid size does not match its lattice");
  std::vector<ControlPoint> controls;
  for (std::size_t j = 0; j < nj; ++j) {
    for (std::size_t i = 0; i < ni; ++i) {
      const double z = grid[i + ni * j];
      if (!std::isnan(z)) controls.push_back({i, j, z});
    }
  }
  return controls;
}

std::vector<ControlPoint> colocated_thickness_samples(std::span<const double> upper,
                                                      std::span<const double> lower,
                                                      std::span<const double> extra, std::size_t ni,
                                                      std::size_t nj) {
  const std::size_t nodes = ni * nj;
  zorvatools::require(
      upper.size() == nodes && lower.size() == nodes && (extra.empty() || extra.size() == nodes),
      "thickness sample grids do not match their lattice");
  std::vector<ControlPoint> samples;
  for (std::size_t j = 0; j < nj; ++j) {
    for (std::size_t i = 0; i < ni; ++i) {
      const std::size_t n = i + ni * j;
      if (std::isnan(upper[n]) || std::isnan(lower[n])) continue;
      const double t = std::max(lower[n] - upper[n], 0.0);
      samples.push_back({i, j, extra.empty() ? t : t + extra[n]});
    }
  }
  return samples;
}

Result<std::vector<double>> pick_thickness_field(const std::vector<ControlPoint>& tops,
                                                 const Surface& surface, std::size_t ni,
                                                 std::size_t nj, const TaperSpec& taper,
                                                 zorvatools::MinCurvatureCache* cache) {
  return tops_field(tops, surface, ni, nj, taper, Side::Below, cache);
}

Result<std::vector<double>> pick_height_field(const std::vector<ControlPoint>& tops,
                                              const Surface& surface, std::size_t ni,
                                              std::size_t nj, const TaperSpec& taper,
                                              zorvatools::MinCurvatureCache* cache) {
  return tops_field(tops, surface, ni, nj, taper, Side::Above, cache);
}

void clamp_non_negative(std::vector<double>& field) {
  for (double& value : field) value = non_negative(value);
}

}  // namespace zorvastatic
