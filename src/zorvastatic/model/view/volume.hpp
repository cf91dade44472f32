#pragma once
// The volume bundle: the exterior shell of one property's active cells (finite value, positive
// volume) as a triangle mesh with shared vertices, one value and one zone per shell cell.

#include <cstdint>
#include <string>
#include <vector>

#include "zorvastatic/error.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/model/view/frame.hpp"
#include "zorvastatic/model/view/view_inputs.hpp"

namespace zorvastatic {

struct VolumeBundle {
  std::uint32_t schema_version = kViewSchemaVersion;
  std::string inputs_ref;
  std::string property;
  std::uint64_t cell_count = 0;         // every cell of the grid
  std::vector<float> positions;         // x, y, z per distinct vertex
  std::vector<std::uint32_t> indices;   // three vertices per triangle
  std::vector<std::uint32_t> tri_cell;  // shell-cell slot of each triangle
  std::vector<float> cell_values;       // per shell cell, in order of first exposure
  std::vector<std::uint16_t> zone_ids;  // per shell cell
  std::vector<std::string> zone_names;  // the zone table's, in order
  ValueRange value_range;               // over the finite cell values
};

[[nodiscard]] Result<VolumeBundle> build_volume_bundle(const ViewInputs& inputs,
                                                       const std::string& property);
// Compact, keys in field order; 32-bit floats at their own precision, non-finite as null.
[[nodiscard]] std::string to_json(const VolumeBundle& bundle);

[[nodiscard]] Result<std::string> volume_bundle(const ViewInputs& inputs,
                                                const std::string& property);
[[nodiscard]] Result<std::string> volume_bundle(const StaticModel& model,
                                                const std::string& property);

}  // namespace zorvastatic
