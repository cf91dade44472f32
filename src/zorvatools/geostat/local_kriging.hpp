#pragma once
// The local simple-kriging solve in normal-score space (global mean 0, variance 1), with an
// optional collocated secondary under the Markov model 1.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "zorvatools/geostat/linear_system.hpp"
#include "zorvatools/geostat/offset_correlations.hpp"
#include "zorvatools/geostat/variogram.hpp"

namespace zorvatools {

struct SkNeighbour {
  double x = 0;  // position
  double y = 0;
  double dx = 0;  // offset from the node being estimated
  double dy = 0;
  double value = 0;     // normal score
  std::int32_t di = 0;  // lattice offset in nodes from the node being estimated, for tables
  std::int32_t dj = 0;
};

// Buffers of one solve, kept between nodes: resized per node, never shrunk.
struct SkScratch {
  std::vector<SkNeighbour> neighbours;  // filled by the caller
  LinearSystem system;                  // m x m, then factorised in place
  std::vector<double> rhs;
  std::vector<double> weights;
  // Lags of every neighbour pair (i < j, row by row) and then of every neighbour from the node,
  // and their correlations: evaluated in one pass before the matrix is filled.
  std::vector<double> lag_x;
  std::vector<double> lag_y;
  std::vector<double> lag_rho;
  std::vector<std::ptrdiff_t> keys;  // each neighbour's entry in a table of offsets
};

// A standardised secondary value at the node and its correlation with the primary.
struct Collocated {
  double value = 0;
  double rho = 0;
};

struct SkEstimate {
  double mean = 0;
  double std_dev = 1;
};

// Conditional mean and standard deviation at the node from `scratch.neighbours`. With nothing
// to condition on, or a singular system, the estimate is mean 0 and deviation 1.
[[nodiscard]] SkEstimate simple_kriging(const Correlation& correlation,
                                        std::optional<Collocated> collocated, SkScratch& scratch);

// The same, with the correlations looked up by the neighbours' lattice offsets (di, dj), which
// must lie within the table's reach (and their differences too); `by_offset` holds exactly
// the values `correlation` gives for the neighbours' lags, so the estimate is the same to the bit.
[[nodiscard]] SkEstimate simple_kriging(const Correlation& correlation,
                                        const OffsetCorrelations* by_offset,
                                        std::optional<Collocated> collocated, SkScratch& scratch);

// The two halves of simple_kriging, for callers that solve two nodes' systems together. The
// system depends on the neighbours' positions alone, their values are read by the estimate.
// Sets up scratch.system with its right-hand side; false when there is nothing to condition on.
[[nodiscard]] bool assemble_system(const Correlation& correlation,
                                   const OffsetCorrelations* by_offset,
                                   std::optional<Collocated> collocated, SkScratch& scratch);
// The estimate from scratch.weights, solved from that system, and the neighbours' values.
[[nodiscard]] SkEstimate estimate_from_weights(std::optional<Collocated> collocated,
                                               const SkScratch& scratch);

}  // namespace zorvatools
