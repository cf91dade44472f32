// taper_beyond_data: pulls a solved surface towards the nearest control's depth far from the data.
#include <cmath>
#include <cstdint>
#include <limits>

#include "zorvastatic/gridder/surface_solve.hpp"

namespace zorvastatic {
namespace {

constexpr std::size_t kNoOwner = std::numeric_limits<std::size_t>::max();

// Nearest control of every node by two-pass propagation over the node grid (a chamfer-style
// sweep: candidates are the owners of already visited neighbours).
class NearestControlMap {
 public:
  NearestControlMap(std::size_t nx, std::size_t ny, const std::vector<ControlPoint>& controls)
      : nx_(nx),
        ny_(ny),
        controls_(controls),
        owner_(nx * ny, kNoOwner),
        d2_(nx * ny, std::numeric_limits<double>::infinity()) {
    for (std::size_t c = 0; c < controls.size(); ++c) {
      // A control off the lattice owns no node.
      if (controls[c].i >= nx || controls[c].j >= ny) continue;
      const std::size_t node = controls[c].i + nx * controls[c].j;
      owner_[node] = c;  // a later control on the same node replaces an earlier one
      d2_[node] = 0;
    }
    forward_pass();
    backward_pass();
  }

  [[nodiscard]] std::size_t owner(std::size_t node) const { return owner_[node]; }
  [[nodiscard]] double squared_distance(std::size_t node) const { return d2_[node]; }

 private:
  // Offers node (x, j) the owner of node (cx, cj).
  void offer(std::size_t x, std::size_t j, std::size_t cx, std::size_t cj) {
    const std::size_t candidate = owner_[cx + nx_ * cj];
    if (candidate == kNoOwner) return;
    const double di = static_cast<double>(x) - static_cast<double>(controls_[candidate].i);
    const double dj = static_cast<double>(j) - static_cast<double>(controls_[candidate].j);
    const double d2 = di * di + dj * dj;
    const std::size_t node = x + nx_ * j;
    if (d2 < d2_[node]) {
      d2_[node] = d2;
      owner_[node] = candidate;
    }
  }

  void forward_pass() {
    for (std::size_t j = 0; j < ny_; ++j) {
      for (std::size_t x = 0; x < nx_; ++x) {
        if (j == 0) {
          if (x >= 1) offer(x, j, x - 1, 0);
        } else if (x == 0) {
          offer(x, j, 0, j - 1);
          if (nx_ > 1) offer(x, j, 1, j - 1);
        } else {
          offer(x, j, x - 1, j);
          offer(x, j, x, j - 1);
          offer(x, j, x - 1, j - 1);
          if (x + 1 < nx_) offer(x, j, x + 1, j - 1);
        }
      }
    }
  }

  void backward_pass() {
    for (std::size_t j = ny_; j-- > 0;) {
      for (std::size_t x = nx_; x-- > 0;) {
        const bool right = x + 1 < nx_;
        if (j + 1 == ny_) {
          if (right) offer(x, j, x + 1, j);
        } else {
          if (right) offer(x, j, x + 1, j);
          offer(x, j, x, j + 1);
          if (right) offer(x, j, x + 1, j + 1);
          if (x >= 1) offer(x, j, x - 1, j + 1);
        }
      }
    }
  }

  std::size_t nx_;
  std::size_t ny_;
  const std::vector<ControlPoint>& controls_;
  std::vector<std::size_t> owner_;
  std::vector<double> d2_;
};

}  // namespace

Surface taper_beyond_data(const Surface& surface, const std::vector<ControlPoint>& controls,
                          const TaperSpec& taper) {
  if (!taper.enabled) return surface;
  const std::size_t nx = surface.nx();
  const std::size_t ny = surface.ny();
  const NearestControlMap nearest(nx, ny, controls);
  const double start = taper.start > 0 ? taper.start : 0.0;  // a NaN start counts as 0
  Surface out = surface;
  std::vector<double>& values = out.values();
  for (std::size_t node = 0; node < values.size(); ++node) {
    const std::size_t owner = nearest.owner(node);
    if (owner == kNoOwner) continue;  // no control reaches this node: keep its depth
    const double d = std::sqrt(nearest.squared_distance(node));
    const double control_z = controls[owner].z;
    if (taper.width > 0) {
      double t = (d - start) / taper.width;
      t = t < 0 ? 0 : (t > 1 ? 1 : t);
      if (t == 1) {
        values[node] = control_z;  // whatever the node held
      } else if (t > 0) {
        values[node] = (1 - t) * values[node] + t * control_z;
      }
    } else if (d > start) {
      values[node] = control_z;
    }
  }
  return out;
}

}  // namespace zorvastatic
