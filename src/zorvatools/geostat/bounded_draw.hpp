#pragma once
// Unbiased uniform integers in [0, bound): one multiply, and rarely a second word whose high half
// may carry into the result.

#include <cstdint>

#include "zorvatools/geostat/chacha12.hpp"

namespace zorvatools {

// A uniform integer in [0, bound), bound >= 1. Bounds up to 2^32 use 32-bit words and 64-bit
// products; larger bounds use 64-bit draws and 128-bit products.
[[nodiscard]] std::uint64_t bounded_draw(ChaCha12& rng, std::uint64_t bound);

}  // namespace zorvatools
