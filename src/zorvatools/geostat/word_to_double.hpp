#pragma once
// Exact conversions of a 64-bit generator word to a double; none of them rounds.

#include <bit>
#include <cstdint>

namespace zorvatools {

// [0, 1 - 2^-53]: the top 53 bits scaled by 2^-53.
inline double unit_closed_open(std::uint64_t word) {
  return static_cast<double>(word >> 11) * 0x1p-53;
}

// [2^-53, 1 - 2^-53], never 0 or 1: (2 * (word >> 12) + 1) * 2^-53.
inline double unit_open(std::uint64_t word) {
  return std::bit_cast<double>((word >> 12) | 0x3FF0000000000000ULL) -
         std::bit_cast<double>(0x3FEFFFFFFFFFFFFFULL);
}

// [-1, 1 - 2^-51] from the top 52 bits: a double in [2, 4) minus 3. Never -0.
inline double signed_unit(std::uint64_t word) {
  return std::bit_cast<double>((word >> 12) | 0x4000000000000000ULL) - 3.0;
}

}  // namespace zorvatools
