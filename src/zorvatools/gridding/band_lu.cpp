#include "zorvatools/gridding/band_lu.hpp"

#include <algorithm>
#include <cmath>

#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {
namespace {

// Pivot rows eliminated together: each row below is updated by the whole block while it sits in
// cache. Every entry still receives its updates in pivot order, so the factors are exactly those
// of plain row-by-row elimination.
constexpr std::size_t kPivotBlock = 32;
// Pivot blocks between polls of the current call: about a millisecond of work on the widest
// bands the driver chooses, so a stop lands long before a person notices.
constexpr std::size_t kBlocksPerPoll = 2;

bool pivot_ok(double pivot, double tolerance) {
  return std::isfinite(pivot) && std::fabs(pivot) > tolerance;
}

// Pivots applied to one row in a single pass over it.
constexpr std::size_t kPivotGroup = 4;

// row[c] -= m[0] * p[0][c], then m[1] * p[1][c], ... for c in [0, len): each entry receives the
// pivots' updates in order, each rounded on its own.
template <std::size_t K>
void subtract_pivots(double* __restrict row, const double* const* p, const double* m,
                     std::size_t len) {
  const double* __restrict p0 = p[0];
  if constexpr (K == 1) {
    for (std::size_t c = 0; c < len; ++c) row[c] -= m[0] * p0[c];
  } else if constexpr (K == 2) {
    const double* __restrict p1 = p[1];
    for (std::size_t c = 0; c < len; ++c) {
      double v = row[c];
      v -= m[0] * p0[c];
      v -= m[1] * p1[c];
      row[c] = v;
    }
  } else if constexpr (K == 3) {
    const double* __restrict p1 = p[1];
    const double* __restrict p2 = p[2];
    for (std::size_t c = 0; c < len; ++c) {
      double v = row[c];
      v -= m[0] * p0[c];
      v -= m[1] * p1[c];
      v -= m[2] * p2[c];
      row[c] = v;
    }
  } else {
    const double* __restrict p1 = p[1];
    const double* __restrict p2 = p[2];
    const double* __restrict p3 = p[3];
    for (std::size_t c = 0; c < len; ++c) {
      double v = row[c];
      v -= m[0] * p0[c];
      v -= m[1] * p1[c];
      v -= m[2] * p2[c];
      v -= m[3] * p3[c];
      row[c] = v;
    }
  }
}

// The band in place, entry (r, c) valid for |c - r| <= b.
class BandView {
 public:
  explicit BandView(BandLu& lu) : a_(lu.values.data()), n_(lu.n), b_(lu.b), w_(lu.w) {}

  double* at(std::size_t r, std::size_t c) const { return a_ + r * w_ + b_ + c - r; }
  // Last column that pivot r updates.
  std::size_t last_col(std::size_t r) const { return std::min(n_ - 1, r + b_); }

  // Eliminates entries (i, r) .. (i, r + k - 1) of row i with pivots r .. r + k - 1 (k <= 4),
  // storing the multipliers; false on a non-finite multiplier.
  bool eliminate_group(std::size_t i, std::size_t r, std::size_t k) const {
    const std::size_t group_last = r + k - 1;
    double m[kPivotGroup];
    const double* pivot_rows[kPivotGroup];
    std::size_t reach[kPivotGroup];  // last column each active pivot updates
    std::size_t active = 0;
    for (std::size_t p = 0; p < k; ++p) {
      const std::size_t rp = r + p;
      double* entry = at(i, rp);
      const double mp = *entry / *at(rp, rp);
      if (!std::isfinite(mp)) return false;
      *entry = mp;
      if (mp == 0) continue;  // a zero multiplier leaves the row untouched
      // Entries of the group's own columns first: the later multipliers read them.
      const std::size_t triangle_end = std::min(group_last, last_col(rp));
      for (std::size_t c = rp + 1; c <= triangle_end; ++c) *at(i, c) -= mp * *at(rp, c);
      m[active] = mp;
      pivot_rows[active] = at(rp, 0);  // pivot_rows[q][c] is entry (rp, c)
      reach[active] = last_col(rp);
      ++active;
    }
    if (active == 0) return true;
    // Columns past the group up to the first pivot's reach: every active pivot applies.
    const std::size_t first = group_last + 1;
    const std::size_t common_end = last_col(r);
    if (first <= common_end) {
      const double* rows[kPivotGroup];
      for (std::size_t q = 0; q < active; ++q) rows[q] = pivot_rows[q] + first;
      double* row = at(i, first);
      const std::size_t len = common_end - first + 1;
      switch (active) {
        case 1:
          subtract_pivots<1>(row, rows, m, len);
          break;
        case 2:
          subtract_pivots<2>(row, rows, m, len);
          break;
        case 3:
          subtract_pivots<3>(row, rows, m, len);
          break;
        default:
          subtract_pivots<4>(row, rows, m, len);
          break;
      }
    }
    // The few columns that only the later pivots reach.
    const std::size_t tail_start = std::max(first, common_end + 1);
    const std::size_t tail_end = last_col(group_last);
    for (std::size_t c = tail_start; c <= tail_end; ++c) {
      double v = *at(i, c);
      for (std::size_t q = 0; q < active; ++q) {
        if (c <= reach[q]) v -= m[q] * pivot_rows[q][c];
      }
      *at(i, c) = v;
    }
    return true;
  }

 private:
  double* a_;
  std::size_t n_;
  std::size_t b_;
  std::size_t w_;
};

std::expected<void, BandLuFailure> factor_in_place(BandLu& lu) {
  const std::size_t n = lu.n;
  const std::size_t b = lu.b;
  const BandView band(lu);

  double largest_diagonal = 0;
  for (std::size_t r = 0; r < n; ++r) {
    largest_diagonal = std::max(largest_diagonal, std::fabs(*band.at(r, r)));
  }
  const double tolerance = kPivotTolerance * largest_diagonal;

  const auto not_factorable = std::unexpected(BandLuFailure::NotFactorable);
  for (std::size_t r0 = 0; r0 < n; r0 += kPivotBlock) {
    if ((r0 / kPivotBlock) % kBlocksPerPoll == 0 && !poll_call()) {
      return std::unexpected(BandLuFailure::Stopped);
    }
    const std::size_t r1 = std::min(n, r0 + kPivotBlock);
    if (!pivot_ok(*band.at(r0, r0), tolerance)) return not_factorable;
    const std::size_t last_row = std::min(n - 1, r1 - 1 + b);
    for (std::size_t i = r0 + 1; i <= last_row; ++i) {
      // Pivots of this block that reach row i (i <= r + b), in order.
      const std::size_t r_lo = std::max(r0, i > b ? i - b : 0);
      const std::size_t r_end = std::min(i, r1);
      for (std::size_t r = r_lo; r < r_end; r += kPivotGroup) {
        if (!band.eliminate_group(i, r, std::min(kPivotGroup, r_end - r))) return not_factorable;
      }
      if (i < r1 && !pivot_ok(*band.at(i, i), tolerance)) return not_factorable;
    }
  }
  return {};
}

// Adds `shift` to every diagonal entry when it is non-zero, and factors.
std::expected<BandLu, BandLuFailure> shift_and_factor(BandLu lu, double shift) {
  if (shift != 0) {
    for (std::size_t r = 0; r < lu.n; ++r) lu.values[r * lu.w + lu.b] += shift;
  }
  if (auto done = factor_in_place(lu); !done) return std::unexpected(done.error());
  return lu;
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

std::expected<BandLu, BandLuFailure> build_and_factor(const SparseEntries& entries, std::size_t n,
                                                      std::size_t b, double shift) {
  BandLu lu{n, b, 2 * b + 1, {}};
  lu.values.assign(n * lu.w, 0.0);
  for (const auto& [key, value] : entries) {
    const std::size_t row = entry_row(key);
    const std::size_t col = entry_col(key);
    require(row < n && col < n && (row > col ? row - col : col - row) <= b,
            "band entry outside the band");
    lu.values[row * lu.w + b + col - row] = value;
  }
  return shift_and_factor(std::move(lu), shift);
}

std::expected<BandLu, BandLuFailure> build_and_factor(const CompressedRows& rows, std::size_t b,
                                                      double shift) {
  const std::size_t n = rows.n;
  BandLu lu{n, b, 2 * b + 1, {}};
  lu.values.assign(n * lu.w, 0.0);
  for (std::size_t row = 0; row < n; ++row) {
    for (auto p = rows.start[row]; p < rows.start[row + 1]; ++p) {
      const auto col = static_cast<std::size_t>(rows.column[p]);
      require((row > col ? row - col : col - row) <= b, "band entry outside the band");
      lu.values[row * lu.w + b + col - row] = rows.value[p];
    }
  }
  return shift_and_factor(std::move(lu), shift);
}

}  // namespace zorvatools
