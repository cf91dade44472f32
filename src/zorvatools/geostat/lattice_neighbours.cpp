#include "zorvatools/geostat/lattice_neighbours.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {

namespace {

using Hit = LatticeNeighbours::Hit;

// The most nodes either side of a node that a prefetch asks for.
constexpr std::size_t kMaxPrefetchReach = 6;

bool before(const Hit& a, const Hit& b) {
  return a.distance2 < b.distance2 || (a.distance2 == b.distance2 && a.index < b.index);
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
      max_distance2_(max_distance2),
      values_(lattice.nx, lattice.ny, std::numeric_limits<double>::quiet_NaN()) {
  require(ny_ == 0 || nx_ <= std::size_t{kUninformed} / ny_, "LatticeNeighbours: too many nodes");
  require(node_positions_finite(lattice), "LatticeNeighbours: node positions must be finite");
  Lattice centred = lattice;
  centred.origin_x = 0;
  centred.origin_y = 0;
  along_i_.resize(nx_);
  along_j_.resize(ny_);
  for (std::size_t i = 0; i < nx_; ++i) along_i_[i] = lattice.node_xy(static_cast<double>(i), 0);
  for (std::size_t j = 0; j < ny_; ++j) along_j_[j] = centred.node_xy(0, static_cast<double>(j));
  index_.assign(nx_ * ny_, kUninformed);
  offsets_ = lattice_offsets_within(lattice, max_distance2);
  hits_.resize(std::min(max_count, nx_ * ny_));

  // Once most nodes are informed, a search reads about as many nodes as it takes, the nearest
  // ones; the prefetch covers the offsets holding that many.
  std::size_t covered = 0;
  for (const LatticeOffset& offset : offsets_) {
    if (covered >= hits_.size()) break;
    covered += (offset.di != 0 ? 2 : 1) * (offset.dj != 0 ? 2 : 1);
    prefetch_reach_ = std::max<std::size_t>({prefetch_reach_, offset.di, offset.dj});
  }
  prefetch_reach_ = std::min(prefetch_reach_, kMaxPrefetchReach);
}

void LatticeNeighbours::inform(std::size_t i, std::size_t j, double value) {
  require(!informed(i, j), "LatticeNeighbours::inform: node already informed");
  index_[node(i, j)] = static_cast<std::uint32_t>(informed_count_++);
  values_(i, j) = value;
}

std::span<const Hit> LatticeNeighbours::nearest(std::size_t i, std::size_t j) {
  hit_count_ = 0;
  if (hits_.empty()) return {};
  const Point2 from = position(i, j);
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
    if (ahead_i && ahead_j) consider(i + di, j + dj, from, bound);
    if (behind_i && ahead_j) consider(i - di, j + dj, from, bound);
    if (ahead_i && behind_j) consider(i + di, j - dj, from, bound);
    if (behind_i && behind_j) consider(i - di, j - dj, from, bound);
  }
  return {hits_.data(), hit_count_};
}

void LatticeNeighbours::consider(std::size_t i, std::size_t j, Point2 from, double& bound) {
  const std::size_t at = node(i, j);
  const std::uint32_t index = index_[at];
  if (index == kUninformed) return;
  // The very expression a walk over the positions evaluates, so distances agree to the bit.
  const Point2 p = position(i, j);
  const double dx = p.x - from.x;
  const double dy = p.y - from.y;
  const double distance2 = dx * dx + dy * dy;
  if (!(distance2 <= bound)) return;
  const Hit hit{distance2, index, static_cast<std::uint32_t>(at), p, values_(i, j)};
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

void LatticeNeighbours::prefetch_around(std::size_t i, std::size_t j) const {
  const std::size_t reach = prefetch_reach_;
  const std::size_t first_j = j - std::min(j, reach);
  const std::size_t last_j = std::min(j + reach, ny_ - 1);
  const std::size_t last_i = std::min(i + reach, nx_ - 1);
  for (std::size_t row = i - std::min(i, reach); row <= last_i; ++row) {
    prefetch_span(&index_[node(row, first_j)], &index_[node(row, last_j)]);
    prefetch_span(&values_(row, first_j), &values_(row, last_j));
  }
}

}  // namespace zorvatools
