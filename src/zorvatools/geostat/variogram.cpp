#include "zorvatools/geostat/variogram.hpp"

#include <algorithm>
#include <cmath>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/foundation/try.hpp"
#include "zorvatools/foundation/vector_clones.hpp"

namespace zorvatools {

namespace {

// Shared checks of nugget and sill; `prefix` names the variogram form in the message.
AlgoResult<void> check_nugget_and_sill(const char* prefix, double nugget, double sill,
                                       VariogramModel model) {
  if (!(nugget >= 0 && sill >= 0)) {
    return std::unexpected(
        AlgoError::invalid_argument(std::string(prefix) + "nugget and sill must be non-negative"));
  }
  if (model == VariogramModel::Nugget) {
    if (!(nugget > 0)) {
      return std::unexpected(AlgoError::invalid_argument(
          std::string(prefix) +
          "the Nugget model uses only its nugget (sill is ignored), so nugget must be positive"));
    }
  } else if (!(nugget + sill > 0)) {
    return std::unexpected(AlgoError::invalid_argument(
        std::string(prefix) + "total sill (nugget + sill) must be positive"));
  }
  return {};
}

double normalised_azimuth(double azimuth) {
  double a = std::fmod(azimuth, 360.0);
  if (a < 0) a += 360.0;
  // A tiny negative angle plus 360 rounds to 360 itself; that direction is 0. + 0.0 turns -0
  // (from -360, -720, ...) into 0.
  if (a >= 360.0) a = 0.0;
  return a + 0.0;
}

// The three passes of Correlation::evaluate. Each lane does the arithmetic of the scalar
// Correlation, in the same order, so bulk and single evaluations agree to the bit.

ZV_VECTOR_CLONES void squared_isotropic_lags(const double* dx, const double* dy, std::size_t count,
                                             double* out) {
  for (std::size_t k = 0; k < count; ++k) out[k] = dx[k] * dx[k] + dy[k] * dy[k];
}

ZV_VECTOR_CLONES void squared_reduced_lags(double sin, double cos, double minor_ratio,
                                           const double* dx, const double* dy, std::size_t count,
                                           double* out) {
  for (std::size_t k = 0; k < count; ++k) {
    const double along = sin * dx[k] + cos * dy[k];
    const double across = minor_ratio * (cos * dx[k] - sin * dy[k]);
    out[k] = along * along + across * across;
  }
}

// Only the spherical structure is free of library calls, so only its loop vectorises. Both arms
// of each choice are computed and blended; floating-point exception flags are never read, so
// the compiler may ignore them (values do not change).
__attribute__((optimize("no-trapping-math"))) ZV_VECTOR_CLONES void spherical_from_lags(
    double nugget, double sill, double range, std::size_t count, double* h) {
  const double total = nugget + sill;
  for (std::size_t k = 0; k < count; ++k) {
    const double r = h[k] / range;
    const double cubic = 1.5 * r - 0.5 * (r * r * r);
    const double gamma = nugget + sill * (r < 1.0 ? cubic : 1.0);
    const double rho = 1.0 - gamma / total;
    h[k] = h[k] == 0 ? 1.0 : rho;
  }
}

// The compiler keeps square roots scalar (for their errno path, never taken on these sums of
// squares), so they are taken in vectors here, four at a time where the processor allows it;
// vector square roots are correctly rounded like single ones.
#if defined(__x86_64__)
__attribute__((target("default"))) void square_roots(std::size_t count, double* x) {
  std::size_t k = 0;
  for (; k + 2 <= count; k += 2) _mm_storeu_pd(x + k, _mm_sqrt_pd(_mm_loadu_pd(x + k)));
  for (; k < count; ++k) x[k] = std::sqrt(x[k]);
}

__attribute__((target("avx"))) void square_roots(std::size_t count, double* x) {
  std::size_t k = 0;
  for (; k + 4 <= count; k += 4) _mm256_storeu_pd(x + k, _mm256_sqrt_pd(_mm256_loadu_pd(x + k)));
  for (; k + 2 <= count; k += 2) _mm_storeu_pd(x + k, _mm_sqrt_pd(_mm_loadu_pd(x + k)));
  for (; k < count; ++k) x[k] = std::sqrt(x[k]);
}
#else
void square_roots(std::size_t count, double* x) {
  for (std::size_t k = 0; k < count; ++k) x[k] = std::sqrt(x[k]);
}
#endif

}  // namespace

AlgoResult<AnisotropicVariogram> AnisotropicVariogram::validated() const {
  constexpr const char* kPrefix = "anisotropic variogram: ";
  for (double v : {nugget, sill, major_m, minor_m, vertical_m, azimuth}) {
    if (!std::isfinite(v)) {
      return std::unexpected(AlgoError::invalid_argument(
          "anisotropic variogram: nugget, sill, ranges and azimuth must be finite"));
    }
  }
  ZV_TRY(check_nugget_and_sill(kPrefix, nugget, sill, model));
  if (!(major_m > 0 && minor_m > 0 && vertical_m > 0)) {
    return std::unexpected(AlgoError::invalid_argument(
        "anisotropic variogram: major, minor and vertical ranges must be positive"));
  }
  AnisotropicVariogram out = *this;
  out.azimuth = normalised_azimuth(azimuth);
  return out;
}

AlgoResult<IsotropicVariogram> IsotropicVariogram::validated() const {
  constexpr const char* kPrefix = "isotropic variogram: ";
  if (!std::isfinite(nugget) || !std::isfinite(sill) || !std::isfinite(range_m)) {
    return std::unexpected(
        AlgoError::invalid_argument("isotropic variogram: nugget, sill and range must be finite"));
  }
  ZV_TRY(check_nugget_and_sill(kPrefix, nugget, sill, model));
  if (!(range_m > 0)) {
    return std::unexpected(
        AlgoError::invalid_argument("isotropic variogram: range must be positive"));
  }
  return *this;
}

AlgoResult<Variogram> validated(const Variogram& variogram) {
  return std::visit(
      [](const auto& v) -> AlgoResult<Variogram> {
        ZV_ASSIGN_OR_RETURN(auto checked, v.validated());
        return Variogram(checked);
      },
      variogram);
}

double longest_range_m(const Variogram& variogram) {
  if (const auto* iso = std::get_if<IsotropicVariogram>(&variogram)) return iso->range_m;
  const auto& aniso = std::get<AnisotropicVariogram>(variogram);
  return std::max({aniso.major_m, aniso.minor_m, aniso.vertical_m});
}

Correlation::Correlation(const Variogram& variogram) {
  if (const auto* iso = std::get_if<IsotropicVariogram>(&variogram)) {
    isotropic_ = true;
    nugget_ = iso->nugget;
    sill_ = iso->sill;
    range_ = iso->range_m;
    model_ = iso->model;
  } else {
    const auto& aniso = std::get<AnisotropicVariogram>(variogram);
    const double theta = aniso.azimuth * kDegToRad;
    sin_ = std::sin(theta);
    cos_ = std::cos(theta);
    minor_ratio_ = aniso.major_m / aniso.minor_m;
    nugget_ = aniso.nugget;
    sill_ = aniso.sill;
    range_ = aniso.major_m;
    model_ = aniso.model;
  }
  require(static_cast<std::uint8_t>(model_) <= static_cast<std::uint8_t>(VariogramModel::Gaussian),
          "Correlation: unknown variogram model");
  // The Nugget model ignores its sill: no correlation at any lag off zero.
  if (model_ == VariogramModel::Nugget) sill_ = 0;
}

void Correlation::evaluate(const double* dx, const double* dy, std::size_t count,
                           double* out) const {
  if (isotropic_) {
    squared_isotropic_lags(dx, dy, count, out);
  } else {
    squared_reduced_lags(sin_, cos_, minor_ratio_, dx, dy, count, out);
  }
  square_roots(count, out);
  if (model_ == VariogramModel::Spherical) {
    spherical_from_lags(nugget_, sill_, range_, count, out);
  } else {
    for (std::size_t k = 0; k < count; ++k) out[k] = from_reduced_lag(out[k]);
  }
}

}  // namespace zorvatools
