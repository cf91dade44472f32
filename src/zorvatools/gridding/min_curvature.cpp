#include "zorvatools/gridding/min_curvature.hpp"

#include <cmath>
#include <limits>
#include <new>
#include <string>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/try.hpp"
#include "zorvatools/gridding/relaxation.hpp"

namespace zorvatools {

std::optional<NodeIJ> classify_sample(const Lattice& lattice, double x, double y) {
  // xy_to_ij gives nothing for zero spacings and non-finite inputs or results.
  const auto fractional = lattice.xy_to_ij(x, y);
  if (!fractional) return std::nullopt;
  const double i = round_half_away(fractional->first);
  const double j = round_half_away(fractional->second);
  if (i < 0 || j < 0) return std::nullopt;
  if (i >= static_cast<double>(lattice.nx) || j >= static_cast<double>(lattice.ny)) {
    return std::nullopt;
  }
  return NodeIJ{static_cast<std::size_t>(i), static_cast<std::size_t>(j)};
}

AnchorSet collect_anchors(std::span<const Sample> samples, const Lattice& lattice) {
  const std::size_t ny = lattice.ny;
  AnchorSet anchors;
  anchors.node_anchor.assign(lattice.nx * lattice.ny, -1);
  std::vector<std::size_t> counts;
  for (const Sample& s : samples) {
    const auto node_ij = classify_sample(lattice, s.x, s.y);
    if (!node_ij) continue;
    const std::size_t node = node_ij->i * ny + node_ij->j;
    std::int32_t& anchor = anchors.node_anchor[node];
    if (anchor < 0) {
      anchor = static_cast<std::int32_t>(anchors.nodes.size());
      anchors.nodes.push_back(node);
      anchors.values.push_back(0.0);
      counts.push_back(0);
    }
    anchors.values[static_cast<std::size_t>(anchor)] += s.z;
    ++counts[static_cast<std::size_t>(anchor)];
  }
  for (std::size_t a = 0; a < counts.size(); ++a) {
    anchors.values[a] /= static_cast<double>(counts[a]);
  }
  return anchors;
}

namespace {

// The factored operator of this anchor layout, from the cache when it holds the same layout.
AlgoResult<MinCurvatureOperator>& factored_operator(const Lattice& lattice,
                                                    const AnchorSet& anchors,
                                                    const MinCurvatureOptions& options,
                                                    MinCurvatureCache& cache) {
  const bool hit = cache.factored && cache.nx == lattice.nx && cache.ny == lattice.ny &&
                   cache.anchor_nodes == anchors.nodes && cache.options == options;
  if (!hit) {
    cache.factored.reset();
    cache.nx = lattice.nx;
    cache.ny = lattice.ny;
    cache.anchor_nodes = anchors.nodes;
    cache.options = options;
    cache.factored.emplace(
        MinCurvatureOperator::assemble(lattice.nx, lattice.ny, anchors, options));
  }
  return *cache.factored;
}

// Starting surface with the anchors applied, relaxed when the lattice is at least 2x2.
AlgoResult<Array2D<double>> relaxation_fallback(std::span<const Sample> samples,
                                                const Lattice& lattice, const Array2D<double>& seed,
                                                const AnchorSet& anchors) {
  Array2D<double> grid =
      seed.same_shape(lattice.nx, lattice.ny) ? seed : inverse_distance_surface(samples, lattice);
  for (std::size_t a = 0; a < anchors.nodes.size(); ++a) {
    grid.data()[anchors.nodes[a]] = anchors.values[a];
  }
  if (lattice.nx < 2 || lattice.ny < 2) return grid;
  ZV_TRY(relax_min_curvature(grid, anchors.node_anchor));
  return grid;
}

}  // namespace

AlgoResult<Array2D<double>> grid_min_curvature(std::span<const Sample> samples,
                                               const Lattice& lattice, const Array2D<double>& seed,
                                               MinCurvatureCache* cache,
                                               const MinCurvatureOptions& options) {
  if (samples.empty()) {
    return std::unexpected(AlgoError::empty_input("min-curvature gridding needs samples"));
  }
  const AnchorSet anchors = collect_anchors(samples, lattice);
  if (lattice.nx >= 2 && lattice.ny >= 2) {
    MinCurvatureCache local;
    MinCurvatureCache& kept = cache ? *cache : local;
    AlgoResult<MinCurvatureOperator>& op = factored_operator(lattice, anchors, options, kept);
    // A singular system selects the relaxation; any other failure (memory) ends the solve. A
    // stopped factorisation is not kept: the next call factors again.
    if (!op) {
      if (op.error().kind() == AlgoError::Kind::Interrupted) {
        AlgoError stopped = op.error();
        kept.factored.reset();
        return std::unexpected(std::move(stopped));
      }
      if (!is_singular_system(op.error())) return std::unexpected(op.error());
    } else {
      auto grid = op->solve(anchors.values, &seed);
      if (grid || !is_singular_system(grid.error())) return grid;
    }
  }
  try {
    return relaxation_fallback(samples, lattice, seed, anchors);
  } catch (const std::bad_alloc&) {
    return std::unexpected(AlgoError::invalid_argument(
        "minimum-curvature relaxation of lattice " + std::to_string(lattice.nx) + "x" +
        std::to_string(lattice.ny) + " ran out of memory"));
  }
}

}  // namespace zorvatools
