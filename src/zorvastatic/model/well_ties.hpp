#pragma once
// Well ties of the horizon-stack road: each tie reads the resolved surfaces at its node, records
// the residual of every pick and pulls the picked mapped horizons' control grids onto the pick.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "zorvastatic/gridder/stack.hpp"
#include "zorvastatic/model/provenance.hpp"

namespace zorvastatic {

struct TiePick {
  std::string horizon;
  double depth = 0;
};

struct WellTie {
  std::string name;
  std::vector<TiePick> picks;
  double x = 0;
  double y = 0;
  std::size_t i = 0;
  std::size_t j = 0;
};

struct TiedStack {
  HorizonStack stack;                  // the stack with the tied control grids
  std::vector<WellTieRecord> records;  // one per tie, in tie order
  bool grids_changed = false;          // a mapped control grid was edited
};

// Where the ties land on an nx x ny lattice of spacings dx, dy.
struct TieLattice {
  std::size_t nx = 0;
  std::size_t ny = 0;
  double dx = 0;
  double dy = 0;
};

// Applies the ties in order to a copy of `stack`; `surfaces` are the resolved surfaces the
// residuals are measured against. Without a radius a pick sets its node only; with radius R the
// residual r is first spread over the defined nodes within R as r * (1 - d / R).
Result<TiedStack> apply_well_ties(const HorizonStack& stack, const std::vector<Surface>& surfaces,
                                  const std::vector<WellTie>& ties,
                                  std::optional<double> tie_radius_m, const TieLattice& lattice);

}  // namespace zorvastatic
