#include "zorvastatic/gridder/surface.hpp"

#include <cmath>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

Status require_same_lattice(const Surface& base, const Surface& top) {
  if (base.same_lattice(top)) return {};
  return std::unexpected(
      StaticError::invalid_input(str_cat("base lattice ", base.nx(), "x", base.ny(),
                                         " does not match top ", top.nx(), "x", top.ny())));
}

}  // namespace

Surface::Surface(std::size_t nx, std::size_t ny, std::vector<double> values)
    : values_(std::move(values)), nx_(nx), ny_(ny) {
  zorvatools::require(values_.size() == nx * ny, "surface value count mismatch");
}

Surface Surface::constant(std::size_t nx, std::size_t ny, double value) {
  zorvatools::require(nx >= 2 && ny >= 2, "surface lattice must be at least 2x2");
  return Surface(nx, ny, std::vector<double>(nx * ny, value));
}

Result<Surface> Surface::offset_by_field(const std::vector<double>& field) const {
  if (field.size() != values_.size()) {
    return std::unexpected(
        StaticError::invalid_input(str_cat("offset field has ", field.size(), " values, expected ",
                                           nx_ * ny_, " (", nx_, "x", ny_, ")")));
  }
  for (double v : field) {
    if (!std::isfinite(v)) {
      return std::unexpected(
          StaticError::invalid_input(str_cat("offset field must be finite, got ", v)));
    }
  }
  std::vector<double> out(values_.size());
  for (std::size_t n = 0; n < values_.size(); ++n) out[n] = values_[n] + field[n];
  return Surface(nx_, ny_, std::move(out));
}

Result<ThicknessRepair> Surface::repair_min_thickness(const Surface& top,
                                                      double min_thickness_m) const {
  ZV_TRY(require_same_lattice(*this, top));
  if (!std::isfinite(min_thickness_m) || min_thickness_m < 0) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("min_thickness_m must be finite and >= 0, got ", min_thickness_m)));
  }
  ThicknessRepair repair{Surface(nx_, ny_, std::vector<double>(values_.size())), 0, 0.0};
  std::vector<double>& out = repair.surface.values();
  for (std::size_t n = 0; n < values_.size(); ++n) {
    const double bound = top.values_[n] + min_thickness_m;
    if (values_[n] < bound) {  // NaN on either side compares false: never moved
      out[n] = bound;
      ++repair.moved_nodes;
      repair.worst_m = std::fmin(repair.worst_m, values_[n] - top.values_[n]);
    } else {
      out[n] = values_[n];
    }
  }
  return repair;
}

Result<Surface> Surface::guard_below(const Surface& top, bool clamp) const {
  ZV_TRY(require_same_lattice(*this, top));
  std::size_t crossing = 0;
  double worst = 0;
  for (std::size_t n = 0; n < values_.size(); ++n) {
    const double separation = values_[n] - top.values_[n];
    if (separation < 0) {
      ++crossing;
      worst = std::fmin(worst, separation);
    }
  }
  if (crossing == 0) return *this;
  if (!clamp) return std::unexpected(StaticError::crossed_surfaces(crossing, worst));
  std::vector<double> out(values_.size());
  for (std::size_t n = 0; n < values_.size(); ++n) {
    // fmax returns the defined side when the other is NaN.
    out[n] = std::fmax(values_[n], top.values_[n]);
  }
  return Surface(nx_, ny_, std::move(out));
}

}  // namespace zorvastatic
