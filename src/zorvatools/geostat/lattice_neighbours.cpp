#include "zorvatools/geostat/lattice_neighbours.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <tuple>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/geostat/exact_lags.hpp"

namespace zorvatools {

namespace {

using Hit = LatticeNeighbours::Hit;

// The most nodes either side of a node that a prefetch asks for.
constexpr std::size_t kMaxPrefetchReach = 6;
// While fewer than one node in this many is informed, the spiral goes block by block.
constexpr std::size_t kSparseShare = 16;
// The most offsets (each standing for up to four signed ones) kept apart by sign.
constexpr std::size_t kMaxExactOffsets = std::size_t{1} << 18;

template <class Found>
bool before(const Found& a, const Found& b) {
  return a.distance2 < b.distance2 || (a.distance2 == b.distance2 && a.index < b.index);
}

// Calls visit(i +- di, j +- dj) for each of the (up to four) distinct positions within
// [0, ni) x [0, nj).
template <class Visit>
inline void for_each_mirror(std::size_t i, std::size_t di, std::size_t ni, std::size_t j,
                            std::size_t dj, std::size_t nj, Visit&& visit) {
  const bool ahead_i = di < ni - i;
  const bool behind_i = di != 0 && di <= i;
  const bool ahead_j = dj < nj - j;
  const bool behind_j = dj != 0 && dj <= j;
  if (ahead_i && ahead_j) visit(i + di, j + dj);
  if (behind_i && ahead_j) visit(i - di, j + dj);
  if (ahead_i && behind_j) visit(i + di, j - dj);
  if (behind_i && behind_j) visit(i - di, j - dj);
}

// Asks for the cache lines of elements first .. last.
template <class T>
void prefetch_span(const T* first, const T* last) {
  constexpr std::uintptr_t kLine = 64;
  const auto begin = reinterpret_cast<std::uintptr_t>(first) & ~(kLine - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(last);
  for (std::uintptr_t at = begin; at <= end; at += kLine) {
    __builtin_prefetch(reinterpret_cast<const void*>(at));
  }
}

}  // namespace

LatticeNeighbours::LatticeNeighbours(const Lattice& lattice, double max_distance2,
                                     std::size_t max_count)
    : nx_(lattice.nx),
      ny_(lattice.ny),
      blocks_x_((lattice.nx + kBlock - 1) / kBlock),
      blocks_y_((lattice.ny + kBlock - 1) / kBlock),
      max_distance2_(max_distance2),
      values_(lattice.nx, lattice.ny, std::numeric_limits<double>::quiet_NaN()) {
  require(ny_ == 0 || nx_ <= std::numeric_limits<std::uint32_t>::max() / ny_,
          "LatticeNeighbours: too many nodes");
  require(node_positions_finite(lattice), "LatticeNeighbours: node positions must be finite");
  Lattice centred = lattice;
  centred.origin_x = 0;
  centred.origin_y = 0;
  along_i_.resize(nx_);
  along_j_.resize(ny_);
  for (std::size_t i = 0; i < nx_; ++i) along_i_[i] = lattice.node_xy(static_cast<double>(i), 0);
  for (std::size_t j = 0; j < ny_; ++j) along_j_[j] = centred.node_xy(0, static_cast<double>(j));
  informed_bits_.assign(blocks_x_ * blocks_y_, 0);
  index_.resize(nx_ * ny_);
  const Array2D<double> least = least_distances2(lattice);
  offsets_ = offsets_within(least, max_distance2);
  for (const LatticeOffset& offset : offsets_) {
    reach_i_ = std::max<std::size_t>(reach_i_, offset.di);
    reach_j_ = std::max<std::size_t>(reach_j_, offset.dj);
  }
  block_offsets_ = offsets_within(block_least_distances2(least, kBlock), max_distance2);
  candidates_.resize(std::min(max_count, nx_ * ny_));
  hits_.resize(candidates_.size());
  build_exact_offsets();

  // Once most nodes are informed, a search reads about as many nodes as it takes, the nearest
  // ones: a prefetch reaches at least the offsets holding that many, and one node farther.
  std::size_t covered = 0;
  for (const LatticeOffset& offset : offsets_) {
    if (covered >= candidates_.size()) break;
    covered += (offset.di != 0 ? 2 : 1) * (offset.dj != 0 ? 2 : 1);
    prefetch_reach_ = std::max<std::size_t>({prefetch_reach_, offset.di, offset.dj});
  }
  prefetch_reach_ = std::min(prefetch_reach_ + 1, kMaxPrefetchReach);
}

void LatticeNeighbours::build_exact_offsets() {
  // Signed offsets are kept in 32 bits.
  constexpr std::size_t kMaxReach = std::numeric_limits<std::int32_t>::max();
  if (offsets_.size() > kMaxExactOffsets || std::max(reach_i_, reach_j_) > kMaxReach) return;
  const std::optional<ExactLags> lags = exact_lags(along_i_, along_j_);
  if (!lags) return;
  for (const LatticeOffset& offset : offsets_) {
    const auto di = static_cast<std::int32_t>(offset.di);
    const auto dj = static_cast<std::int32_t>(offset.dj);
    for (const std::int32_t si : {di, -di}) {
      for (const std::int32_t sj : {dj, -dj}) {
        // The very expression consider() evaluates on the (exact) differences of positions.
        const Point2 lag = lags->lag(si, sj);
        const double distance2 = lag.x * lag.x + lag.y * lag.y;
        if (distance2 <= max_distance2_) exact_offsets_.push_back({distance2, si, sj});
        if (dj == 0) break;
      }
      if (di == 0) break;
    }
  }
  std::ranges::sort(exact_offsets_, [](const SignedOffset& a, const SignedOffset& b) {
    return std::tuple{a.distance2, a.di, a.dj} < std::tuple{b.distance2, b.di, b.dj};
  });
  // A search collects up to as many nodes as it takes, then the rest of the last one's distance.
  std::size_t longest_run = 0;
  for (std::size_t k = 0, run = 0; k < exact_offsets_.size(); ++k) {
    const bool same = k > 0 && exact_offsets_[k].distance2 == exact_offsets_[k - 1].distance2;
    run = same ? run + 1 : 1;
    longest_run = std::max(longest_run, run);
  }
  collected_.resize(candidates_.size() + longest_run + 1);
  exact_ = true;
}

void LatticeNeighbours::inform(std::size_t i, std::size_t j, double value) {
  require(!informed(i, j), "LatticeNeighbours::inform: node already informed");
  informed_bits_[i / kBlock * blocks_y_ + j / kBlock] |= std::uint64_t{1} << bit_in_block(i, j);
  index_[node(i, j)] = static_cast<std::uint32_t>(informed_count_++);
  values_(i, j) = value;
}

void LatticeNeighbours::set_value(std::size_t i, std::size_t j, double value) {
  require(informed(i, j), "LatticeNeighbours::set_value: node not informed");
  values_(i, j) = value;
}

[[gnu::always_inline]] inline void LatticeNeighbours::consider(std::size_t i, std::size_t j,
                                                               Point2 from, double& bound) {
  // The very expression a walk over the positions evaluates, so distances agree to the bit.
  const Point2 p = position(i, j);
  const double dx = p.x - from.x;
  const double dy = p.y - from.y;
  const double distance2 = dx * dx + dy * dy;
  if (!(distance2 <= bound)) return;
  take({distance2, index_[node(i, j)], static_cast<std::uint32_t>(i),
        static_cast<std::uint32_t>(j)});
  if (candidate_count_ == candidates_.size()) bound = candidates_[candidate_count_ - 1].distance2;
}

[[gnu::always_inline]] inline void LatticeNeighbours::take(const Candidate& found) {
  const std::size_t limit = candidates_.size();
  if (candidate_count_ == limit) {
    if (!before(found, candidates_[limit - 1])) return;
    --candidate_count_;  // the last gives up its place
  }
  // Nodes mostly come in ascending distance: insertion from the back is short.
  std::size_t k = candidate_count_++;
  for (; k > 0 && before(found, candidates_[k - 1]); --k) candidates_[k] = candidates_[k - 1];
  candidates_[k] = found;
}

std::span<const Hit> LatticeNeighbours::nearest(std::size_t i, std::size_t j) {
  candidate_count_ = 0;
  if (candidates_.empty()) return {};
  const Point2 from = position(i, j);
  double bound = max_distance2_;
  if (informed_count_ * kSparseShare < nx_ * ny_) {
    search_blocks(i, j, from, bound);
  } else if (exact_) {
    search_exact(i, j, bound);
  } else {
    search_nodes(i, j, from, bound);
  }
  // Only the nodes kept have their positions and values read.
  for (std::size_t k = 0; k < candidate_count_; ++k) {
    const Candidate& c = candidates_[k];
    const std::size_t at = node(c.i, c.j);
    hits_[k] = {c.distance2,        c.index,           static_cast<std::uint32_t>(at), c.i, c.j,
                position(c.i, c.j), values_.data()[at]};
  }
  return {hits_.data(), candidate_count_};
}

void LatticeNeighbours::search_nodes(std::size_t i, std::size_t j, Point2 from, double& bound) {
  for (const LatticeOffset& offset : offsets_) {
    // Ties at the bound may still rank ahead by number, so only a larger distance ends it.
    if (offset.least_distance2 > bound) break;
    for_each_mirror(i, offset.di, nx_, j, offset.dj, ny_, [&](std::size_t ni, std::size_t nj) {
      if (informed(ni, nj)) consider(ni, nj, from, bound);
    });
  }
}

void LatticeNeighbours::search_exact(std::size_t i, std::size_t j, double& bound) {
  // Informed nodes are collected in the offsets' ascending distance without a branch on whether
  // a node is informed (that guess fails often): each is written, and counted if informed. Once
  // as many are collected as a search takes, only ties with the last of them still follow.
  const std::size_t limit = candidates_.size();
  Candidate* collected = collected_.data();
  std::size_t count = 0;
  for (const SignedOffset& offset : exact_offsets_) {
    if (offset.distance2 > bound) break;
    // Off the lattice either way, the index wraps past the node count.
    const std::size_t ni = i + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(offset.di));
    const std::size_t nj = j + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(offset.dj));
    const bool inside = (ni < nx_) & (nj < ny_);
    const std::size_t ci = inside ? ni : 0;
    const std::size_t cj = inside ? nj : 0;
    const std::uint64_t bits = block_bits(ci / kBlock, cj / kBlock);
    const bool found = inside & ((bits >> bit_in_block(ci, cj) & 1) != 0);
    collected[count] = {offset.distance2, 0, static_cast<std::uint32_t>(ci),
                        static_cast<std::uint32_t>(cj)};
    count += found ? 1 : 0;
    bound = count >= limit ? collected[limit - 1].distance2 : bound;
  }
  // Ties rank by number: sorted within each run of one distance (the runs are short).
  for (std::size_t k = 0; k < count; ++k) {
    Candidate c = collected[k];
    c.index = index_[node(c.i, c.j)];
    std::size_t at = k;
    for (; at > 0 && before(c, collected[at - 1]); --at) collected[at] = collected[at - 1];
    collected[at] = c;
  }
  candidate_count_ = std::min(count, limit);
  std::copy(collected, collected + candidate_count_, candidates_.begin());
}

void LatticeNeighbours::search_blocks(std::size_t i, std::size_t j, Point2 from, double& bound) {
  for (const LatticeOffset& offset : block_offsets_) {
    if (offset.least_distance2 > bound) break;
    for_each_mirror(i / kBlock, offset.di, blocks_x_, j / kBlock, offset.dj, blocks_y_,
                    [&](std::size_t bi, std::size_t bj) {
                      for (std::uint64_t bits = block_bits(bi, bj); bits != 0; bits &= bits - 1) {
                        const auto bit = static_cast<std::size_t>(std::countr_zero(bits));
                        consider(bi * kBlock + bit / kBlock, bj * kBlock + bit % kBlock, from,
                                 bound);
                      }
                    });
  }
}

void LatticeNeighbours::prefetch_around(std::size_t i, std::size_t j) const {
  // While few nodes are informed a search reaches too far for a prefetch to pay. Later it reaches
  // about the radius of a disc that holds its count at the share of nodes informed.
  const std::size_t nodes = nx_ * ny_;
  if (informed_count_ * kSparseShare < nodes) return;
  const double share = static_cast<double>(informed_count_) / static_cast<double>(nodes);
  const auto wanted = static_cast<std::size_t>(
      std::sqrt(static_cast<double>(candidates_.size()) / (std::numbers::pi * share)) + 1.0);
  const std::size_t reach = std::clamp(wanted, prefetch_reach_, kMaxPrefetchReach);
  const std::size_t first_j = j - std::min(j, reach);
  const std::size_t last_j = std::min(j + reach, ny_ - 1);
  const std::size_t last_i = std::min(i + reach, nx_ - 1);
  for (std::size_t row = i - std::min(i, reach); row <= last_i; ++row) {
    prefetch_span(&index_[node(row, first_j)], &index_[node(row, last_j)]);
    prefetch_span(&values_(row, first_j), &values_(row, last_j));
  }
}

}  // namespace zorvatools
