#pragma once
// Sequential Gaussian simulation of one areal layer: conditioning data honoured at their nodes,
// the data's distribution reproduced through normal scores, the variogram's correlation through
// local simple kriging along a random path. The result depends only on the inputs and the seed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "zorvatools/foundation/array2d.hpp"
#include "zorvatools/foundation/error.hpp"
#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/geostat/variogram.hpp"

namespace zorvatools {

struct SgsParams {
  std::size_t max_neighbours = 16;           // neighbours used per node, >= 1
  double radius_m = 0;                       // search radius, finite and > 0
  std::optional<Array2D<double>> secondary;  // collocated secondary, nx x ny, NaN where undefined
  double collocated_rho = 0;                 // primary-secondary correlation in normal-score space
  Variogram variogram;
};

struct ConditioningDatum {
  double x = 0;
  double y = 0;
  double value = 0;
};

// One simulated value per lattice node, element (i, j) for node (i, j), in data units. The data
// are non-empty with finite values (the caller's invariant). Data with non-finite positions or
// off the lattice are dropped, though their values still shape the transform; the first datum
// on a node represents it.
[[nodiscard]] AlgoResult<Array2D<double>> sgs_seeded(std::span<const ConditioningDatum> data,
                                                     const Lattice& lattice,
                                                     const SgsParams& params, std::uint64_t seed);

}  // namespace zorvatools
