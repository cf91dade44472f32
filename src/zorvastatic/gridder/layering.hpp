#pragma once
// Layering: a stack of depth surfaces (shallowest first, one lattice) into a corner-point grid,
// one zone between each adjacent pair, each zone divided by its conformity rule.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "zorvastatic/grid/grid.hpp"
#include "zorvastatic/gridder/surface.hpp"

namespace zorvastatic {

inline constexpr std::size_t kLayerCap = 200;  // total layers, per conformity zone, zones
inline constexpr double kZeroThicknessTolerance = kZeroThicknessM;  // the volume rule's

// How a zone is divided into layers.
struct Conformity {
  enum class Kind : std::uint8_t { Proportional = 0, TopConform = 1, BaseConform = 2 };
  Kind kind = Kind::Proportional;
  double dz_m = 0;  // layer thickness of TopConform and BaseConform

  static Conformity proportional() { return {Kind::Proportional, 0}; }
  static Conformity top_conform(double dz_m) { return {Kind::TopConform, dz_m}; }
  static Conformity base_conform(double dz_m) { return {Kind::BaseConform, dz_m}; }
  friend bool operator==(const Conformity&, const Conformity&) = default;
};

struct ZoneLayerSpec {
  Conformity conformity;
  std::size_t nk = 1;  // layer count of a Proportional zone
};

struct StackedZone {
  Conformity conformity;
  std::size_t nk = 0;               // final layer count
  std::size_t k_start = 0;          // the zone's first k-layer in the grid
  std::size_t pinched_cells = 0;    // cells without thickness before collapse
  std::size_t collapsed_cells = 0;  // cells with thickness before collapse and none after
};

struct LayeringReport {
  Grid grid;  // empty properties
  std::vector<StackedZone> zones;
  std::size_t pinched_cells = 0;
  std::size_t collapsed_cells = 0;
  bool capped = false;
};

// Builds the whole grid in memory. `surfaces` are shallowest first; one zone spec per pair.
Result<LayeringReport> layer_grid_stack(std::span<const Surface* const> surfaces,
                                        std::span<const ZoneLayerSpec> zone_specs,
                                        std::optional<double> collapse_below_m, double dx,
                                        double dy);

// Succeeds when every node of every surface is finite.
Status require_finite_surfaces(std::span<const Surface* const> surfaces);

struct CappedCounts {
  std::vector<std::size_t> counts;
  bool capped = false;
};
// Scales per-zone layer counts down to the total cap.
CappedCounts cap_total_nk(std::vector<std::size_t> counts);

// Sets the length of a reusable buffer, keeping its storage.
void size_scratch(std::vector<double>& buffer, std::size_t n);

// The division of one zone between two surfaces without building the grid: boundary planes are
// produced one at a time for the out-of-core build.
class StreamingLayering {
 public:
  static Result<StreamingLayering> prepare(const Surface& top, const Surface& base,
                                           const ZoneLayerSpec& zone_spec, double dx, double dy);
  // A stack of zones, checked as layer_grid_stack checks it (without collapse).
  static Result<StreamingLayering> prepare(std::span<const Surface* const> surfaces,
                                           std::span<const ZoneLayerSpec> zone_specs, double dx,
                                           double dy);

  // Depths of boundary plane k (0 <= k <= nk) at every node, node (i, j) at i + nx * j.
  void fill_plane(std::size_t k, std::span<double> out) const;

  [[nodiscard]] const Dims& dims() const { return dims_; }
  [[nodiscard]] bool capped() const { return capped_; }
  [[nodiscard]] double dx() const { return dx_; }
  [[nodiscard]] double dy() const { return dy_; }
  [[nodiscard]] const Surface& top() const { return surfaces_.front(); }
  [[nodiscard]] const Surface& base() const { return surfaces_.back(); }
  [[nodiscard]] const std::vector<std::size_t>& zone_counts() const { return zone_nk_; }
  [[nodiscard]] const std::vector<std::size_t>& zone_starts() const { return k_start_; }
  // The zone of each k-layer.
  [[nodiscard]] const std::vector<std::size_t>& zone_of_layer() const { return zone_of_layer_; }

 private:
  StreamingLayering() = default;

  std::vector<Surface> surfaces_;
  std::vector<Conformity> rules_;
  std::vector<std::size_t> zone_nk_;
  std::vector<std::size_t> k_start_;
  std::vector<std::size_t> zone_of_layer_;
  Dims dims_;
  double dx_ = 0;
  double dy_ = 0;
  bool capped_ = false;
};

}  // namespace zorvastatic
