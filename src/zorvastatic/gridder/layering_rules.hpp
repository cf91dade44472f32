#pragma once
// Rules shared by the in-memory and the streaming layering: input checks, per-zone layer counts,
// the boundary formula of each conformity, and the collapse of thin layers in one column.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "zorvastatic/gridder/layering.hpp"

namespace zorvastatic::layering {

Status check_same_lattice(std::span<const Surface* const> surfaces);
// dz_m of a conformity zone finite and > 0; nk of a proportional zone >= 1.
Status check_zone_spec(const ZoneLayerSpec& spec);
Status check_spacing(double dx, double dy);

// Final per-zone layer counts and where each zone starts in k.
struct ZoneLayout {
  std::vector<std::size_t> counts;
  std::vector<std::size_t> k_start;
  std::vector<std::size_t> zone_of_layer;
  std::size_t nk_total = 0;
  bool capped = false;
};
// Counts per zone (conformity zones from their thickest node), then the total cap.
ZoneLayout zone_layout(std::span<const Surface* const> surfaces,
                       std::span<const ZoneLayerSpec> zone_specs);

// Boundary plane k (0 <= k <= nk_total) at every node: the top plane of a zone is its own
// boundary 0, the last plane the base of the last zone. `surfaces` shallowest first.
void fill_boundary_plane(const ZoneLayout& layout, std::span<const Surface* const> surfaces,
                         std::span<const Conformity> rules, std::size_t k, std::span<double> out);

// The checks of a stack before it is layered, in the order their failures are reported.
Status check_stack(std::span<const Surface* const> surfaces,
                   std::span<const ZoneLayerSpec> zone_specs,
                   std::optional<double> collapse_below_m, double dx, double dy);

// One cell per lattice cell; a lattice with one node along an axis fails with the Dims message.
Result<Dims> grid_dims(std::size_t nx, std::size_t ny, std::size_t nk_total);

// Boundary k of n of a zone at a node with upper depth u and lower depth l, clamped into
// [min(u, l), max(u, l)]. `fraction` is k / n (used by Proportional only).
inline double zone_boundary(const Conformity& rule, double u, double l, std::size_t k,
                            std::size_t n, double fraction) {
  double z;
  switch (rule.kind) {
    case Conformity::Kind::TopConform:
      z = u + rule.dz_m * static_cast<double>(k);
      break;
    case Conformity::Kind::BaseConform:
      z = l - rule.dz_m * static_cast<double>(n - k);
      break;
    default:
      z = u + (l - u) * fraction;
      break;
  }
  const double lo = u < l ? u : l;
  const double hi = u < l ? l : u;
  return z < lo ? lo : (z > hi ? hi : z);
}

inline double zone_boundary(const Conformity& rule, double u, double l, std::size_t k,
                            std::size_t n) {
  return zone_boundary(rule, u, l, k, n, static_cast<double>(k) / static_cast<double>(n));
}

// Collapse of one zone in one column, boundaries b[0..n]: a zone thinner than `below_m` becomes
// its thickest layer; otherwise thin layers merge into their thinner non-empty neighbour.
void collapse_zone(double* b, std::size_t n, double below_m);

}  // namespace zorvastatic::layering
