#pragma once
// The record of a resolved stack: its areal outline ring and the wireframe of its surfaces.

#include <cstddef>
#include <optional>
#include <vector>

#include "zorvastatic/gridder/stack.hpp"
#include "zorvastatic/model/georef.hpp"
#include "zorvastatic/model/wireframe.hpp"

namespace zorvastatic {

// The explicit boundary when given; else the outer edge of the (a - 1) x (b - 1) columns whose
// centres the georeference places, closed (five points); the unit square without a georeference.
std::vector<Point2> stack_boundary_ring(const std::optional<std::vector<Point2>>& boundary,
                                        const std::optional<Georef>& georef, std::size_t a,
                                        std::size_t b);

// A wireframe with the ring as outline, the contacts, and one horizon per stack horizon: Top for
// the first, Base for the last, Intermediate between; depths copied from the resolved surfaces.
Wireframe stack_framework(const std::vector<StackHorizon>& horizons,
                          const std::vector<Surface>& surfaces, std::vector<Contact> contacts,
                          std::vector<Point2> ring, std::size_t ni, std::size_t nj);

}  // namespace zorvastatic
