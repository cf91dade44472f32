#include "zorvatools/geostat/local_kriging.hpp"

#include <cmath>
#include <numeric>
#include <utility>

namespace zorvatools {

namespace {

// In-place LU with partial pivoting (largest magnitude at or below the diagonal, the upper row
// on ties; whole rows swapped, multipliers kept below the diagonal). False on an exactly zero
// pivot.
// Row updates are independent lanes, so the elimination vectorises.
__attribute__((target_clones("avx512f", "avx2", "default"))) bool lu_decompose(
    std::vector<double>& a, std::vector<std::size_t>& pivots, std::size_t m) {
  pivots.resize(m);
  std::iota(pivots.begin(), pivots.end(), std::size_t{0});
  for (std::size_t k = 0; k < m; ++k) {
    std::size_t pivot_row = k;
    double largest = std::fabs(a[k * m + k]);
    for (std::size_t i = k + 1; i < m; ++i) {
      const double magnitude = std::fabs(a[i * m + k]);
      if (magnitude > largest) {
        largest = magnitude;
        pivot_row = i;
      }
    }
    if (largest == 0.0) return false;
    if (pivot_row != k) {
      for (std::size_t j = 0; j < m; ++j) std::swap(a[k * m + j], a[pivot_row * m + j]);
      std::swap(pivots[k], pivots[pivot_row]);
    }
    const double diagonal = a[k * m + k];
    for (std::size_t i = k + 1; i < m; ++i) {
      double* __restrict row = &a[i * m];
      const double* __restrict top = &a[k * m];
      const double factor = row[k] / diagonal;
      row[k] = factor;
      for (std::size_t j = k + 1; j < m; ++j) row[j] -= factor * top[j];
    }
  }
  return true;
}

// Forward then back substitution with the permuted right-hand side.
void lu_solve(const std::vector<double>& a, const std::vector<std::size_t>& pivots,
              const std::vector<double>& rhs, std::vector<double>& x, std::size_t m) {
  x.resize(m);
  for (std::size_t i = 0; i < m; ++i) {
    double sum = rhs[pivots[i]];
    for (std::size_t j = 0; j < i; ++j) sum -= a[i * m + j] * x[j];
    x[i] = sum;
  }
  for (std::size_t i = m; i-- > 0;) {
    double sum = x[i];
    for (std::size_t j = i + 1; j < m; ++j) sum -= a[i * m + j] * x[j];
    x[i] = sum / a[i * m + i];
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
