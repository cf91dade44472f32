#pragma once

#include <cstddef>

#include "zorvastatic/gridder/layering.hpp"

namespace zorvastatic {

// The three constant property fractions of population.
struct ConstantPriors {
  double porosity = 0.25;
  double net_to_gross = 0.8;
  double water_saturation = 0.3;
};

// What the single zone of a build looks like and how it is filled.
struct BuildSpec {
  Conformity conformity = Conformity::proportional();
  double area_m2 = 1e6;        // areal footprint
  double gross_height_m = 50;  // column thickness when no Base horizon is honoured
  std::size_t nk = 5;          // layer count of the single zone (Proportional)
  ConstantPriors priors;
};

}  // namespace zorvastatic
