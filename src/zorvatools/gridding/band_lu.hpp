#pragma once
// Banded LU factorisation without pivoting, for the minimum-curvature system.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <unordered_map>
#include <vector>

#include "zorvatools/gridding/compressed_rows.hpp"

namespace zorvatools {

// Sparse matrix entries keyed by (row << 32) | column; repeated taps sum into one entry.
using SparseEntries = std::unordered_map<std::uint64_t, double>;

inline std::uint64_t entry_key(std::uint32_t row, std::uint32_t col) {
  return (static_cast<std::uint64_t>(row) << 32) | col;
}
inline std::uint32_t entry_row(std::uint64_t key) {
  return static_cast<std::uint32_t>(key >> 32);
}
inline std::uint32_t entry_col(std::uint64_t key) {
  return static_cast<std::uint32_t>(key & 0xffffffffu);
}

// A factored band matrix: n rows, half-bandwidth b, rows of width w = 2b + 1 stored one after
// another; entry (r, c) with |c - r| <= b sits at r * w + b + (c - r). The strictly lower part
// holds the multipliers of the unit lower factor, the rest the upper factor.
struct BandLu {
  std::size_t n = 0;
  std::size_t b = 0;
  std::size_t w = 1;
  std::vector<double> values;

  [[nodiscard]] double at(std::size_t r, std::size_t c) const { return values[r * w + b + c - r]; }

  // Overwrites the right-hand side with the solution: forward substitution with the unit lower
  // factor, then back substitution with the upper factor.
  void solve_in_place(std::span<double> x) const;
};

inline constexpr double kPivotTolerance = 1e-10;  // relative to the largest absolute diagonal

enum class BandLuFailure : std::uint8_t {
  NotFactorable,  // a pivot not finite or not above the tolerance, or a multiplier not finite
  Stopped,        // the current call was stopped while factoring
};

// Places the entries in a zero-filled band, adds `shift` to every diagonal entry when it is
// non-zero, and factors, polling the current call every few pivot blocks.
std::expected<BandLu, BandLuFailure> build_and_factor(const SparseEntries& entries, std::size_t n,
                                                      std::size_t b, double shift);
// The same from compressed rows, every entry within b of the diagonal.
std::expected<BandLu, BandLuFailure> build_and_factor(const CompressedRows& rows, std::size_t b,
                                                      double shift);

}  // namespace zorvatools
