#pragma once
// The plan-view map bundle: the column frame, the outline, the top and base depth maps,
// zone-average and k-slice maps of one property, the wells with their tie residuals and one
// crossing mask per fluid contact, all per-column arrays on the same frame.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zorvastatic/error.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/model/view/frame.hpp"
#include "zorvastatic/model/view/view_inputs.hpp"

namespace zorvastatic {

struct MapSpec {
  std::vector<std::string> properties;  // empty, or the one name asked for
  std::optional<std::uint64_t> k_slice;
};

struct WellTieResidual {
  std::string horizon;
  double residual_m = 0;
};

struct WellMarker {
  std::string id;
  double x = 0;
  double y = 0;
  std::optional<double> tie_residual_m;  // mean of the tie residuals; absent without ties
  std::vector<WellTieResidual> ties;
};

struct ContactMask {
  std::string kind;
  double depth_m = 0;
  std::vector<bool> crossing;  // top <= depth_m <= base, per column
};

struct MapBundle {
  std::uint32_t schema_version = kViewSchemaVersion;
  std::string inputs_ref;
  GridFrame frame;
  std::vector<std::vector<zorvatools::Point2>> outline;  // rings
  std::vector<ScalarLayer> horizons;                     // top, then base
  std::vector<ScalarLayer> zone_averages;
  std::vector<ScalarLayer> k_slices;
  std::vector<WellMarker> wells;
  std::vector<ContactMask> contacts;
};

[[nodiscard]] Result<MapBundle> build_map_bundle(const ViewInputs& inputs, const MapSpec& spec);
// Compact, keys in field order, non-finite numbers as null.
[[nodiscard]] std::string to_json(const MapBundle& bundle);

[[nodiscard]] Result<std::string> map_bundle(const ViewInputs& inputs, const MapSpec& spec);
[[nodiscard]] Result<std::string> map_bundle(const StaticModel& model, const MapSpec& spec);

}  // namespace zorvastatic
