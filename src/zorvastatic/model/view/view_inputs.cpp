#include "zorvastatic/model/view/view_inputs.hpp"

#include "zorvastatic/spill/backing.hpp"

namespace zorvastatic {

Result<ViewGrid> view_grid(const StaticModel& model) {
  if (!model.spilled()) return ViewGrid::borrow(model.grid);
  // A spilled model holds only a placeholder: rebuild the grid from its store for this call.
  ZV_ASSIGN_OR_RETURN(Grid grid, model.spill->to_in_core_grid());
  return ViewGrid::own(std::move(grid));
}

std::string role_horizon_name(const Wireframe& wireframe, HorizonRole role, const char* fallback) {
  const Horizon* horizon = wireframe.first_with_role(role);
  return horizon != nullptr ? horizon->name : std::string(fallback);
}

}  // namespace zorvastatic
