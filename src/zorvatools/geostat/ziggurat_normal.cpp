#include "zorvatools/geostat/ziggurat_normal.hpp"

#include <cmath>

#include "zorvatools/geostat/word_to_double.hpp"
#include "zorvatools/geostat/ziggurat_tables.hpp"

namespace zorvatools {

namespace {

// Beyond the tail start, by Marsaglia's exponential rejection; the sign comes from u.
double tail_deviate(ChaCha12& rng, double u) {
  constexpr double r = kZigguratTailStart;
  double xx = 1.0;  // chosen so that the loop runs at least once
  double yy = 0.0;
  while (-2.0 * yy < xx * xx) {
    const double a = unit_open(rng.next_u64());
    const double b = unit_open(rng.next_u64());
    xx = std::log(a) / r;
    yy = std::log(b);
  }
  return u < 0.0 ? xx - r : r - xx;
}

}  // namespace

double ziggurat_normal(ChaCha12& rng) {
  const auto& x_table = kZigguratX;
  const auto& f_table = kZigguratF;
  for (;;) {
    const std::uint64_t word = rng.next_u64();
    const std::size_t i = word & 0xFF;
    const double u = signed_unit(word);
    const double x = u * x_table[i];
    if (std::fabs(x) < x_table[i + 1]) return x;
    if (i == 0) return tail_deviate(rng, u);
    const double r = unit_closed_open(rng.next_u64());
    // Each operation rounded on its own (no fused multiply-add), as the tables' users expect.
    const double lower = f_table[i + 1] + (f_table[i] - f_table[i + 1]) * r;
    if (lower < std::exp(((-x) * x) / 2.0)) return x;
  }
}

}  // namespace zorvatools
