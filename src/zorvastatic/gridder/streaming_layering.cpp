// StreamingLayering: one zone divided plane by plane, for the out-of-core build.
#include <array>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/gridder/layering_rules.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {

Result<StreamingLayering> StreamingLayering::prepare(const Surface& top, const Surface& base,
                                                     const ZoneLayerSpec& zone_spec, double dx,
                                                     double dy) {
  const std::array<const Surface*, 2> pair = {&top, &base};
  ZV_TRY(layering::check_same_lattice(pair));
  ZV_TRY(require_finite_surfaces(pair));
  ZV_TRY(layering::check_zone_spec(zone_spec));
  ZV_TRY(layering::check_spacing(dx, dy));
  layering::ZoneLayout layout = layering::zone_layout(pair, std::span(&zone_spec, 1));
  ZV_ASSIGN_OR_RETURN(const Dims dims, layering::grid_dims(top.nx(), top.ny(), layout.nk_total));

  StreamingLayering prepared;
  prepared.top_ = top;
  prepared.base_ = base;
  prepared.conformity_ = zone_spec.conformity;
  prepared.zone_nk_ = std::move(layout.counts);
  prepared.k_start_ = std::move(layout.k_start);
  prepared.zone_of_layer_ = std::move(layout.zone_of_layer);
  prepared.dims_ = dims;
  prepared.dx_ = dx;
  prepared.dy_ = dy;
  prepared.capped_ = layout.capped;
  return prepared;
}

void StreamingLayering::fill_plane(std::size_t k, std::span<double> out) const {
  const std::size_t nk_total = dims_.nk;
  zorvatools::require(k <= nk_total, "boundary plane index out of range");
  zorvatools::require(out.size() == top_.values().size(), "boundary plane length mismatch");
  // Plane k is the top of layer k; the last plane is the bottom of the last zone.
  const std::size_t zone = k < nk_total ? zone_of_layer_[k] : zone_nk_.size() - 1;
  const std::size_t n = zone_nk_[zone];
  const std::size_t local = k < nk_total ? k - k_start_[zone] : n;
  const double fraction = static_cast<double>(local) / static_cast<double>(n);
  const std::vector<double>& u = top_.values();
  const std::vector<double>& l = base_.values();
  for (std::size_t node = 0; node < out.size(); ++node) {
    out[node] = layering::zone_boundary(conformity_, u[node], l[node], local, n, fraction);
  }
}

}  // namespace zorvastatic
