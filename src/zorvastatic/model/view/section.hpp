#pragma once
// The intersection bundle: a vertical section of the grid along a world trace. Every grid
// column the trace crosses carries the top and base depth of each k-layer at its centre and
// where the trace enters and leaves it, the layer's zone and optionally one property's values.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zorvastatic/error.hpp"
#include "zorvastatic/grid/grid.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/model/view/frame.hpp"
#include "zorvastatic/model/view/section_geometry.hpp"
#include "zorvastatic/model/view/view_inputs.hpp"

namespace zorvastatic {

// Zone id of a pinched layer or of a layer outside every zone.
inline constexpr std::uint16_t kNoZone = 65535;

// The section trace: a world polyline, or a well path whose vertices carry their depth.
struct SectionSpec {
  enum class Kind : std::uint8_t { Polyline, AlongBore };
  Kind kind = Kind::Polyline;
  std::vector<Point3> vertices;  // world x, y; z is the path depth of an along-bore trace

  static SectionSpec polyline(const std::vector<Point2>& points);
  // A NaN depth marks a vertex without one.
  static SectionSpec along_bore(std::vector<Point3> points) {
    return {Kind::AlongBore, std::move(points)};
  }
};

struct SectionColumn {
  double distance_m = 0;  // along the trace from its first vertex
  std::uint64_t i = 0;
  std::uint64_t j = 0;
  double x = 0;  // world position of the sample point
  double y = 0;
  // Per layer; NaN for a pinched layer.
  std::vector<double> layer_tops;
  std::vector<double> layer_bases;
  std::vector<double> layer_tops_l;
  std::vector<double> layer_tops_r;
  std::vector<double> layer_bases_l;
  std::vector<double> layer_bases_r;
  std::vector<double> values;  // empty without a property
  std::vector<std::uint16_t> zone_ids;
  std::optional<double> path_z;  // along-bore traces only
};

struct HorizonTrace {
  std::string name;
  std::vector<double> depths;  // one per column
};

struct SectionZone {
  std::string name;
  std::optional<std::string> color;
};

struct SectionContact {
  std::string kind;
  double depth_m = 0;
};

struct IntersectionBundle {
  std::uint32_t schema_version = kViewSchemaVersion;
  std::string inputs_ref;
  bool sugar_cube = false;
  std::optional<std::string> property;
  std::string top_name;
  std::string base_name;
  std::vector<SectionColumn> columns;
  std::vector<HorizonTrace> horizon_traces;  // one per internal zone boundary
  std::vector<SectionZone> zones;
  std::vector<SectionContact> contacts;
  GridFrame frame;
};

// Recomputes the edge depths of every finite layer of along-bore columns (when there are at
// least two) along the local direction of the path rather than that of its segment.
void retangent_alongbore_edges(const Grid& grid, const WorldToLattice& map, std::size_t nk,
                               std::vector<SectionColumn>& columns);

[[nodiscard]] Result<IntersectionBundle> build_intersection_bundle(
    const ViewInputs& inputs, const SectionSpec& spec, const std::optional<std::string>& property);
// Compact, keys in field order, non-finite numbers and absent values as null.
[[nodiscard]] Result<std::string> to_json(const IntersectionBundle& bundle);

[[nodiscard]] Result<std::string> intersection_bundle(const ViewInputs& inputs,
                                                      const SectionSpec& spec,
                                                      const std::optional<std::string>& property);
[[nodiscard]] Result<std::string> intersection_bundle(const StaticModel& model,
                                                      const SectionSpec& spec,
                                                      const std::optional<std::string>& property);

}  // namespace zorvastatic
