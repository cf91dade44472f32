#pragma once
// Tables of the 256-layer normal ziggurat: abscissae x (decreasing, x[1] = tail start, x[256] = 0)
// and the unnormalised density f[i] = exp(-x[i]^2 / 2).

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace zorvatools {

inline constexpr std::size_t kZigguratTableSize = 257;
// Where the tail of the base strip starts; equals kZigguratX[1].
inline constexpr double kZigguratTailStart = std::bit_cast<double>(0x400d3bb48209ad33ULL);

extern const std::array<double, kZigguratTableSize> kZigguratX;
extern const std::array<double, kZigguratTableSize> kZigguratF;

}  // namespace zorvatools
