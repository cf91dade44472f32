#include "zorvastatic/model/well_ties.hpp"

#include <algorithm>
#include <cmath>

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

std::size_t find_horizon(const HorizonStack& stack, const std::string& name) {
  for (std::size_t h = 0; h < stack.horizons.size(); ++h) {
    if (stack.horizons[h].name == name) return h;
  }
  return stack.horizons.size();
}

// Adds residual * (1 - d / radius) to every defined node within the radius of (i, j).
void spread_residual(MappedGrid& grid, const WellTie& tie, double residual, double radius,
                     const TieLattice& lattice) {
  // Only nodes inside the radius's bounding box can be reached.
  const auto reach = [radius](double spacing, std::size_t centre, std::size_t count) {
    const double steps = std::ceil(radius / spacing);
    const double lo = std::max(0.0, static_cast<double>(centre) - steps);
    const double hi = std::min(static_cast<double>(count - 1), static_cast<double>(centre) + steps);
    return std::pair{static_cast<std::size_t>(lo), static_cast<std::size_t>(hi)};
  };
  const auto [a0, a1] = reach(lattice.dx, tie.i, lattice.nx);
  const auto [b0, b1] = reach(lattice.dy, tie.j, lattice.ny);
  for (std::size_t b = b0; b <= b1; ++b) {
    for (std::size_t a = a0; a <= a1; ++a) {
      double& value = grid.values[a + lattice.nx * b];
      if (std::isnan(value)) continue;
      const double d =
          std::hypot(lattice.dx * (static_cast<double>(a) - static_cast<double>(tie.i)),
                     lattice.dy * (static_cast<double>(b) - static_cast<double>(tie.j)));
      if (d <= radius) value += residual * (1 - d / radius);
    }
  }
}

}  // namespace

Result<TiedStack> apply_well_ties(const HorizonStack& stack, const std::vector<Surface>& surfaces,
                                  const std::vector<WellTie>& ties,
                                  std::optional<double> tie_radius_m, const TieLattice& lattice) {
  if (tie_radius_m && !(std::isfinite(*tie_radius_m) && *tie_radius_m > 0)) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("tie radius must be finite and positive, got ", *tie_radius_m)));
  }
  TiedStack tied{stack, {}, false};
  tied.records.reserve(ties.size());
  for (const WellTie& tie : ties) {
    if (tie.i >= lattice.nx || tie.j >= lattice.ny) {
      return std::unexpected(StaticError::grid(str_cat("well tie '", tie.name, "' node (", tie.i,
                                                       ",", tie.j, ") is off the ", lattice.nx, "x",
                                                       lattice.ny, " control lattice")));
    }
    WellTieRecord record{tie.name, {}, tie.x, tie.y, tie.i, tie.j};
    for (const TiePick& pick : tie.picks) {
      const std::size_t h = find_horizon(tied.stack, pick.horizon);
      if (h == tied.stack.horizons.size()) {
        return std::unexpected(StaticError::invalid_input(
            str_cat("well tie '", tie.name, "' names unknown horizon '", pick.horizon, "'")));
      }
      // A non-finite pick would spread NaN over the cone or undefine the node.
      if (!std::isfinite(pick.depth)) {
        return std::unexpected(StaticError::invalid_input(
            str_cat("well tie '", tie.name, "' pick on horizon '", pick.horizon,
                    "' has a non-finite depth ", pick.depth)));
      }
      const double surface_depth = surfaces[h].at(tie.i, tie.j);
      const double residual = pick.depth - surface_depth;
      record.residuals.push_back({pick.horizon, pick.depth, surface_depth, residual});

      MappedGrid* grid = tied.stack.horizons[h].grid();
      if (grid == nullptr) continue;  // tops-only: the residual is recorded, nothing is edited
      if (tie_radius_m) spread_residual(*grid, tie, residual, *tie_radius_m, lattice);
      const std::size_t node = tie.i + lattice.nx * tie.j;
      grid->values[node] = pick.depth;
      grid->mask[node] = 1;
      tied.grids_changed = true;
    }
    tied.records.push_back(std::move(record));
  }
  return tied;
}

}  // namespace zorvastatic
