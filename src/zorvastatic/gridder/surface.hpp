#pragma once
// Depth surfaces on an areal node lattice: node (i, j) at i + nx * j, NaN where undefined.
// Operations return new surfaces and leave their inputs unchanged.

#include <cstddef>
#include <vector>

#include "zorvastatic/error.hpp"

namespace zorvastatic {

struct ThicknessRepair;

// A control point: node indices along the lattice's two axes and a depth in metres.
struct ControlPoint {
  std::size_t i = 0;
  std::size_t j = 0;
  double z = 0;
  friend bool operator==(const ControlPoint&, const ControlPoint&) = default;
};

class Surface {
 public:
  Surface() = default;
  Surface(std::size_t nx, std::size_t ny, std::vector<double> values);

  // Every node set to `value`; the lattice must be at least 2x2 (an internal invariant).
  static Surface constant(std::size_t nx, std::size_t ny, double value);

  [[nodiscard]] std::size_t nx() const { return nx_; }
  [[nodiscard]] std::size_t ny() const { return ny_; }
  [[nodiscard]] const std::vector<double>& values() const { return values_; }
  [[nodiscard]] std::vector<double>& values() { return values_; }
  [[nodiscard]] double at(std::size_t i, std::size_t j) const { return values_[i + nx_ * j]; }
  [[nodiscard]] double& at(std::size_t i, std::size_t j) { return values_[i + nx_ * j]; }
  [[nodiscard]] bool same_lattice(const Surface& other) const {
    return nx_ == other.nx_ && ny_ == other.ny_;
  }

  // Self plus a finite node field; undefined nodes stay undefined.
  [[nodiscard]] Result<Surface> offset_by_field(const std::vector<double>& field) const;
  // Self as a lower surface pushed to at least `min_thickness_m` below `top`.
  [[nodiscard]] Result<ThicknessRepair> repair_min_thickness(const Surface& top,
                                                             double min_thickness_m) const;
  // Self as a base that must nowhere lie above `top`: unchanged, clamped, or an error.
  [[nodiscard]] Result<Surface> guard_below(const Surface& top, bool clamp) const;

  friend bool operator==(const Surface&, const Surface&) = default;

 private:
  std::vector<double> values_;
  std::size_t nx_ = 0;
  std::size_t ny_ = 0;
};

struct ThicknessRepair {
  Surface surface;
  std::size_t moved_nodes = 0;
  double worst_m = 0;  // the most negative lower-minus-top separation among moved nodes, or 0
};

}  // namespace zorvastatic
