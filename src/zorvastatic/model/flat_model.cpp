#include "zorvastatic/model/flat_model.hpp"

#include <new>

namespace zorvastatic {

Wireframe flat_wireframe(const FlatModelParams& params) {
  // A lattice whose node count cannot even be addressed cannot be held in memory either.
  if (params.n > (std::uint64_t{1} << 28)) throw std::bad_alloc();
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
  return StaticModelBuilder::from_wireframe(flat_wireframe(params), flat_spec(params));
}

}  // namespace zorvastatic
