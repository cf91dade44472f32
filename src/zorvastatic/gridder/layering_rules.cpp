#include "zorvastatic/gridder/layering_rules.hpp"

#include <cmath>
#include <limits>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic::layering {

using zorvatools::str_cat;

Status check_same_lattice(std::span<const Surface* const> surfaces) {
  for (const Surface* s : surfaces) {
    if (!s->same_lattice(*surfaces.front())) {
      return std::unexpected(
          StaticError::invalid_input("all stack surfaces must share one lattice"));
    }
  }
  return {};
}

Status check_zone_spec(const ZoneLayerSpec& spec) {
  if (spec.conformity.kind == Conformity::Kind::Proportional) {
    if (spec.nk == 0) return std::unexpected(StaticError::invalid_input("nk must be >= 1"));
  } else if (!std::isfinite(spec.conformity.dz_m) || spec.conformity.dz_m <= 0) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("conformity dz_m must be finite and > 0, got ", spec.conformity.dz_m)));
  }
  return {};
}

Status check_spacing(double dx, double dy) {
  if (std::isfinite(dx) && dx > 0 && std::isfinite(dy) && dy > 0) return {};
  return std::unexpected(
      StaticError::invalid_input(str_cat("dx, dy must be finite and > 0, got ", dx, ", ", dy)));
}

void fill_boundary_plane(const ZoneLayout& layout, std::span<const Surface* const> surfaces,
                         std::span<const Conformity> rules, std::size_t k, std::span<double> out) {
  const std::size_t nk_total = layout.nk_total;
  zorvatools::require(k <= nk_total, "boundary plane index out of range");
  const std::size_t zone = k < nk_total ? layout.zone_of_layer[k] : layout.counts.size() - 1;
  const std::size_t n = layout.counts[zone];
  const std::size_t local = k < nk_total ? k - layout.k_start[zone] : n;
  const double fraction = static_cast<double>(local) / static_cast<double>(n);
  const std::vector<double>& u = surfaces[zone]->values();
  const std::vector<double>& l = surfaces[zone + 1]->values();
  zorvatools::require(out.size() == u.size(), "boundary plane length mismatch");
  for (std::size_t node = 0; node < out.size(); ++node) {
    out[node] = zone_boundary(rules[zone], u[node], l[node], local, n, fraction);
  }
}

Status check_stack(std::span<const Surface* const> surfaces,
                   std::span<const ZoneLayerSpec> zone_specs,
                   std::optional<double> collapse_below_m, double dx, double dy) {
  if (surfaces.size() < 2) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("a horizon stack needs at least 2 surfaces, got ", surfaces.size())));
  }
  for (const Surface* s : surfaces) zorvatools::require(s != nullptr, "null stack surface");
  if (zone_specs.size() != surfaces.size() - 1) {
    return std::unexpected(
        StaticError::invalid_input(str_cat("expected ", surfaces.size() - 1, " zone specs for ",
                                           surfaces.size(), " surfaces, got ", zone_specs.size())));
  }
  ZV_TRY(check_same_lattice(surfaces));
  ZV_TRY(require_finite_surfaces(surfaces));
  for (const ZoneLayerSpec& spec : zone_specs) ZV_TRY(check_zone_spec(spec));
  ZV_TRY(check_spacing(dx, dy));
  if (zone_specs.size() > kLayerCap) {
    return std::unexpected(
        StaticError::invalid_input(str_cat(zone_specs.size(), " zones exceed the ", kLayerCap,
                                           "-layer total cap (a zone needs >= 1 layer)")));
  }
  if (collapse_below_m && !(std::isfinite(*collapse_below_m) && *collapse_below_m > 0)) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("collapse_below_m must be finite and > 0, got ", *collapse_below_m)));
  }
  return {};
}

namespace {

struct ZoneCount {
  std::size_t count;
  bool capped;
};

// ceil(thickest |lower - upper| / dz_m), at least 1; limited to the cap.
ZoneCount conformity_count(const Surface& upper, const Surface& lower, double dz_m) {
  const std::vector<double>& u = upper.values();
  const std::vector<double>& l = lower.values();
  double thickest = 0;
  for (std::size_t n = 0; n < u.size(); ++n) thickest = std::fmax(thickest, std::fabs(l[n] - u[n]));
  const double layers = std::ceil(thickest / dz_m);
  if (!(layers < static_cast<double>(kLayerCap + 1))) return {kLayerCap, true};
  return {layers < 1 ? 1 : static_cast<std::size_t>(layers), false};
}

}  // namespace

ZoneLayout zone_layout(std::span<const Surface* const> surfaces,
                       std::span<const ZoneLayerSpec> zone_specs) {
  ZoneLayout layout;
  std::vector<std::size_t> counts;
  counts.reserve(zone_specs.size());
  for (std::size_t z = 0; z < zone_specs.size(); ++z) {
    const ZoneLayerSpec& spec = zone_specs[z];
    if (spec.conformity.kind == Conformity::Kind::Proportional) {
      counts.push_back(spec.nk);
      continue;
    }
    const ZoneCount c = conformity_count(*surfaces[z], *surfaces[z + 1], spec.conformity.dz_m);
    counts.push_back(c.count);
    layout.capped = layout.capped || c.capped;
  }
  CappedCounts capped = cap_total_nk(std::move(counts));
  layout.capped = layout.capped || capped.capped;
  layout.counts = std::move(capped.counts);
  layout.k_start.reserve(layout.counts.size());
  for (std::size_t z = 0; z < layout.counts.size(); ++z) {
    layout.k_start.push_back(layout.nk_total);
    layout.nk_total += layout.counts[z];
  }
  layout.zone_of_layer.reserve(layout.nk_total);
  for (std::size_t z = 0; z < layout.counts.size(); ++z) {
    layout.zone_of_layer.insert(layout.zone_of_layer.end(), layout.counts[z], z);
  }
  return layout;
}

Result<Dims> grid_dims(std::size_t nx, std::size_t ny, std::size_t nk_total) {
  return Dims::create(nx > 0 ? nx - 1 : 0, ny > 0 ? ny - 1 : 0, nk_total);
}

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

double thickness(const double* b, std::size_t layer) {
  return b[layer + 1] - b[layer];
}

// The zone becomes one layer in the position of its thickest layer (the first on ties).
void collapse_to_thickest(double* b, std::size_t n) {
  std::size_t thickest = 0;
  for (std::size_t l = 1; l < n; ++l) {
    if (thickness(b, l) > thickness(b, thickest)) thickest = l;
  }
  const double top = b[0];
  const double bottom = b[n];
  for (std::size_t k = 0; k <= thickest; ++k) b[k] = top;
  for (std::size_t k = thickest + 1; k <= n; ++k) b[k] = bottom;
}

// Merges the thinnest layer below `below_m` into a neighbour; false when none can be merged.
bool merge_thinnest(double* b, std::size_t n, double below_m) {
  std::size_t thin = kNone;
  for (std::size_t l = 0; l < n; ++l) {
    const double t = thickness(b, l);
    if (t > kZeroThicknessTolerance && t < below_m && (thin == kNone || t < thickness(b, thin))) {
      thin = l;
    }
  }
  if (thin == kNone) return false;
  std::size_t above = kNone;
  for (std::size_t l = thin; l-- > 0;) {
    if (thickness(b, l) > kZeroThicknessTolerance) {
      above = l;
      break;
    }
  }
  std::size_t below = kNone;
  for (std::size_t l = thin + 1; l < n; ++l) {
    if (thickness(b, l) > kZeroThicknessTolerance) {
      below = l;
      break;
    }
  }
  if (above == kNone && below == kNone) return false;
  if (below != kNone && (above == kNone || thickness(b, below) <= thickness(b, above))) {
    for (std::size_t k = thin + 1; k <= below; ++k) b[k] = b[thin];  // merge down
  } else {
    for (std::size_t k = above + 1; k <= thin; ++k) b[k] = b[thin + 1];  // merge up
  }
  return true;
}

}  // namespace

void collapse_zone(double* b, std::size_t n, double below_m) {
  const double zone_thickness = b[n] - b[0];
  if (zone_thickness > kZeroThicknessTolerance && zone_thickness < below_m) {
    collapse_to_thickest(b, n);
    return;
  }
  // Each merge empties one layer, so this ends within n rounds.
  while (merge_thinnest(b, n, below_m)) {
  }
}

}  // namespace zorvastatic::layering
