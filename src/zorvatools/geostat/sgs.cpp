#include "zorvatools/geostat/sgs.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <vector>

#include "zorvatools/foundation/try.hpp"
#include "zorvatools/geostat/chacha12.hpp"
#include "zorvatools/geostat/collocated_secondary.hpp"
#include "zorvatools/geostat/lattice_neighbours.hpp"
#include "zorvatools/geostat/lattice_offsets.hpp"
#include "zorvatools/geostat/local_kriging.hpp"
#include "zorvatools/geostat/nscore.hpp"
#include "zorvatools/geostat/offset_correlations.hpp"
#include "zorvatools/geostat/sgs_scratch.hpp"
#include "zorvatools/geostat/shuffle.hpp"
#include "zorvatools/geostat/ziggurat_normal.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvatools {

namespace {

AlgoResult<void> check_params(const Lattice& lattice, const SgsParams& params) {
  if (params.max_neighbours < 1 || !std::isfinite(params.radius_m) || !(params.radius_m > 0)) {
    return std::unexpected(
        AlgoError::invalid_argument("sgs: need max_neighbours >= 1 and radius > 0"));
  }
  // Informed nodes are numbered in 32 bits.
  constexpr std::uint64_t kMaxNodes = std::numeric_limits<std::uint32_t>::max();
  if (lattice.ny != 0 && lattice.nx > kMaxNodes / lattice.ny) {
    return std::unexpected(AlgoError::invalid_argument(
        str_cat("sgs: a lattice of ", lattice.nx, " x ", lattice.ny,
                " nodes is more than the simulation can hold (", kMaxNodes, " nodes)")));
  }
  if (!node_positions_finite(lattice)) {
    return std::unexpected(AlgoError::invalid_argument(
        "sgs: lattice node coordinates must be finite and below 1e150 in magnitude"));
  }
  if (params.secondary) {
    if (!params.secondary->same_shape(lattice.nx, lattice.ny)) {
      return std::unexpected(AlgoError::invalid_argument(
          "sgs: collocated secondary shape must match the lattice (ncol, nrow)"));
    }
    // A NaN correlation would turn every node into NaN; beyond +-1 the systems stop being
    // covariance matrices.
    if (!(std::fabs(params.collocated_rho) <= 1.0)) {
      return std::unexpected(
          AlgoError::invalid_argument("sgs: collocated_rho must be finite and within [-1, 1]"));
    }
  }
  return {};
}

// Places the data on their nearest nodes. The first datum on a node represents it, both in the
// neighbour search and in the output, so the two never disagree.
void place_data(std::span<const ConditioningDatum> data, const Lattice& lattice,
                const NormalScore& transform, LatticeNeighbours& neighbours) {
  const auto nx = static_cast<double>(lattice.nx);
  const auto ny = static_cast<double>(lattice.ny);
  for (const ConditioningDatum& datum : data) {
    if (!std::isfinite(datum.x) || !std::isfinite(datum.y)) continue;
    const auto ij = lattice.xy_to_ij(datum.x, datum.y);
    if (!ij) continue;
    const double fi = round_half_away(ij->first);
    const double fj = round_half_away(ij->second);
    if (!(fi >= 0 && fi < nx && fj >= 0 && fj < ny)) continue;
    const auto i = static_cast<std::size_t>(fi);
    const auto j = static_cast<std::size_t>(fj);
    if (!neighbours.informed(i, j)) neighbours.inform(i, j, transform.forward(datum.value));
  }
}

// The correlations by lattice offset, where the lattice gives exact lags: two neighbours of a node
// lie at most twice the search's reach apart. Nothing when the table would take more than 32 MiB.
std::optional<OffsetCorrelations> offset_table(const Correlation& correlation,
                                               const LatticeNeighbours& neighbours,
                                               const Lattice& lattice) {
  constexpr std::size_t kMaxEntries = std::size_t{1} << 22;
  if (lattice.nx == 0 || lattice.ny == 0) return std::nullopt;
  return OffsetCorrelations::build(correlation, neighbours.along_i(), neighbours.along_j(),
                                   std::min<std::size_t>(2 * neighbours.reach_i(), lattice.nx - 1),
                                   std::min<std::size_t>(2 * neighbours.reach_j(), lattice.ny - 1),
                                   kMaxEntries);
}

// The informed nodes nearest node (i, j) as kriging neighbours; the slot of node `watched` among
// them, or the largest size_t when it is not among them.
std::size_t gather_neighbours(LatticeNeighbours& neighbours, std::size_t i, std::size_t j,
                              std::size_t watched, SkScratch& kriging) {
  std::size_t slot = std::numeric_limits<std::size_t>::max();
  const Point2 at = neighbours.position(i, j);
  kriging.neighbours.clear();
  for (const LatticeNeighbours::Hit& hit : neighbours.nearest(i, j)) {
    if (hit.node == watched) slot = kriging.neighbours.size();
    const Point2 p = hit.position;
    // Offsets only matter within the table, whose reach fits 32 bits.
    const auto di =
        static_cast<std::int32_t>(static_cast<std::int64_t>(hit.i) - static_cast<std::int64_t>(i));
    const auto dj =
        static_cast<std::int32_t>(static_cast<std::int64_t>(hit.j) - static_cast<std::int64_t>(j));
    kriging.neighbours.push_back({p.x, p.y, p.x - at.x, p.y - at.y, hit.value, di, dj});
  }
  return slot;
}

}  // namespace

AlgoResult<Array2D<double>> sgs_seeded(std::span<const ConditioningDatum> data,
                                       const Lattice& lattice, const SgsParams& params,
                                       std::uint64_t seed) {
  ZV_TRY(check_params(lattice, params));
  ZV_ASSIGN_OR_RETURN(const Variogram variogram, validated(params.variogram));
  const Correlation correlation(variogram);
  std::optional<Array2D<double>> secondary;
  if (params.secondary) secondary = standardised_secondary(*params.secondary);

  // The transform is fitted on every value, also those of data that will not be placed.
  std::vector<double> values;
  values.reserve(data.size());
  for (const ConditioningDatum& datum : data) values.push_back(datum.value);
  const NormalScore transform = NormalScore::fit(values);

  const std::size_t nx = lattice.nx;
  const std::size_t ny = lattice.ny;
  SgsScratch scratch(lattice, params.radius_m * params.radius_m, params.max_neighbours);
  LatticeNeighbours& neighbours = scratch.neighbours;
  place_data(data, lattice, transform, neighbours);
  const std::optional<OffsetCorrelations> by_offset =
      offset_table(correlation, neighbours, lattice);

  auto& path = scratch.path;
  for (std::size_t j = 0; j < ny; ++j) {
    for (std::size_t i = 0; i < nx; ++i) {
      if (!neighbours.informed(i, j)) path.emplace_back(i, j);
    }
  }
  ChaCha12 rng = ChaCha12::from_seed(seed);
  shuffle_from_end(std::span(path), rng);

  auto collocated_at = [&](std::size_t i, std::size_t j) -> std::optional<Collocated> {
    if (secondary && std::isfinite((*secondary)(i, j))) {
      return Collocated{(*secondary)(i, j), params.collocated_rho};
    }
    return std::nullopt;
  };
  const OffsetCorrelations* table = by_offset ? &*by_offset : nullptr;
  // One deviate per node, also when the deviation is 0, so the stream's position depends only on
  // the path length.
  auto draw = [&](const SkEstimate& estimate) {
    return estimate.mean + estimate.std_dev * ziggurat_normal(rng);
  };

  // Path nodes go two at a time. A node's kriging system depends only on which nodes are
  // informed, not on their values: the second node is searched with the first informed but not
  // yet valued, both systems are solved together (their long chains of dependent operations
  // overlap), and the values follow in path order, the first's before the second's estimate.
  SkScratch& first = scratch.kriging;
  SkScratch& second = scratch.second_kriging;
  constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  for (std::size_t step = 0; step < path.size(); step += 2) {
    const auto [ia, ja] = path[step];
    const bool pair = step + 1 < path.size();
    // The path jumps about the lattice: what the next search reads starts loading now.
    if (pair) neighbours.prefetch_around(path[step + 1].first, path[step + 1].second);
    gather_neighbours(neighbours, ia, ja, kNone, first);
    const std::optional<Collocated> collocated_a = collocated_at(ia, ja);
    const bool system_a = assemble_system(correlation, table, collocated_a, first);
    if (!pair) {
      const bool solved = system_a && solve_in_place(first.system, first.weights);
      neighbours.inform(
          ia, ja, draw(solved ? estimate_from_weights(collocated_a, first) : SkEstimate{0.0, 1.0}));
      break;
    }

    neighbours.inform(ia, ja, std::numeric_limits<double>::quiet_NaN());
    if (step + 2 < path.size()) {
      neighbours.prefetch_around(path[step + 2].first, path[step + 2].second);
    }
    const auto [ib, jb] = path[step + 1];
    const std::size_t slot_of_a =
        gather_neighbours(neighbours, ib, jb, neighbours.node(ia, ja), second);
    const std::optional<Collocated> collocated_b = collocated_at(ib, jb);
    const bool system_b = assemble_system(correlation, table, collocated_b, second);
    bool solved_a = false;
    bool solved_b = false;
    if (system_a && system_b) {
      std::tie(solved_a, solved_b) =
          solve_both_in_place(first.system, first.weights, second.system, second.weights);
    } else {
      solved_a = system_a && solve_in_place(first.system, first.weights);
      solved_b = system_b && solve_in_place(second.system, second.weights);
    }
    const double za =
        draw(solved_a ? estimate_from_weights(collocated_a, first) : SkEstimate{0.0, 1.0});
    neighbours.set_value(ia, ja, za);
    if (slot_of_a != kNone) second.neighbours[slot_of_a].value = za;
    neighbours.inform(
        ib, jb,
        draw(solved_b ? estimate_from_weights(collocated_b, second) : SkEstimate{0.0, 1.0}));
  }

  Array2D<double> grid = neighbours.take_values();
  for (double& v : grid.data()) v = transform.back(v);
  return grid;
}

}  // namespace zorvatools
