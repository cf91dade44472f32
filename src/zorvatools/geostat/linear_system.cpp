#include "zorvatools/geostat/linear_system.hpp"
#include "zorvatools/foundation/vector_clones.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace zorvatools {

namespace {

constexpr std::size_t kAlignDoubles = 64 / sizeof(double);

// One block of a column as a vector; the compiler splits it into what the processor offers.
using Block = double __attribute__((vector_size(kLuBlock * sizeof(double))));
using BlockMask = std::int64_t __attribute__((vector_size(kLuBlock * sizeof(std::int64_t))));
constexpr BlockMask kLaneOffsets = {0, 1, 2, 3, 4, 5, 6, 7};
static_assert(kLuBlock == 8);

// rows[i] -= multipliers[i] * top for the rows i > k, block by block from the block holding
// row k + 1; the other rows of a block keep their values. Every lane is computed and the kept
// ones blended back, so each block is one vector operation. (Blocks never cross a call: the
// helpers are always inlined.)
[[gnu::always_inline]] inline void eliminate_below(double* rows, const double* multipliers,
                                                   double top, std::size_t k, std::size_t stride) {
  const auto last_kept = static_cast<std::int64_t>(k);
  for (std::size_t b = (k + 1) / kLuBlock * kLuBlock; b < stride; b += kLuBlock) {
    Block current;
    Block multiplier;
    std::memcpy(&current, rows + b, sizeof current);
    std::memcpy(&multiplier, multipliers + b, sizeof multiplier);
    const Block updated = current - multiplier * top;
    const Block blended =
        kLaneOffsets + static_cast<std::int64_t>(b) > last_kept ? updated : current;
    std::memcpy(rows + b, &blended, sizeof blended);
  }
}

// column[i] /= diagonal for the rows i > k, block by block as above.
[[gnu::always_inline]] inline void divide_below(double* column, double diagonal, std::size_t k,
                                                std::size_t stride) {
  const auto last_kept = static_cast<std::int64_t>(k);
  for (std::size_t b = (k + 1) / kLuBlock * kLuBlock; b < stride; b += kLuBlock) {
    Block current;
    std::memcpy(&current, column + b, sizeof current);
    const Block quotient = current / diagonal;
    const Block blended =
        kLaneOffsets + static_cast<std::int64_t>(b) > last_kept ? quotient : current;
    std::memcpy(column + b, &blended, sizeof blended);
  }
}

// Step k of the elimination below the diagonal, column by column, carrying the right-hand side
// (column m) along: its rows are swapped with the others and take the same updates, which is the
// forward substitution of the permuted right-hand side with each unknown taking its terms in
// ascending column order. False on a zero pivot.
[[gnu::always_inline]] inline bool eliminate_column(double* a, std::size_t m, std::size_t stride,
                                                    std::size_t k) {
  double* column = a + k * stride;
  std::size_t pivot_row = k;
  double largest = std::fabs(column[k]);
  for (std::size_t i = k + 1; i < m; ++i) {
    const double magnitude = std::fabs(column[i]);
    const bool larger = magnitude > largest;
    largest = larger ? magnitude : largest;
    pivot_row = larger ? i : pivot_row;
  }
  if (largest == 0.0) return false;
  if (pivot_row != k) {
    for (std::size_t j = 0; j <= m; ++j) std::swap(a[j * stride + k], a[j * stride + pivot_row]);
  }
  divide_below(column, column[k], k, stride);
  for (std::size_t j = k + 1; j <= m; ++j) {
    double* target = a + j * stride;
    eliminate_below(target, column, target[k], k, stride);
  }
  return true;
}

ZV_VECTOR_CLONES bool eliminate(double* a, std::size_t m, std::size_t stride) {
  for (std::size_t k = 0; k < m; ++k) {
    if (!eliminate_column(a, m, stride, k)) return false;
  }
  return true;
}

// Two systems of one size, step by step in turn: each step waits mostly on the one before it in
// its own system, so the processor works on both at once.
ZV_VECTOR_CLONES void eliminate_both(double* a, bool& a_regular, double* b, bool& b_regular,
                                     std::size_t m, std::size_t stride) {
  a_regular = true;
  b_regular = true;
  for (std::size_t k = 0; k < m; ++k) {
    if (a_regular) a_regular = eliminate_column(a, m, stride, k);
    if (b_regular) b_regular = eliminate_column(b, m, stride, k);
  }
}

// Row i of the back substitution, its terms in ascending column order.
[[gnu::always_inline]] inline void substitute_row(const LinearSystem& system, double* x,
                                                  std::size_t i) {
  const std::size_t m = system.size();
  double sum = x[i];
  for (std::size_t j = i + 1; j < m; ++j) sum -= system(i, j) * x[j];
  x[i] = sum / system(i, i);
}

}  // namespace

void LinearSystem::reset(std::size_t m) {
  m_ = m;
  stride_ = (m + kLuBlock - 1) / kLuBlock * kLuBlock;
  const std::size_t needed = (m + 1) * stride_ + kAlignDoubles;
  if (storage_.size() < needed) storage_.resize(needed);
  const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
  const std::size_t skip = (64 - address % 64) % 64 / sizeof(double);
  base_ = storage_.data() + skip;
  for (std::size_t c = 0; c <= m; ++c) std::fill(column(c) + m, column(c) + stride_, 0.0);
}

bool solve_in_place(LinearSystem& system, std::vector<double>& x) {
  const std::size_t m = system.size();
  if (!eliminate(system.column(0), m, system.stride())) return false;
  x.assign(system.rhs(), system.rhs() + m);
  for (std::size_t i = m; i-- > 0;) substitute_row(system, x.data(), i);
  return true;
}

std::pair<bool, bool> solve_both_in_place(LinearSystem& a, std::vector<double>& x_a,
                                          LinearSystem& b, std::vector<double>& x_b) {
  const std::size_t m = a.size();
  if (b.size() != m) return {solve_in_place(a, x_a), solve_in_place(b, x_b)};
  bool a_regular = false;
  bool b_regular = false;
  eliminate_both(a.column(0), a_regular, b.column(0), b_regular, m, a.stride());
  if (!a_regular || !b_regular) {
    // Rare: finish the regular one alone.
    if (a_regular) x_a.assign(a.rhs(), a.rhs() + m);
    if (b_regular) x_b.assign(b.rhs(), b.rhs() + m);
    for (std::size_t i = m; i-- > 0;) {
      if (a_regular) substitute_row(a, x_a.data(), i);
      if (b_regular) substitute_row(b, x_b.data(), i);
    }
    return {a_regular, b_regular};
  }
  x_a.assign(a.rhs(), a.rhs() + m);
  x_b.assign(b.rhs(), b.rhs() + m);
  for (std::size_t i = m; i-- > 0;) {
    substitute_row(a, x_a.data(), i);
    substitute_row(b, x_b.data(), i);
  }
  return {true, true};
}

}  // namespace zorvatools
