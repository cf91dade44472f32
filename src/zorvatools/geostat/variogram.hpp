#pragma once
// Variogram models in normal-score space and the correlation they imply between two points of
// one layer.

#include <cstdint>
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
// and Gaussian structures.
[[nodiscard]] double variogram_structure(VariogramModel model, double h, double range);

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
    return at_reduced_lag(reduced_lag(dx, dy));
  }

 private:
  [[nodiscard]] double reduced_lag(double dx, double dy) const;
  [[nodiscard]] double at_reduced_lag(double h) const;

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
