#include "zorvastatic/petro/upscale.hpp"

#include <cmath>

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

// Powers of the power mean, indexed by the method code (the geometric mean does not use it).
constexpr double kPowers[3] = {1.0, -1.0, 0.0};

}  // namespace

Result<double> weighted_power_mean(std::span<const LengthValue> pairs, UpscaleMethod method) {
  double total = 0;
  for (const LengthValue& pair : pairs) total += pair.length;
  if (!std::isfinite(total) || !(total > 0)) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("total sample length must be finite and > 0, got ", total)));
  }
  const bool needs_positive = method != UpscaleMethod::Arithmetic;
  for (const LengthValue& pair : pairs) {
    if (!std::isfinite(pair.length) || pair.length < 0) {
      return std::unexpected(StaticError::invalid_input(
          str_cat("sample length must be finite and >= 0, got ", pair.length)));
    }
    if (needs_positive && (!std::isfinite(pair.value) || !(pair.value > 0))) {
      return std::unexpected(StaticError::invalid_input(
          str_cat("geometric/harmonic mean needs values > 0, got ", pair.value)));
    }
  }
  if (method == UpscaleMethod::Geometric) {
    double log_sum = 0;
    for (const LengthValue& pair : pairs) log_sum += pair.length * std::log(pair.value);
    return std::exp(log_sum / total);
  }
  const double p = kPowers[static_cast<int>(method)];
  double sum = 0;
  for (const LengthValue& pair : pairs) sum += pair.length * std::pow(pair.value, p);
  return std::pow(sum / total, 1.0 / p);
}

Result<double> upscale_sw(std::span<const SwSample> samples) {
  double pore = 0;
  double hc = 0;
  for (const SwSample& s : samples) {
    if (!std::isfinite(s.length) || s.length < 0 || !(s.porosity >= 0 && s.porosity <= 1)) {
      return std::unexpected(StaticError::invalid_input(
          str_cat("invalid Sw sample: length=", s.length, ", porosity=", s.porosity)));
    }
    pore += s.length * s.porosity;
    hc += s.length * s.porosity * s.sw;
  }
  if (!(pore > 0)) {
    return std::unexpected(StaticError::invalid_input("total pore volume is zero; Sw undefined"));
  }
  return hc / pore;
}

}  // namespace zorvastatic
