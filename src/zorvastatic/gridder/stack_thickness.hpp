#pragma once
// Thickness helpers of the horizon stack: control points from a depth grid, co-located
// thickness samples between two grids, and non-negative thickness fields from well tops.

#include <cstddef>
#include <span>
#include <vector>

#include "zorvastatic/gridder/surface.hpp"
#include "zorvastatic/gridder/surface_solve.hpp"
#include "zorvatools/gridding/min_curvature.hpp"

namespace zorvastatic {

// Control points of every defined node of an ni x nj grid (node (i, j) at i + ni * j), rows
// j outer, i inner; NaN nodes are skipped.
std::vector<ControlPoint> controls_from_surface(std::span<const double> grid, std::size_t ni,
                                                std::size_t nj);

// Samples (i, j, max(lower - upper, 0) + extra) at every node where neither `upper` nor `lower`
// is NaN, rows j outer, i inner. An empty `extra` adds nothing.
std::vector<ControlPoint> colocated_thickness_samples(std::span<const double> upper,
                                                      std::span<const double> lower,
                                                      std::span<const double> extra, std::size_t ni,
                                                      std::size_t nj);

// Non-negative thickness field (ni x nj values) of the tops below `surface`: one top gives a
// constant field, several are solved, tapered and raised to at least 0. A cache lets fields of
// tops on the same nodes share one factorisation.
Result<std::vector<double>> pick_thickness_field(const std::vector<ControlPoint>& tops,
                                                 const Surface& surface, std::size_t ni,
                                                 std::size_t nj, const TaperSpec& taper,
                                                 zorvatools::MinCurvatureCache* cache = nullptr);

// The same for tops above `surface`: the field is the height of the tops over it.
Result<std::vector<double>> pick_height_field(const std::vector<ControlPoint>& tops,
                                              const Surface& surface, std::size_t ni,
                                              std::size_t nj, const TaperSpec& taper,
                                              zorvatools::MinCurvatureCache* cache = nullptr);

// Every node raised to at least 0; NaN becomes 0.
void clamp_non_negative(std::vector<double>& field);

}  // namespace zorvastatic
