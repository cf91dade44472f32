#include "zorvatools/geostat/local_kriging.hpp"

#include <cmath>
#include <numeric>
#include <utility>

namespace zorvatools {

namespace {

// In-place LU with partial pivoting of the m x m matrix `a`, stored column by column
// (a[c * m + r] is row r, column c): largest magnitude at or below the diagonal, the upper row
// on ties; whole rows swapped, multipliers kept below the diagonal. False on an exactly zero
// pivot. Every entry sees the same operations in the same order as in the row-by-row textbook
// loop; by columns, the multipliers' divisions and the updates run as contiguous vector lanes.
__attribute__((target_clones("avx512f", "avx2", "default"))) bool lu_decompose(
    std::vector<double>& a, std::vector<std::size_t>& pivots, std::size_t m) {
  pivots.resize(m);
  std::iota(pivots.begin(), pivots.end(), std::size_t{0});
  for (std::size_t k = 0; k < m; ++k) {
    double* __restrict column = &a[k * m];
    std::size_t pivot_row = k;
    double largest = std::fabs(column[k]);
    for (std::size_t i = k + 1; i < m; ++i) {
      const double magnitude = std::fabs(column[i]);
      if (magnitude > largest) {
        largest = magnitude;
        pivot_row = i;
      }
    }
    if (largest == 0.0) return false;
    if (pivot_row != k) {
      for (std::size_t j = 0; j < m; ++j) std::swap(a[j * m + k], a[j * m + pivot_row]);
      std::swap(pivots[k], pivots[pivot_row]);
    }
    const double diagonal = column[k];
    for (std::size_t i = k + 1; i < m; ++i) column[i] /= diagonal;
    for (std::size_t j = k + 1; j < m; ++j) {
      double* __restrict target = &a[j * m];
      const double top = target[k];
      for (std::size_t i = k + 1; i < m; ++i) target[i] -= column[i] * top;
    }
  }
  return true;
}

// Forward then back substitution with the permuted right-hand side, on the column-stored
// factors. Each unknown takes its terms in ascending column order, as a row-by-row sum would;
// forward, that order lets a whole column update the unknowns below it at once.
void lu_solve(const std::vector<double>& a, const std::vector<std::size_t>& pivots,
              const std::vector<double>& rhs, std::vector<double>& x, std::size_t m) {
  x.resize(m);
  double* __restrict out = x.data();
  for (std::size_t i = 0; i < m; ++i) out[i] = rhs[pivots[i]];
  for (std::size_t j = 0; j < m; ++j) {
    const double* __restrict column = &a[j * m];
    const double known = out[j];
    for (std::size_t i = j + 1; i < m; ++i) out[i] -= column[i] * known;
  }
  for (std::size_t i = m; i-- > 0;) {
    double sum = out[i];
    for (std::size_t j = i + 1; j < m; ++j) sum -= a[j * m + i] * out[j];
    out[i] = sum / a[i * m + i];
  }
}

// Correlations of every neighbour pair (i < j, row by row) followed by those of every neighbour
// with the node, into scratch.lag_rho.
void evaluate_correlations(const Correlation& correlation, SkScratch& scratch) {
  const auto& neighbours = scratch.neighbours;
  const std::size_t n = neighbours.size();
  const std::size_t count = n * (n - 1) / 2 + n;
  scratch.lag_x.resize(count);
  scratch.lag_y.resize(count);
  scratch.lag_rho.resize(count);
  std::size_t at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j, ++at) {
      scratch.lag_x[at] = neighbours[i].x - neighbours[j].x;
      scratch.lag_y[at] = neighbours[i].y - neighbours[j].y;
    }
  }
  for (std::size_t i = 0; i < n; ++i, ++at) {
    scratch.lag_x[at] = neighbours[i].dx;
    scratch.lag_y[at] = neighbours[i].dy;
  }
  correlation.evaluate(scratch.lag_x.data(), scratch.lag_y.data(), count, scratch.lag_rho.data());
}

}  // namespace

SkEstimate simple_kriging(const Correlation& correlation, std::optional<Collocated> collocated,
                          SkScratch& scratch) {
  const auto& neighbours = scratch.neighbours;
  const std::size_t n = neighbours.size();
  const std::size_t m = collocated ? n + 1 : n;
  if (m == 0) return {0.0, 1.0};

  auto& k = scratch.matrix;
  auto& b = scratch.rhs;
  k.resize(m * m);
  b.resize(m);
  if (n > 0) evaluate_correlations(correlation, scratch);
  const double* rho = scratch.lag_rho.data();
  for (std::size_t i = 0; i < n; ++i) {
    k[i * m + i] = 1.0;
    // rho is even in the lag, so one evaluation fills both triangles.
    for (std::size_t j = i + 1; j < n; ++j, ++rho) {
      k[i * m + j] = *rho;
      k[j * m + i] = *rho;
    }
  }
  for (std::size_t i = 0; i < n; ++i, ++rho) b[i] = *rho;
  if (collocated) {
    const double r = collocated->rho;
    for (std::size_t i = 0; i < n; ++i) {
      k[i * m + n] = r * b[i];
      k[n * m + i] = r * b[i];
    }
    k[n * m + n] = 1.0;
    b[n] = r;
  }

  if (!lu_decompose(k, scratch.pivots, m)) return {0.0, 1.0};
  lu_solve(k, scratch.pivots, b, scratch.weights, m);

  const auto& weights = scratch.weights;
  double mean = 0.0;
  double explained = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    mean += weights[i] * neighbours[i].value;
    explained += weights[i] * b[i];
  }
  if (collocated) {
    mean += weights[n] * collocated->value;
    explained += weights[n] * collocated->rho;
  }
  const double variance = 1.0 - explained;
  // Rounding can leave a tiny negative variance; a NaN one gives no spread either.
  return {mean, variance > 0.0 ? std::sqrt(variance) : 0.0};
}

}  // namespace zorvatools
