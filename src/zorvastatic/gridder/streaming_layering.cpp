// StreamingLayering: a stack of zones divided plane by plane, for the out-of-core build.
#include <array>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/gridder/layering_rules.hpp"

namespace zorvastatic {

Result<StreamingLayering> StreamingLayering::prepare(const Surface& top, const Surface& base,
                                                     const ZoneLayerSpec& zone_spec, double dx,
                                                     double dy) {
  const std::array<const Surface*, 2> pair = {&top, &base};
  return prepare(pair, std::span(&zone_spec, 1), dx, dy);
}

Result<StreamingLayering> StreamingLayering::prepare(std::span<const Surface* const> surfaces,
                                                     std::span<const ZoneLayerSpec> zone_specs,
                                                     double dx, double dy) {
  ZV_TRY(layering::check_stack(surfaces, zone_specs, std::nullopt, dx, dy));
  layering::ZoneLayout layout = layering::zone_layout(surfaces, zone_specs);
  ZV_ASSIGN_OR_RETURN(
      const Dims dims,
      layering::grid_dims(surfaces.front()->nx(), surfaces.front()->ny(), layout.nk_total));

  StreamingLayering prepared;
  for (const Surface* surface : surfaces) prepared.surfaces_.push_back(*surface);
  for (const ZoneLayerSpec& spec : zone_specs) prepared.rules_.push_back(spec.conformity);
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
  std::vector<const Surface*> surfaces;
  for (const Surface& surface : surfaces_) surfaces.push_back(&surface);
  const layering::ZoneLayout layout{zone_nk_, k_start_, zone_of_layer_, dims_.nk, capped_};
  layering::fill_boundary_plane(layout, surfaces, rules_, k, out);
}

}  // namespace zorvastatic
