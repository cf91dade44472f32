#pragma once
// Standard normal deviates by the 256-layer ziggurat (Marsaglia-Tsang, with the layer index in
// the low 8 bits and the sign-carrying uniform in the top 52 bits of one 64-bit draw).

#include "zorvatools/geostat/chacha12.hpp"

namespace zorvatools {

// One standard normal deviate. Each loop iteration takes one 64-bit draw, a wedge test one more,
// each pass of the tail loop two more. The tail uses the C library's log.
[[nodiscard]] double ziggurat_normal(ChaCha12& rng);

}  // namespace zorvatools
