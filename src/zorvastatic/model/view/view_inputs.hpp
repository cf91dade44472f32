#pragma once
// What the views read of a model: a grid, and the model's metadata beside it. The bundles are
// written over these references so that a spilled model can hand them a grid rebuilt from its
// store instead of its own placeholder.

#include <optional>
#include <string>
#include <type_traits>

#include "zorvastatic/error.hpp"
#include "zorvastatic/grid/grid.hpp"
#include "zorvastatic/model/georef.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/model/provenance.hpp"
#include "zorvastatic/model/wireframe.hpp"
#include "zorvastatic/model/zones.hpp"
#include "zorvatools/foundation/call_scope.hpp"

namespace zorvastatic {

struct ViewInputs {
  const Grid& grid;
  const Wireframe& wireframe;
  const ZoneTable& zone_table;
  const Provenance& provenance;
  const std::optional<Georef>& georef;
  bool sugar_cube = false;

  // The model's metadata over `grid`, which must outlive the inputs.
  static ViewInputs of(const StaticModel& model, const Grid& grid) {
    return {grid,         model.wireframe, model.zone_table, model.provenance,
            model.georef, model.sugar_cube};
  }
};

// The grid one view call reads: the model's own when it is in memory, or a grid materialised
// from the store of a spilled model, owned for the duration of the call.
class ViewGrid {
 public:
  static ViewGrid borrow(const Grid& grid) { return ViewGrid(&grid, std::nullopt); }
  static ViewGrid own(Grid grid) { return ViewGrid(nullptr, std::move(grid)); }

  [[nodiscard]] const Grid& get() const { return owned_ ? *owned_ : *borrowed_; }

 private:
  ViewGrid(const Grid* borrowed, std::optional<Grid> owned)
      : borrowed_(borrowed), owned_(std::move(owned)) {}
  const Grid* borrowed_;
  std::optional<Grid> owned_;
};

// The one place where the views obtain a model's grid.
Result<ViewGrid> view_grid(const StaticModel& model);

// Runs `draw(inputs)` over the model's grid and metadata. A spilled model's grid is read back
// from its store first, which takes `reading_work` of the call's progress to the drawing's 1.
template <class Draw>
std::invoke_result_t<Draw&, const ViewInputs&> draw_view(const StaticModel& model,
                                                         double reading_work, Draw&& draw) {
  zorvatools::ProgressSteps steps({model.spilled() ? reading_work : 0.0, 1.0});
  steps.enter(0);
  ZV_ASSIGN_OR_RETURN(const ViewGrid grid, view_grid(model));
  steps.enter(1);
  return draw(ViewInputs::of(model, grid.get()));
}

// Name of the first wireframe horizon of that role, else `fallback`.
std::string role_horizon_name(const Wireframe& wireframe, HorizonRole role, const char* fallback);

}  // namespace zorvastatic
