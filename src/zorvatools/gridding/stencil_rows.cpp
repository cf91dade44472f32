#include "zorvatools/gridding/stencil_rows.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace zorvatools {
namespace {

struct Assembly {
  std::int64_t nx, ny;
  std::span<const std::int32_t> node_fixed;
  std::span<const std::int32_t> node_free;
  bool keep_couplings;
  std::vector<StencilCoupling>* couplings;
  std::vector<std::pair<std::uint32_t, double>> entries;  // the current row: (column, value)

  // One weighted tap: z(i) = 2 z(i + 1) - z(i + 2) before the first node, mirrored after the
  // last; i first, then j.
  void accumulate(std::int64_t i, std::int64_t j, double weight) {
    if (i < 0) {
      accumulate(i + 1, j, 2 * weight);
      accumulate(i + 2, j, -weight);
    } else if (i >= nx) {
      accumulate(i - 1, j, 2 * weight);
      accumulate(i - 2, j, -weight);
    } else if (j < 0) {
      accumulate(i, j + 1, 2 * weight);
      accumulate(i, j + 2, -weight);
    } else if (j >= ny) {
      accumulate(i, j - 1, 2 * weight);
      accumulate(i, j - 2, -weight);
    } else {
      const auto node = static_cast<std::size_t>(i * ny + j);
      if (const std::int32_t fixed = node_fixed[node]; fixed >= 0) {
        if (keep_couplings) couplings->push_back({fixed, weight});
      } else {
        // Repeated taps (from edge extrapolation) sum into one entry, in tap order.
        const auto col = static_cast<std::uint32_t>(node_free[node]);
        auto entry = std::find_if(entries.begin(), entries.end(),
                                  [col](const auto& e) { return e.first == col; });
        if (entry == entries.end()) {
          entries.emplace_back(col, weight);
        } else {
          entry->second += weight;
        }
      }
    }
  }
};

}  // namespace

StencilWeights StencilWeights::at_level(unsigned level) {
  const double b = 0.75 / std::ldexp(1.0, 2 * static_cast<int>(level));
  const double t = 0.25;
  return {20 * b + 4 * t, -8 * b - t, 2 * b, b};
}

StencilSystem assemble_stencil(std::size_t nx, std::size_t ny, const StencilWeights& weights,
                               std::span<const std::int32_t> node_fixed,
                               std::span<const std::int32_t> node_free,
                               std::span<const std::size_t> free_nodes, bool keep_couplings) {
  const struct {
    int di, dj;
    double weight;
  } taps[13] = {
      {0, 0, weights.centre},                                // centre
      {0, 1, weights.axis},      {0, -1, weights.axis},      // axis
      {1, 0, weights.axis},      {-1, 0, weights.axis},      //
      {1, 1, weights.diagonal},  {-1, 1, weights.diagonal},  // diagonal
      {1, -1, weights.diagonal}, {-1, -1, weights.diagonal},  //
      {0, 2, weights.axis2},     {0, -2, weights.axis2},     // axis, distance 2
      {2, 0, weights.axis2},     {-2, 0, weights.axis2},     //
  };
  const std::size_t n = free_nodes.size();
  StencilSystem system;
  system.rows.n = n;
  system.rows.start.reserve(n + 1);
  system.rows.column.reserve(n * std::size(taps));
  system.rows.value.reserve(n * std::size(taps));
  system.rows.start.push_back(0);
  if (keep_couplings) {
    system.coupling_start.reserve(n + 1);
    system.coupling_start.push_back(0);
  }
  Assembly assembly{static_cast<std::int64_t>(nx), static_cast<std::int64_t>(ny), node_fixed,
                    node_free, keep_couplings, &system.couplings, {}};
  assembly.entries.reserve(std::size(taps));
  for (std::size_t row = 0; row < n; ++row) {
    const auto i = static_cast<std::int64_t>(free_nodes[row] / ny);
    const auto j = static_cast<std::int64_t>(free_nodes[row] % ny);
    assembly.entries.clear();
    for (const auto& tap : taps) assembly.accumulate(i + tap.di, j + tap.dj, tap.weight);
    std::sort(assembly.entries.begin(), assembly.entries.end());
    for (const auto& [col, value] : assembly.entries) {
      system.rows.column.push_back(static_cast<std::int32_t>(col));
      system.rows.value.push_back(value);
      const std::size_t distance = col > row ? col - row : row - col;
      system.half_bandwidth = std::max(system.half_bandwidth, distance);
    }
    system.rows.start.push_back(static_cast<std::int64_t>(system.rows.column.size()));
    if (keep_couplings) system.coupling_start.push_back(system.couplings.size());
  }
  return system;
}

}  // namespace zorvatools
