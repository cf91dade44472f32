#include "zorvastatic/gridder/layering.hpp"

#include <algorithm>
#include <cmath>

#include "zorvastatic/gridder/layering_rules.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

Status require_finite_surfaces(std::span<const Surface* const> surfaces) {
  for (std::size_t s = 0; s < surfaces.size(); ++s) {
    const Surface& surface = *surfaces[s];
    for (std::size_t j = 0; j < surface.ny(); ++j) {
      for (std::size_t i = 0; i < surface.nx(); ++i) {
        const double z = surface.at(i, j);
        if (std::isfinite(z)) continue;
        return std::unexpected(StaticError::invalid_input(
            str_cat("surface ", s, " has a non-finite depth ", z, " at node (", i, ", ", j,
                    "); layering needs finite top/base surfaces")));
      }
    }
  }
  return {};
}

CappedCounts cap_total_nk(std::vector<std::size_t> counts) {
  __extension__ using Wide = unsigned __int128;  // exact sums and products of any counts
  Wide sum = 0;
  for (std::size_t c : counts) sum += c;
  if (sum <= kLayerCap) return {std::move(counts), false};

  Wide scaled_sum = 0;
  for (std::size_t& c : counts) {
    c = static_cast<std::size_t>(static_cast<Wide>(c) * kLayerCap / sum);  // drops the fraction
    if (c < 1) c = 1;
    scaled_sum += c;
  }
  while (scaled_sum > kLayerCap) {
    // The largest count above 1, the last one in zone order among equals.
    std::size_t largest = counts.size();
    for (std::size_t z = 0; z < counts.size(); ++z) {
      if (counts[z] > 1 && (largest == counts.size() || counts[z] >= counts[largest])) largest = z;
    }
    if (largest == counts.size()) break;
    --counts[largest];
    --scaled_sum;
  }
  return {std::move(counts), true};
}

void size_scratch(std::vector<double>& buffer, std::size_t n) {
  buffer.resize(n);  // keeps the storage; new entries are zero
}

namespace {

// The column-by-column boundary depths of a validated stack and the grid built from them.
class StackLayering {
 public:
  StackLayering(std::span<const Surface* const> surfaces, std::span<const ZoneLayerSpec> zone_specs,
                layering::ZoneLayout layout, const Dims& dims)
      : surfaces_(surfaces),
        zone_specs_(zone_specs),
        layout_(std::move(layout)),
        dims_(dims),
        nx_(surfaces.front()->nx()),
        ny_(surfaces.front()->ny()),
        stride_(layout_.nk_total + 1) {}

  // Raw boundaries of every column; the final ones are the raw ones unless collapsed.
  void compute_boundaries(std::optional<double> collapse_below_m);
  [[nodiscard]] std::vector<Pillar> pillars(double dx, double dy) const;
  // ZCORN in cell order, charging pinched and collapsed cells to the zone of their layer.
  [[nodiscard]] std::vector<double> zcorn(std::vector<StackedZone>& zones) const;

 private:
  std::span<const Surface* const> surfaces_;
  std::span<const ZoneLayerSpec> zone_specs_;
  layering::ZoneLayout layout_;
  Dims dims_;
  std::size_t nx_;
  std::size_t ny_;
  std::size_t stride_;  // boundaries per column
  std::vector<double> raw_;
  std::vector<double> collapsed_;  // empty without collapse
};

void StackLayering::compute_boundaries(std::optional<double> collapse_below_m) {
  const std::size_t zones = zone_specs_.size();
  // k / n of every zone boundary, so the column loop does no division.
  std::vector<std::size_t> fraction_start(zones);
  std::vector<double> fractions;
  fractions.reserve(layout_.nk_total + zones);
  for (std::size_t z = 0; z < zones; ++z) {
    fraction_start[z] = fractions.size();
    const std::size_t n = layout_.counts[z];
    for (std::size_t k = 0; k <= n; ++k) {
      fractions.push_back(static_cast<double>(k) / static_cast<double>(n));
    }
  }

  size_scratch(raw_, nx_ * ny_ * stride_);
  for (std::size_t node = 0; node < nx_ * ny_; ++node) {  // j outer, i inner
    double* column = raw_.data() + node * stride_;
    for (std::size_t z = 0; z < zones; ++z) {
      const Conformity& rule = zone_specs_[z].conformity;
      const double u = surfaces_[z]->values()[node];
      const double l = surfaces_[z + 1]->values()[node];
      const std::size_t n = layout_.counts[z];
      const double* fraction = fractions.data() + fraction_start[z];
      // The zone's first boundary overwrites the last one of the zone above.
      double* out = column + layout_.k_start[z];
      for (std::size_t k = 0; k <= n; ++k) {
        out[k] = layering::zone_boundary(rule, u, l, k, n, fraction[k]);
      }
    }
  }

  if (!collapse_below_m) return;
  size_scratch(collapsed_, raw_.size());
  std::copy(raw_.begin(), raw_.end(), collapsed_.begin());
  for (std::size_t node = 0; node < nx_ * ny_; ++node) {
    double* column = collapsed_.data() + node * stride_;
    for (std::size_t z = 0; z < zones; ++z) {
      layering::collapse_zone(column + layout_.k_start[z], layout_.counts[z], *collapse_below_m);
    }
  }
}

std::vector<Pillar> StackLayering::pillars(double dx, double dy) const {
  const std::vector<double>& top = surfaces_.front()->values();
  const std::vector<double>& bottom = surfaces_.back()->values();
  std::vector<Pillar> out;
  out.reserve(nx_ * ny_);
  for (std::size_t j = 0; j < ny_; ++j) {
    for (std::size_t i = 0; i < nx_; ++i) {
      const double x = dx * static_cast<double>(i);
      const double y = dy * static_cast<double>(j);
      const std::size_t node = i + nx_ * j;
      out.push_back({{x, y, top[node]}, {x, y, bottom[node]}});
    }
  }
  return out;
}

std::vector<double> StackLayering::zcorn(std::vector<StackedZone>& zones) const {
  const bool collapsed = !collapsed_.empty();
  const double* final_b = collapsed ? collapsed_.data() : raw_.data();
  const double* raw_b = raw_.data();
  const std::size_t s = stride_;
  // Column offsets of corners (i, j), (i+1, j), (i, j+1), (i+1, j+1).
  const std::size_t corner_offset[4] = {0, s, nx_ * s, (nx_ + 1) * s};

  std::vector<double> out;
  out.reserve(8 * dims_.cell_count());
  for (std::size_t k = 0; k < dims_.nk; ++k) {
    std::size_t pinched = 0;
    std::size_t emptied = 0;
    for (std::size_t j = 0; j < dims_.nj; ++j) {
      for (std::size_t i = 0; i < dims_.ni; ++i) {
        const std::size_t at = (i + nx_ * j) * s + k;
        double top[4];
        double bottom[4];
        bool final_thick = false;
        for (int c = 0; c < 4; ++c) {
          top[c] = final_b[at + corner_offset[c]];
          bottom[c] = final_b[at + corner_offset[c] + 1];
          final_thick = final_thick || bottom[c] - top[c] > kZeroThicknessTolerance;
        }
        out.insert(out.end(), top, top + 4);
        out.insert(out.end(), bottom, bottom + 4);
        bool raw_thick = final_thick;  // identical boundaries without collapse
        if (collapsed) {
          raw_thick = false;
          for (int c = 0; c < 4; ++c) {
            const double* col = raw_b + at + corner_offset[c];
            raw_thick = raw_thick || col[1] - col[0] > kZeroThicknessTolerance;
          }
        }
        if (!raw_thick) {
          ++pinched;
        } else if (!final_thick) {
          ++emptied;
        }
      }
    }
    StackedZone& zone = zones[layout_.zone_of_layer[k]];
    zone.pinched_cells += pinched;
    zone.collapsed_cells += emptied;
  }
  return out;
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
  ZV_TRY(layering::check_same_lattice(surfaces));
  ZV_TRY(require_finite_surfaces(surfaces));
  for (const ZoneLayerSpec& spec : zone_specs) ZV_TRY(layering::check_zone_spec(spec));
  ZV_TRY(layering::check_spacing(dx, dy));
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

}  // namespace

Result<LayeringReport> layer_grid_stack(std::span<const Surface* const> surfaces,
                                        std::span<const ZoneLayerSpec> zone_specs,
                                        std::optional<double> collapse_below_m, double dx,
                                        double dy) {
  ZV_TRY(check_stack(surfaces, zone_specs, collapse_below_m, dx, dy));
  layering::ZoneLayout layout = layering::zone_layout(surfaces, zone_specs);
  ZV_ASSIGN_OR_RETURN(
      const Dims dims,
      layering::grid_dims(surfaces.front()->nx(), surfaces.front()->ny(), layout.nk_total));
  std::vector<StackedZone> zones;
  zones.reserve(zone_specs.size());
  for (std::size_t z = 0; z < zone_specs.size(); ++z) {
    zones.push_back({zone_specs[z].conformity, layout.counts[z], layout.k_start[z], 0, 0});
  }
  const std::size_t nk_total = layout.nk_total;
  const bool capped = layout.capped;

  StackLayering stack(surfaces, zone_specs, std::move(layout), dims);
  stack.compute_boundaries(collapse_below_m);
  std::vector<Pillar> pillars = stack.pillars(dx, dy);
  std::vector<double> zcorn = stack.zcorn(zones);
  std::size_t pinched = 0;
  std::size_t collapsed = 0;
  for (const StackedZone& zone : zones) {
    pinched += zone.pinched_cells;
    collapsed += zone.collapsed_cells;
  }
  LayeringReport report{Grid{CornerPointGeom(dims, std::move(pillars), std::move(zcorn)),
                             layer_labels(nk_total), Properties(dims.cell_count())},
                        std::move(zones), pinched, collapsed, capped};
  return report;
}

}  // namespace zorvastatic
