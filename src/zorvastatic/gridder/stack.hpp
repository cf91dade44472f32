#pragma once
// A horizon stack: horizons shallowest first, each mapped (a control grid on the stack lattice,
// possibly with undefined nodes) or known only from well tops, and one zone between each
// adjacent pair of horizons.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/gridder/surface.hpp"
#include "zorvastatic/model/wireframe.hpp"

namespace zorvastatic {

// A depth grid on the stack lattice. Well ties edit the values and mark the tied nodes in the
// mask; the resolution reads the values only.
struct MappedGrid {
  std::vector<double> values;      // node (i, j) at i + ni * j; NaN where undefined
  std::vector<std::uint8_t> mask;  // 1 where the node is a control
  std::size_t ni = 0;
  std::size_t nj = 0;
};

// A horizon known only from well tops: control points (i, j, depth).
struct WellTops {
  std::vector<ControlPoint> tops;
};

struct StackHorizon {
  std::string name;
  std::variant<MappedGrid, WellTops> source;

  // A mapped horizon whose mask marks every defined node.
  static StackHorizon mapped(std::string name, std::vector<double> values, std::size_t ni,
                             std::size_t nj);
  static StackHorizon tops_only(std::string name, std::vector<ControlPoint> tops);

  [[nodiscard]] bool is_mapped() const { return std::holds_alternative<MappedGrid>(source); }
  // The control grid of a mapped horizon, or nullptr.
  [[nodiscard]] const MappedGrid* grid() const { return std::get_if<MappedGrid>(&source); }
  [[nodiscard]] MappedGrid* grid() { return std::get_if<MappedGrid>(&source); }
};

struct StackZone {
  std::string name;
  std::optional<std::string> label;  // display colour
  ZoneLayerSpec layers;
  std::vector<Contact> contacts;  // the zone's own fluid contacts
};

struct HorizonStack {
  std::vector<StackHorizon> horizons;  // shallowest first
  std::vector<StackZone> zones;        // one per adjacent pair of horizons
};

// How a horizon's surface was obtained.
enum class ResolutionMethod : std::uint8_t {
  Reference,       // the first mapped horizon, solved from its own defined nodes
  Isochore,        // thickness below the reference from co-located defined nodes
  RebuiltAgainst,  // thickness below a shallower mapped horizon from co-located nodes
  OwnNodes,        // solved from its own defined nodes (no co-located nodes above it)
  TopsBetween,     // well tops below the upper anchor, bounded by the lower anchor
  TopsBelow,       // well tops below the last mapped horizon
  TopsAbove,       // well tops above the first mapped horizon
};

// Name of a method as written in reports: "reference", "isochore", ...
const char* resolution_method_name(ResolutionMethod method);

struct HorizonResolution {
  std::string horizon;
  bool mapped = false;  // false: known from well tops only
  ResolutionMethod method = ResolutionMethod::Reference;
  std::string anchor;        // the horizon its thickness is measured from; empty when none
  std::size_t controls = 0;  // control points (nodes, thickness samples or tops) it was solved from
  friend bool operator==(const HorizonResolution&, const HorizonResolution&) = default;
};

// One complete surface per stack horizon, in stack order, and how each was resolved.
struct ResolvedStack {
  std::vector<Surface> surfaces;
  std::vector<HorizonResolution> horizons;
};

}  // namespace zorvastatic
