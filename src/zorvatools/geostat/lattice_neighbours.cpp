#include "zorvatools/geostat/lattice_neighbours.hpp"

#include <algorithm>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {

namespace {

using Hit = LatticeNeighbours::Hit;

bool before(const Hit& a, const Hit& b) {
  return a.distance2 < b.distance2 || (a.distance2 == b.distance2 && a.index < b.index);
}

}  // namespace

LatticeNeighbours::LatticeNeighbours(const Lattice& lattice, double max_distance2,
                                     std::size_t max_count)
    : nx_(lattice.nx), ny_(lattice.ny), max_distance2_(max_distance2) {
  require(ny_ == 0 || nx_ < std::size_t{kUninformed} / ny_ + 1,
          "LatticeNeighbours: too many nodes");
  require(node_positions_finite(lattice), "LatticeNeighbours: node positions must be finite");
  const std::size_t count = nx_ * ny_;
  positions_.resize(count);
  for (std::size_t i = 0; i < nx_; ++i) {
    for (std::size_t j = 0; j < ny_; ++j) {
      positions_[node(i, j)] = lattice.node_xy(static_cast<double>(i), static_cast<double>(j));
    }
  }
  index_.assign(count, kUninformed);
  offsets_ = lattice_offsets_within(lattice, max_distance2);
  hits_.resize(std::min(max_count, count));
}

void LatticeNeighbours::inform(std::size_t node) {
  require(!informed(node), "LatticeNeighbours::inform: node already informed");
  index_[node] = static_cast<std::uint32_t>(informed_count_++);
}

std::span<const Hit> LatticeNeighbours::nearest(std::size_t i, std::size_t j) {
  hit_count_ = 0;
  if (hits_.empty()) return {};
  const Point2 from = positions_[node(i, j)];
  double bound = max_distance2_;
  for (const LatticeOffset& offset : offsets_) {
    // Ties at the bound may still rank ahead by number, so only a larger distance ends it.
    if (offset.least_distance2 > bound) break;
    const std::size_t di = offset.di;
    const std::size_t dj = offset.dj;
    const bool ahead_i = di < nx_ - i;
    const bool behind_i = di != 0 && di <= i;
    const bool ahead_j = dj < ny_ - j;
    const bool behind_j = dj != 0 && dj <= j;
    if (ahead_i && ahead_j) consider(node(i + di, j + dj), from, bound);
    if (behind_i && ahead_j) consider(node(i - di, j + dj), from, bound);
    if (ahead_i && behind_j) consider(node(i + di, j - dj), from, bound);
    if (behind_i && behind_j) consider(node(i - di, j - dj), from, bound);
  }
  return {hits_.data(), hit_count_};
}

void LatticeNeighbours::consider(std::size_t node, Point2 from, double& bound) {
  const std::uint32_t index = index_[node];
  if (index == kUninformed) return;
  // The very expression a walk over the positions evaluates, so distances agree to the bit.
  const Point2 p = positions_[node];
  const double dx = p.x - from.x;
  const double dy = p.y - from.y;
  const Hit hit{dx * dx + dy * dy, index, static_cast<std::uint32_t>(node)};
  if (!(hit.distance2 <= bound)) return;
  const std::size_t limit = hits_.size();
  if (hit_count_ == limit) {
    if (!before(hit, hits_[limit - 1])) return;
    --hit_count_;  // the last gives up its place
  }
  // Hits mostly come in ascending distance: insertion from the back is short.
  std::size_t k = hit_count_++;
  for (; k > 0 && before(hit, hits_[k - 1]); --k) hits_[k] = hits_[k - 1];
  hits_[k] = hit;
  if (hit_count_ == limit) bound = hits_[limit - 1].distance2;
}

}  // namespace zorvatools
