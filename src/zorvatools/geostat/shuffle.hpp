#pragma once
// Fisher-Yates shuffle from the end, driven by the bounded draw. A list of fewer than two entries
// consumes no words.

#include <cstdint>
#include <span>
#include <utility>

#include "zorvatools/geostat/bounded_draw.hpp"

namespace zorvatools {

template <class T>
void shuffle_from_end(std::span<T> items, ChaCha12& rng) {
  if (items.size() < 2) return;
  for (std::uint64_t t = items.size() - 1; t >= 1; --t) {
    const std::uint64_t u = bounded_draw(rng, t + 1);
    std::swap(items[t], items[u]);
  }
}

}  // namespace zorvatools
