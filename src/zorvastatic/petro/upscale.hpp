#pragma once
// Length-weighted means of log samples and the pore-volume-weighted water saturation.

#include <cstdint>
#include <span>
#include <utility>

#include "zorvastatic/error.hpp"

namespace zorvastatic {

enum class UpscaleMethod : std::uint8_t { Arithmetic = 0, Harmonic = 1, Geometric = 2 };

struct LengthValue {
  double length = 0;
  double value = 0;
};

// The method's power mean of (length, value) pairs, weights = lengths.
Result<double> weighted_power_mean(std::span<const LengthValue> pairs, UpscaleMethod method);

struct SwSample {
  double length = 0;
  double porosity = 0;
  double sw = 0;
};

// Σ length·porosity·sw / Σ length·porosity.
Result<double> upscale_sw(std::span<const SwSample> samples);

}  // namespace zorvastatic
