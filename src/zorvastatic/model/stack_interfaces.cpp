#include "zorvastatic/model/stack_interfaces.hpp"

#include <cmath>
#include <limits>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

// A tops-only upper surface moved up so that it nowhere lies below its mapped lower surface.
Result<std::optional<InterfaceRepair>> raise_upper(Surface& upper, const Surface& lower,
                                                   std::size_t z,
                                                   std::optional<double> min_thickness_m,
                                                   bool clamp_crossings) {
  if (!upper.same_lattice(lower)) {
    return std::unexpected(
        StaticError::invalid_input(str_cat("upper lattice ", upper.nx(), "x", upper.ny(),
                                           " does not match lower ", lower.nx(), "x", lower.ny())));
  }
  std::vector<double>& up = upper.values();
  const std::vector<double>& low = lower.values();
  if (!min_thickness_m) {
    std::size_t crossing = 0;
    double worst = 0;
    for (std::size_t n = 0; n < up.size(); ++n) {
      const double separation = low[n] - up[n];
      if (separation < 0) {
        ++crossing;
        worst = std::fmin(worst, separation);
      }
    }
    if (crossing == 0) return std::nullopt;
    if (!clamp_crossings) return std::unexpected(StaticError::crossed_surfaces(crossing, worst));
    for (std::size_t n = 0; n < up.size(); ++n) up[n] = std::fmin(up[n], low[n]);
    return std::nullopt;
  }

  const double minimum = *min_thickness_m;
  if (!std::isfinite(minimum) || minimum < 0) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("min_thickness_m must be finite and >= 0, got ", minimum)));
  }
  InterfaceRepair repair{z, 0, std::numeric_limits<double>::infinity()};
  for (std::size_t n = 0; n < up.size(); ++n) {
    const double bound = low[n] - minimum;
    if (bound < up[n]) {  // NaN on either side compares false: never moved
      repair.summary_m = std::fmin(repair.summary_m, low[n] - up[n]);
      up[n] = bound;
      ++repair.nodes_changed;
    }
  }
  if (repair.nodes_changed == 0) return std::nullopt;
  return repair;
}

// A lower surface kept below its upper: repaired to the minimum thickness or guarded.
Result<std::optional<InterfaceRepair>> lower_below(Surface& lower, const Surface& upper,
                                                   std::size_t z,
                                                   std::optional<double> min_thickness_m,
                                                   bool clamp_crossings) {
  if (!min_thickness_m) {
    ZV_ASSIGN_OR_RETURN(lower, lower.guard_below(upper, clamp_crossings));
    return std::nullopt;
  }
  ZV_ASSIGN_OR_RETURN(ThicknessRepair repair, lower.repair_min_thickness(upper, *min_thickness_m));
  lower = std::move(repair.surface);
  if (repair.moved_nodes == 0) return std::nullopt;
  return InterfaceRepair{z, repair.moved_nodes, repair.worst_m};
}

// Zones never overlap: where a surface still lies above the surface over it, it takes that
// surface's depth, from the top down. This happens only where the adjustments above pull against
// each other: a tops-only surface between two mapped ones that leave it less room than the
// minimum thickness is raised against the lower one past the upper one. Each interface closed
// this way is recorded with the smallest lower − upper it met.
void close_overlaps(CheckedInterfaces& out) {
  for (std::size_t z = 0; z + 1 < out.surfaces.size(); ++z) {
    const std::vector<double>& upper = out.surfaces[z].values();
    std::vector<double>& lower = out.surfaces[z + 1].values();
    InterfaceRepair repair{z, 0, std::numeric_limits<double>::infinity()};
    for (std::size_t n = 0; n < lower.size(); ++n) {
      if (lower[n] < upper[n]) {  // NaN on either side compares false: never moved
        repair.summary_m = std::fmin(repair.summary_m, lower[n] - upper[n]);
        lower[n] = upper[n];
        ++repair.nodes_changed;
      }
    }
    if (repair.nodes_changed != 0) out.repairs.push_back(repair);
  }
}

}  // namespace

Result<CheckedInterfaces> check_stack_interfaces(std::vector<Surface> surfaces,
                                                 const std::vector<bool>& tops_only,
                                                 std::optional<double> min_thickness_m,
                                                 bool clamp_crossings) {
  zorvatools::require(tops_only.size() == surfaces.size(), "one tops-only mark per surface");
  CheckedInterfaces out{std::move(surfaces), {}};
  for (std::size_t z = 0; z + 1 < out.surfaces.size(); ++z) {
    Surface& upper = out.surfaces[z];
    Surface& lower = out.surfaces[z + 1];
    std::optional<InterfaceRepair> repair;
    if (tops_only[z] && !tops_only[z + 1]) {
      ZV_ASSIGN_OR_RETURN(repair, raise_upper(upper, lower, z, min_thickness_m, clamp_crossings));
    } else {
      ZV_ASSIGN_OR_RETURN(repair, lower_below(lower, upper, z, min_thickness_m, clamp_crossings));
    }
    if (repair) out.repairs.push_back(*repair);
  }
  close_overlaps(out);
  return out;
}

}  // namespace zorvastatic
