#include "zorvastatic/gridder/stack_framework.hpp"

#include <memory>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {

std::vector<Point2> stack_boundary_ring(const std::optional<std::vector<Point2>>& boundary,
                                        const std::optional<Georef>& georef, std::size_t a,
                                        std::size_t b) {
  if (boundary) return *boundary;
  if (!georef) return {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
  // Node-space corners half a spacing outside the outer nodes of the columns.
  const zorvatools::Lattice lattice = georef->lattice(a, b);
  const double lo = -0.5;
  const double hi_i = static_cast<double>(a) - 1.5;
  const double hi_j = static_cast<double>(b) - 1.5;
  return {lattice.node_xy(lo, lo), lattice.node_xy(hi_i, lo), lattice.node_xy(hi_i, hi_j),
          lattice.node_xy(lo, hi_j), lattice.node_xy(lo, lo)};
}

Wireframe stack_framework(const std::vector<StackHorizon>& horizons,
                          const std::vector<Surface>& surfaces, std::vector<Contact> contacts,
                          std::vector<Point2> ring, std::size_t ni, std::size_t nj) {
  zorvatools::require(horizons.size() == surfaces.size(), "one surface per stack horizon");
  Wireframe framework{std::move(ring), std::move(contacts), {}};
  framework.horizons.reserve(horizons.size());
  for (std::size_t h = 0; h < horizons.size(); ++h) {
    zorvatools::require(surfaces[h].nx() == ni && surfaces[h].ny() == nj,
                        "resolved surface is not on the stack lattice");
    HorizonRole role = HorizonRole::Intermediate;
    if (h + 1 == horizons.size()) role = HorizonRole::Base;
    if (h == 0) role = HorizonRole::Top;
    framework.horizons.push_back(std::make_shared<const Horizon>(
        Horizon{horizons[h].name, surfaces[h].values(), ni, nj, role}));
  }
  return framework;
}

}  // namespace zorvastatic
