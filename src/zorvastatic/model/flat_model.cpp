#include "zorvastatic/model/flat_model.hpp"

#include <algorithm>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/model/build_size.hpp"
#include "zorvastatic/spill/budget.hpp"

namespace zorvastatic {

Result<Wireframe> flat_wireframe(const FlatModelParams& params) {
  // Refused before the horizon is allocated.
  ZV_TRY(check_lattice_size(params.n, params.n, query_physical_ram()));
  const std::size_t n = params.n;
  auto top = std::make_shared<Horizon>(
      Horizon{"top", std::vector<double>(n * n, params.depth_m), n, n, HorizonRole::Top});
  return Wireframe{{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}},
                   {Contact{params.owc_m, ContactKind::Owc}},
                   {std::move(top)}};
}

BuildSpec flat_spec(const FlatModelParams& params) {
  return BuildSpec{Conformity::proportional(), params.area_m2, params.gross_height_m, params.nk,
                   ConstantPriors{params.porosity, params.net_to_gross, params.water_saturation}};
}

Result<StaticModelBuilder> flat_model_builder(const FlatModelParams& params) {
  // The whole model as its builder will check it, before any of it is allocated: one
  // proportional zone, constant priors, the default budget and spill directory.
  const auto memory = query_physical_ram();
  ZV_TRY(check_build_size({params.n, params.n, std::min<std::uint64_t>(params.nk, kLayerCap), true,
                           default_spill_budget(memory), std::nullopt},
                          memory));
  ZV_ASSIGN_OR_RETURN(const Wireframe wireframe, flat_wireframe(params));
  return StaticModelBuilder::from_wireframe(wireframe, flat_spec(params));
}

}  // namespace zorvastatic
