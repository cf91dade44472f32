#pragma once
// Minimum-curvature gridding: scattered depth samples into a full depth grid on a lattice, the
// smoothest surface (with tension 0.25) that passes through the samples. A direct banded solve,
// with an iterative relaxation from a seed surface when the direct system is singular.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "zorvatools/foundation/array2d.hpp"
#include "zorvatools/foundation/error.hpp"
#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/gridding/mincurv_operator.hpp"

namespace zorvatools {

struct Sample {
  double x = 0;
  double y = 0;
  double z = 0;
};

struct NodeIJ {
  std::size_t i = 0;
  std::size_t j = 0;
  friend bool operator==(const NodeIJ&, const NodeIJ&) = default;
};

// The node a sample snaps to (nearest, halves away from zero), or nothing when the sample is
// non-finite, the lattice mapping is undefined, or the node lies off the lattice.
std::optional<NodeIJ> classify_sample(const Lattice& lattice, double x, double y);

// Anchors of the samples that snap to a node; each anchor's value is the mean of its samples.
AnchorSet collect_anchors(std::span<const Sample> samples, const Lattice& lattice);

// Keeps the factored system (or the fact that it is singular) of one anchor layout, so repeated
// solves with the same anchor nodes cost a substitution instead of a factorisation. The
// right-hand side is rebuilt from the anchor values on every solve.
struct MinCurvatureCache {
  std::uint64_t nx = 0;
  std::uint64_t ny = 0;
  std::vector<std::size_t> anchor_nodes;
  MinCurvatureOptions options;
  std::optional<AlgoResult<MinCurvatureOperator>> factored;  // empty until a direct solve ran
};

// Grid of `samples` on `lattice`, indexed [i][j] with shape (nx, ny). `seed` starts the fallback
// relaxation when its shape is (nx, ny), which also serves when the anchors cannot pin the
// surface. Fails when there is no sample at all, and when the direct system does not fit in
// memory (a clear error naming the lattice, checked before the memory is taken). With a cache,
// an unchanged anchor layout reuses the factorisation; results are bit-identical.
AlgoResult<Array2D<double>> grid_min_curvature(std::span<const Sample> samples,
                                               const Lattice& lattice, const Array2D<double>& seed,
                                               MinCurvatureCache* cache = nullptr,
                                               const MinCurvatureOptions& options = {});

}  // namespace zorvatools
