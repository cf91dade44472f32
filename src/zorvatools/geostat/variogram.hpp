#pragma once
// Variogram models in normal-score space and the correlation they imply between two points of
// one layer.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <variant>

#include "zorvatools/foundation/error.hpp"

namespace zorvatools {

enum class VariogramModel : std::uint8_t {
  Nugget = 0,  // only the nugget acts
  Spherical = 1,
  Exponential = 2,
  Gaussian = 3,
};

// The structure f(h) for a lag h > 0 and range a; a is the practical range of the exponential
// and Gaussian structures. Inline: the kriging systems evaluate it a few hundred times a node.
[[nodiscard]] inline double variogram_structure(VariogramModel model, double h, double range) {
  switch (model) {
    case VariogramModel::Nugget:
      return 0.0;
    case VariogramModel::Spherical: {
      const double r = h / range;
      return r < 1.0 ? 1.5 * r - 0.5 * (r * r * r) : 1.0;
    }
    case VariogramModel::Exponential:
      return 1.0 - std::exp(-3.0 * h / range);
    case VariogramModel::Gaussian: {
      const double r = h / range;
      return 1.0 - std::exp(-3.0 * (r * r));
    }
  }
  return std::numeric_limits<double>::quiet_NaN();  // not a model; Correlation rules it out
}

struct AnisotropicVariogram {
  double nugget = 0;
  double sill = 1;     // partial sill of the structure
  double major_m = 1;  // range along the azimuth
  double minor_m = 1;  // horizontal range across the azimuth
  double vertical_m = 1;
  double azimuth = 0;  // major axis, degrees clockwise from +y towards +x
  VariogramModel model = VariogramModel::Spherical;

  // Checks the fields (first failure wins) and returns the variogram with its azimuth
  // normalised to [0, 360).
  [[nodiscard]] AlgoResult<AnisotropicVariogram> validated() const;
};

// One range, plain Euclidean lag.
struct IsotropicVariogram {
  double nugget = 0;
  double sill = 1;
  double range_m = 1;
  VariogramModel model = VariogramModel::Spherical;

  [[nodiscard]] AlgoResult<IsotropicVariogram> validated() const;
};

using Variogram = std::variant<AnisotropicVariogram, IsotropicVariogram>;

[[nodiscard]] AlgoResult<Variogram> validated(const Variogram& variogram);

// The longest range: max(major, minor, vertical), or the single range. Sizes default searches.
[[nodiscard]] double longest_range_m(const Variogram& variogram);

// rho(dx, dy) = 1 - gamma(h) / (nugget + sill), with rho = 1 at zero lag. Built once from a
// validated variogram; the trigonometry and range ratios are computed on construction.
class Correlation {
 public:
  explicit Correlation(const Variogram& variogram);

  [[nodiscard]] double operator()(double dx, double dy) const {
    return from_reduced_lag(reduced_lag(dx, dy));
  }

  // The lag in metres along the major axis: ranges across it are stretched to the major one.
  [[nodiscard]] double reduced_lag(double dx, double dy) const {
    if (isotropic_) return std::sqrt(dx * dx + dy * dy);
    const double along = sin_ * dx + cos_ * dy;
    const double across = minor_ratio_ * (cos_ * dx - sin_ * dy);
    // Within a layer dz = 0, so the vertical term vanishes.
    return std::sqrt(along * along + across * across);
  }

  // rho at each lag (dx[k], dy[k]), k < count, into out[k]: exactly the values of one call per
  // lag, computed in passes that the compiler vectorises where the model allows it.
  void evaluate(const double* dx, const double* dy, std::size_t count, double* out) const;

  [[nodiscard]] double from_reduced_lag(double h) const {
    if (h == 0) return 1.0;  // the nugget does not act at zero lag
    const double gamma = nugget_ + sill_ * variogram_structure(model_, h, range_);
    return 1.0 - gamma / (nugget_ + sill_);
  }

 private:
  bool isotropic_ = false;
  double sin_ = 0;
  double cos_ = 1;
  double minor_ratio_ = 1;  // major_m / minor_m
  double nugget_ = 0;
  double sill_ = 0;
  double range_ = 1;
  VariogramModel model_ = VariogramModel::Spherical;
};

}  // namespace zorvatools
