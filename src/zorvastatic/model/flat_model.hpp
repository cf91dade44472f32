#pragma once
// The flat synthetic single-zone model: one flat Top horizon, one oil-water contact, constant
// priors.

#include <cstdint>

#include "zorvastatic/model/builder.hpp"

namespace zorvastatic {

struct FlatModelParams {
  std::uint64_t n = 11;  // top-surface nodes per side
  double depth_m = 2000.0;
  double owc_m = 2100.0;
  double area_m2 = 1000000.0;
  double gross_height_m = 50.0;
  std::uint64_t nk = 5;
  double porosity = 0.25;
  double net_to_gross = 0.8;
  double water_saturation = 0.3;
};

// The wireframe: the closed unit-square outline, a Top horizon "top" of n × n nodes at depth_m
// and an OWC at owc_m; a lattice too large for this machine's memory is refused before any of it
// is allocated.
Result<Wireframe> flat_wireframe(const FlatModelParams& params);
BuildSpec flat_spec(const FlatModelParams& params);
// The builder of the flat model, before any further configuration.
Result<StaticModelBuilder> flat_model_builder(const FlatModelParams& params);

}  // namespace zorvastatic
