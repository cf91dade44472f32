#pragma once
// The Gaussian step of a property pipeline: each k-layer filled by sequential Gaussian
// simulation conditioned on the upscaled cells.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "zorvastatic/model/trend.hpp"
#include "zorvatools/geostat/variogram.hpp"

namespace zorvastatic {

struct NeighbourSearch {
  std::size_t max_neighbours = 16;
  double radius_m = 0;
};

struct Gaussian {
  std::optional<NeighbourSearch> search;  // absent: 16 neighbours, radius from the ranges
  std::optional<TrendSurface> trend;      // collocated secondary variable
  double collocated_rho = 0;
  zorvatools::Variogram variogram;
  std::uint64_t seed = 0;
  bool allow_mean_fill = false;   // a layer without data takes the global mean
  bool unbounded_search = false;  // the default radius spans the whole lattice
};

// The seed of absolute layer k: seed xor ((k + 1) × 0x9E3779B97F4A7C15), wrapping.
inline std::uint64_t layer_seed(std::uint64_t seed, std::uint64_t k) {
  return seed ^ ((k + 1) * 0x9E3779B97F4A7C15ull);
}

}  // namespace zorvastatic
