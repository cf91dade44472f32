#include "zorvastatic/gridder/layering.hpp"

#include <algorithm>
#include <cmath>

#include "zorvastatic/gridder/layering_rules.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/large_array.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

constexpr std::string_view kStage = "layering the grid";

}  // namespace

Status require_finite_surfaces(std::span<const Surface* const> surfaces) {
  for (std::size_t s = 0; s < surfaces.size(); ++s) {
    zorvatools::require(surfaces[s] != nullptr, "null stack surface");
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

// The boundary depths of a validated stack and the grid built from them. Without collapse each
// boundary plane is computed when the cells need it, two planes at a time. Collapse needs whole
// columns: boundaries are then computed one node column at a time and kept plane by plane
// (boundary k of node n at k * nodes + n), so that the cells read them in ZCORN order as
// contiguous runs.
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
        nodes_(nx_ * ny_) {
    for (const ZoneLayerSpec& spec : zone_specs) rules_.push_back(spec.conformity);
  }

  // Raw and collapsed boundaries of every column, kept for zcorn().
  Status compute_collapsed_boundaries(double collapse_below_m);
  [[nodiscard]] std::vector<Pillar> pillars(double dx, double dy) const;
  // ZCORN in cell order, charging pinched and collapsed cells to the zone of their layer.
  [[nodiscard]] Result<std::vector<double>> zcorn(std::vector<StackedZone>& zones) const;

 private:
  // Boundary plane k of every node: the same values as the column pass without collapse.
  void boundary_plane(std::size_t k, std::span<double> out) const;

  std::span<const Surface* const> surfaces_;
  std::span<const ZoneLayerSpec> zone_specs_;
  std::vector<Conformity> rules_;
  layering::ZoneLayout layout_;
  Dims dims_;
  std::size_t nx_;
  std::size_t ny_;
  std::size_t nodes_;
  std::vector<double> raw_;        // empty without collapse
  std::vector<double> collapsed_;  // empty without collapse
};

void StackLayering::boundary_plane(std::size_t k, std::span<double> out) const {
  layering::fill_boundary_plane(layout_, surfaces_, rules_, k, out);
}

Status StackLayering::compute_collapsed_boundaries(double collapse_below_m) {
  const std::size_t zones = zone_specs_.size();
  const std::size_t per_column = layout_.nk_total + 1;
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

  std::vector<double> column(per_column);
  size_scratch(raw_, nodes_ * per_column);
  size_scratch(collapsed_, nodes_ * per_column);
  for (std::size_t node = 0; node < nodes_; ++node) {  // j outer, i inner
    if (node % nx_ == 0) ZV_TRY(zorvatools::poll_call(kStage, node, 2 * nodes_));
    for (std::size_t z = 0; z < zones; ++z) {
      const Conformity& rule = zone_specs_[z].conformity;
      const double u = surfaces_[z]->values()[node];
      const double l = surfaces_[z + 1]->values()[node];
      const std::size_t n = layout_.counts[z];
      const double* fraction = fractions.data() + fraction_start[z];
      // The zone's first boundary overwrites the last one of the zone above.
      double* out = column.data() + layout_.k_start[z];
      for (std::size_t k = 0; k <= n; ++k) {
        out[k] = layering::zone_boundary(rule, u, l, k, n, fraction[k]);
      }
    }
    for (std::size_t k = 0; k < per_column; ++k) raw_[k * nodes_ + node] = column[k];
    for (std::size_t z = 0; z < zones; ++z) {
      layering::collapse_zone(column.data() + layout_.k_start[z], layout_.counts[z],
                              collapse_below_m);
    }
    for (std::size_t k = 0; k < per_column; ++k) collapsed_[k * nodes_ + node] = column[k];
  }
  return {};
}

std::vector<Pillar> StackLayering::pillars(double dx, double dy) const {
  const std::vector<double>& top = surfaces_.front()->values();
  const std::vector<double>& bottom = surfaces_.back()->values();
  std::vector<Pillar> out;
  out.reserve(nodes_);
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

namespace {

// True when some of the four columns has a thickness above the tolerance.
bool any_thick(const double* top, const double* bottom, const std::size_t* corner_node) {
  bool thick = false;
  for (int c = 0; c < 4; ++c) {
    thick = thick || bottom[corner_node[c]] - top[corner_node[c]] > kZeroThicknessTolerance;
  }
  return thick;
}

}  // namespace

Result<std::vector<double>> StackLayering::zcorn(std::vector<StackedZone>& zones) const {
  const bool collapsed = !collapsed_.empty();
  // Without collapse: planes k and k + 1, computed in turn.
  std::vector<double> planes(collapsed ? 0 : 2 * nodes_);
  if (!collapsed) boundary_plane(0, std::span(planes).first(nodes_));
  std::vector<double> out;
  zorvatools::reserve_large(out, 8 * dims_.cell_count());
  for (std::size_t k = 0; k < dims_.nk; ++k) {
    const double* upper;
    const double* lower;
    if (collapsed) {
      upper = collapsed_.data() + k * nodes_;
      lower = upper + nodes_;
    } else {
      const std::span<double> next = std::span(planes).subspan((k + 1) % 2 * nodes_, nodes_);
      boundary_plane(k + 1, next);
      upper = planes.data() + k % 2 * nodes_;
      lower = next.data();
    }
    const double* raw_upper = collapsed ? raw_.data() + k * nodes_ : upper;
    const double* raw_lower = collapsed ? raw_upper + nodes_ : lower;
    std::size_t pinched = 0;
    std::size_t emptied = 0;
    for (std::size_t j = 0; j < dims_.nj; ++j) {
      // With collapse, half the work is the column pass, half the cells.
      const std::size_t row = k * dims_.nj + j;
      const std::size_t rows = dims_.nk * dims_.nj;
      ZV_TRY(collapsed ? zorvatools::poll_call(kStage, nodes_ + row * nodes_ / rows, 2 * nodes_)
                       : zorvatools::poll_call(kStage, row, rows));
      for (std::size_t i = 0; i < dims_.ni; ++i) {
        // Corners (i, j), (i+1, j), (i, j+1), (i+1, j+1): top face, then bottom face.
        const std::size_t n = i + nx_ * j;
        const std::size_t corner_node[4] = {n, n + 1, n + nx_, n + nx_ + 1};
        const double cell[8] = {upper[corner_node[0]], upper[corner_node[1]], upper[corner_node[2]],
                                upper[corner_node[3]], lower[corner_node[0]], lower[corner_node[1]],
                                lower[corner_node[2]], lower[corner_node[3]]};
        out.insert(out.end(), cell, cell + 8);
        const bool final_thick = any_thick(upper, lower, corner_node);
        // Without collapse the final boundaries are the raw ones.
        const bool raw_thick =
            collapsed ? any_thick(raw_upper, raw_lower, corner_node) : final_thick;
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

}  // namespace

Result<LayeringReport> layer_grid_stack(std::span<const Surface* const> surfaces,
                                        std::span<const ZoneLayerSpec> zone_specs,
                                        std::optional<double> collapse_below_m, double dx,
                                        double dy) {
  ZV_TRY(layering::check_stack(surfaces, zone_specs, collapse_below_m, dx, dy));
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

  // Heard before the first large allocation, so that a failure names this stage.
  ZV_TRY(zorvatools::poll_call(kStage, 0, 1));
  StackLayering stack(surfaces, zone_specs, std::move(layout), dims);
  if (collapse_below_m) ZV_TRY(stack.compute_collapsed_boundaries(*collapse_below_m));
  std::vector<Pillar> pillars = stack.pillars(dx, dy);
  ZV_ASSIGN_OR_RETURN(std::vector<double> zcorn, stack.zcorn(zones));
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
