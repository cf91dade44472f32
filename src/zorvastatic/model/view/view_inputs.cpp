#include "zorvastatic/model/view/view_inputs.hpp"

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvastatic {

Result<ViewGrid> view_grid(const StaticModel& model) {
  if (!model.spilled()) return ViewGrid::borrow(model.grid);
  // A spilled model holds only a placeholder grid. The grid is to be rebuilt here from the
  // store (the spill backing's in-core copy) and owned by the returned ViewGrid; until the store
  // reading exists no model is ever spilled, so reaching this line is a broken invariant.
  zorvatools::internal_fault("views of a spilled model need its grid rebuilt from the store");
}

std::string role_horizon_name(const Wireframe& wireframe, HorizonRole role, const char* fallback) {
  const Horizon* horizon = wireframe.first_with_role(role);
  return horizon != nullptr ? horizon->name : std::string(fallback);
}

}  // namespace zorvastatic
