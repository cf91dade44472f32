#include "zorvatools/gridding/band_lu.hpp"

#include <algorithm>
#include <cmath>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {
namespace {

// Pivot rows eliminated together: each row below is updated by the whole block while it sits in
// cache. Every entry still receives its updates in pivot order, so the factors are exactly those
// of plain row-by-row elimination.
constexpr std::size_t kPivotBlock = 16;

bool pivot_ok(double pivot, double tolerance) {
  return std::isfinite(pivot) && std::fabs(pivot) > tolerance;
}

// row[c] -= m * pivot_row[c] for c in [0, len).
void subtract_scaled(double* __restrict row, const double* __restrict pivot_row, double m,
                     std::size_t len) {
  for (std::size_t c = 0; c < len; ++c) row[c] -= m * pivot_row[c];
}

bool factor_in_place(BandLu& lu) {
  const std::size_t n = lu.n;
  const std::size_t b = lu.b;
  const std::size_t w = lu.w;
  double* a = lu.values.data();
  // Entry (r, c) of the band; valid for |c - r| <= b.
  auto at = [a, w, b](std::size_t r, std::size_t c) -> double* { return a + r * w + b + c - r; };

  double largest_diagonal = 0;
  for (std::size_t r = 0; r < n; ++r) {
    largest_diagonal = std::max(largest_diagonal, std::fabs(*at(r, r)));
  }
  const double tolerance = kPivotTolerance * largest_diagonal;

  for (std::size_t r0 = 0; r0 < n; r0 += kPivotBlock) {
    const std::size_t r1 = std::min(n, r0 + kPivotBlock);
    if (!pivot_ok(*at(r0, r0), tolerance)) return false;
    const std::size_t last_row = std::min(n - 1, r1 - 1 + b);
    for (std::size_t i = r0 + 1; i <= last_row; ++i) {
      const std::size_t r_lo = std::max(r0, i > b ? i - b : 0);
      const std::size_t r_hi = std::min(i - 1, r1 - 1);
      for (std::size_t r = r_lo; r <= r_hi; ++r) {
        double* entry = at(i, r);
        const double m = *entry / *at(r, r);
        if (!std::isfinite(m)) return false;
        *entry = m;
        if (m == 0) continue;
        const std::size_t last_col = std::min(n - 1, r + b);
        subtract_scaled(at(i, r + 1), at(r, r + 1), m, last_col - r);
      }
      if (i < r1 && !pivot_ok(*at(i, i), tolerance)) return false;
    }
  }
  return true;
}

}  // namespace

void BandLu::solve_in_place(std::span<double> x) const {
  require(x.size() == n, "band solve: right-hand side length mismatch");
  const double* a = values.data();
  for (std::size_t r = 0; r < n; ++r) {
    const std::size_t lo = r > b ? r - b : 0;
    const double* row = a + r * w + b - r;  // row[c] is entry (r, c)
    double s = x[r];
    for (std::size_t c = lo; c < r; ++c) s -= row[c] * x[c];
    x[r] = s;
  }
  for (std::size_t r = n; r-- > 0;) {
    const std::size_t hi = std::min(n - 1, r + b);
    const double* row = a + r * w + b - r;
    double s = x[r];
    for (std::size_t c = r + 1; c <= hi; ++c) s -= row[c] * x[c];
    x[r] = s / row[r];
  }
}

std::optional<BandLu> build_and_factor(const SparseEntries& entries, std::size_t n, std::size_t b,
                                       double shift) {
  BandLu lu{n, b, 2 * b + 1, {}};
  lu.values.assign(n * lu.w, 0.0);
  for (const auto& [key, value] : entries) {
    const std::size_t row = entry_row(key);
    const std::size_t col = entry_col(key);
    require(row < n && col < n && (row > col ? row - col : col - row) <= b,
            "band entry outside the band");
    lu.values[row * lu.w + b + col - row] = value;
  }
  if (shift != 0) {
    for (std::size_t r = 0; r < n; ++r) lu.values[r * lu.w + b] += shift;
  }
  if (!factor_in_place(lu)) return std::nullopt;
  return lu;
}

}  // namespace zorvatools
