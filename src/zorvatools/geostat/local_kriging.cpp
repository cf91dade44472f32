#include "zorvatools/geostat/local_kriging.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace zorvatools {

namespace {

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

// The neighbours' block of the system, and their correlations with the node into b.
void fill_from_lags(const Correlation& correlation, SkScratch& scratch) {
  const std::size_t n = scratch.neighbours.size();
  LinearSystem& k = scratch.system;
  evaluate_correlations(correlation, scratch);
  const double* rho = scratch.lag_rho.data();
  for (std::size_t i = 0; i < n; ++i) {
    k(i, i) = 1.0;
    // rho is even in the lag, so one evaluation fills both triangles.
    for (std::size_t j = i + 1; j < n; ++j, ++rho) {
      k(i, j) = *rho;
      k(j, i) = *rho;
    }
  }
  for (std::size_t i = 0; i < n; ++i, ++rho) scratch.rhs[i] = *rho;
}

// The same from the table, column by column: the lag from neighbour i to neighbour j is that of
// their offsets' difference, as the lag from the node to a neighbour is that of its offset.
// The table holds one value for opposite offsets, so both triangles match as above.
void fill_from_table(const OffsetCorrelations& table, SkScratch& scratch) {
  const auto& neighbours = scratch.neighbours;
  const std::size_t n = neighbours.size();
  LinearSystem& k = scratch.system;
  auto& keys = scratch.keys;
  keys.resize(n);
  for (std::size_t i = 0; i < n; ++i) keys[i] = table.key(neighbours[i].di, neighbours[i].dj);
  for (std::size_t j = 0; j < n; ++j) {
    double* column = k.column(j);
    for (std::size_t i = 0; i < n; ++i) column[i] = table.at_key(keys[i] - keys[j]);
    column[j] = 1.0;
    scratch.rhs[j] = table.at_key(keys[j]);
  }
}

}  // namespace

SkEstimate simple_kriging(const Correlation& correlation, std::optional<Collocated> collocated,
                          SkScratch& scratch) {
  return simple_kriging(correlation, nullptr, collocated, scratch);
}

SkEstimate simple_kriging(const Correlation& correlation, const OffsetCorrelations* by_offset,
                          std::optional<Collocated> collocated, SkScratch& scratch) {
  if (!assemble_system(correlation, by_offset, collocated, scratch)) return {0.0, 1.0};
  if (!solve_in_place(scratch.system, scratch.weights)) return {0.0, 1.0};
  return estimate_from_weights(collocated, scratch);
}

bool assemble_system(const Correlation& correlation, const OffsetCorrelations* by_offset,
                     std::optional<Collocated> collocated, SkScratch& scratch) {
  const std::size_t n = scratch.neighbours.size();
  const std::size_t m = collocated ? n + 1 : n;
  if (m == 0) return false;

  LinearSystem& k = scratch.system;
  auto& b = scratch.rhs;
  k.reset(m);
  b.resize(m);
  if (by_offset) {
    fill_from_table(*by_offset, scratch);
  } else if (n > 0) {
    fill_from_lags(correlation, scratch);
  }
  if (collocated) {
    const double r = collocated->rho;
    for (std::size_t i = 0; i < n; ++i) {
      k(i, n) = r * b[i];
      k(n, i) = r * b[i];
    }
    k(n, n) = 1.0;
    b[n] = r;
  }

  std::copy(b.begin(), b.end(), k.rhs());
  return true;
}

SkEstimate estimate_from_weights(std::optional<Collocated> collocated, const SkScratch& scratch) {
  const auto& neighbours = scratch.neighbours;
  const std::size_t n = neighbours.size();
  const auto& b = scratch.rhs;
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
