#pragma once
// What a build recorded about itself: warnings, property reports and, on the horizon-stack
// road, interface repairs and well-tie results.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/gridder/stack.hpp"
#include "zorvastatic/model/property_report.hpp"
#include "zorvastatic/model/wireframe.hpp"

namespace zorvastatic {

struct BuildWarning {
  enum class Kind : std::uint8_t {
    Horizon,            // a horizon ignored or rejected by the builder
    ThicknessRepaired,  // base nodes moved to the minimum thickness
    PinchedCells,       // cells without thickness
    CollapsedCells,     // cells collapsed by the thin-layer threshold
    LayersCapped,       // the layer count was capped
  };
  Kind kind = Kind::Horizon;
  std::string horizon;                  // Horizon
  std::string message;                  // Horizon
  HorizonRole role = HorizonRole::Top;  // Horizon
  std::size_t count = 0;  // ThicknessRepaired nodes, PinchedCells, CollapsedCells, LayersCapped
  double worst_m = 0;     // ThicknessRepaired

  static BuildWarning horizon_warning(std::string name, std::string message, HorizonRole role) {
    return {Kind::Horizon, std::move(name), std::move(message), role, 0, 0};
  }
  static BuildWarning thickness_repaired(std::size_t nodes, double worst_m) {
    return {Kind::ThicknessRepaired, {}, {}, HorizonRole::Top, nodes, worst_m};
  }
  static BuildWarning pinched_cells(std::size_t count) {
    return {Kind::PinchedCells, {}, {}, HorizonRole::Top, count, 0};
  }
  static BuildWarning collapsed_cells(std::size_t count) {
    return {Kind::CollapsedCells, {}, {}, HorizonRole::Top, count, 0};
  }
  static BuildWarning layers_capped(std::size_t total_layers) {
    return {Kind::LayersCapped, {}, {}, HorizonRole::Top, total_layers, 0};
  }
};

struct InterfaceRepair {
  std::size_t interface_index = 0;  // position of the upper surface of the pair
  std::size_t nodes_changed = 0;
  double summary_m = 0;
};

struct HorizonTieResidual {
  std::string horizon;
  double pick_depth = 0;
  double surface_depth = 0;  // at the tie node, before the tie
  double residual = 0;       // pick depth - surface depth
};

struct WellTieRecord {
  std::string name;
  std::vector<HorizonTieResidual> residuals;
  double x = 0;
  double y = 0;
  std::size_t i = 0;
  std::size_t j = 0;
};

struct ZoneProvenance {
  std::size_t k_start = 0;
  std::size_t k_end = 0;
  std::string zone;
  std::string top_horizon;
  std::string base_horizon;
  StackedZone layering;
};

struct StackProvenance {
  std::vector<HorizonTieResidual> tie_residuals;
  std::vector<ZoneProvenance> zones;
  std::vector<HorizonResolution> horizons;  // how each stack horizon was resolved, stack order
};

struct StackRecord {
  std::vector<InterfaceRepair> interface_repairs;
  std::vector<WellTieRecord> well_ties;
  StackProvenance stack;
};

struct Provenance {
  std::string inputs_ref = "wireframe";
  std::optional<StackRecord> stack;
  std::vector<BuildWarning> warnings;
  std::vector<PropertyReport> property_reports;  // whole-grid pipelines first, then zones
};

}  // namespace zorvastatic
