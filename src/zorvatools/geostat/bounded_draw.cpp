#include "zorvatools/geostat/bounded_draw.hpp"

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {

namespace {

constexpr std::uint64_t kTwoPow32 = std::uint64_t{1} << 32;

std::uint64_t bounded_u32_scheme(ChaCha12& rng, std::uint64_t bound) {
  const std::uint64_t product = std::uint64_t{rng.next_u32()} * bound;
  std::uint64_t result = product >> 32;
  const std::uint64_t low = product & 0xFFFFFFFFULL;
  const std::uint64_t threshold = (kTwoPow32 - bound) & 0xFFFFFFFFULL;
  if (low > threshold) {
    const std::uint64_t high2 = (std::uint64_t{rng.next_u32()} * bound) >> 32;
    if (low + high2 > 0xFFFFFFFFULL) result += 1;
  }
  return result;
}

std::uint64_t bounded_u64_scheme(ChaCha12& rng, std::uint64_t bound) {
  __extension__ using u128 = unsigned __int128;  // GCC extension; -Wpedantic would reject it
  const u128 product = static_cast<u128>(rng.next_u64()) * bound;
  auto result = static_cast<std::uint64_t>(product >> 64);
  const auto low = static_cast<std::uint64_t>(product);
  const std::uint64_t threshold = 0 - bound;  // (2^64 - bound) mod 2^64
  if (low > threshold) {
    const auto high2 =
        static_cast<std::uint64_t>((static_cast<u128>(rng.next_u64()) * bound) >> 64);
    const std::uint64_t sum = low + high2;
    if (sum < low) result += 1;  // the 64-bit sum overflowed
  }
  return result;
}

}  // namespace

std::uint64_t bounded_draw(ChaCha12& rng, std::uint64_t bound) {
  require(bound >= 1, "bounded_draw: bound must be at least 1");
  return bound <= kTwoPow32 ? bounded_u32_scheme(rng, bound) : bounded_u64_scheme(rng, bound);
}

}  // namespace zorvatools
