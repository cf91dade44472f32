// The incremental nearest-neighbour walk over the neighbourhood's R*-tree: best first over a
// queue of nodes by least possible distance, found points held in a short sorted list until no
// queued node could hold anything nearer.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "zorvatools/foundation/vector_clones.hpp"
#include "zorvatools/geostat/neighbourhood.hpp"

namespace zorvatools {

namespace {

// Squared distances of the points (x[k], y[k]) from q; lanes of one vector each.
ZV_VECTOR_CLONES void point_distances2(const double* x, const double* y, std::size_t count,
                                       Point2 q, double* out) {
  for (std::size_t k = 0; k < count; ++k) {
    const double dx = x[k] - q.x;
    const double dy = y[k] - q.y;
    out[k] = dx * dx + dy * dy;
  }
}

// Least squared distances of boxes from q: never more than that of any point inside, also
// after rounding, which the walk relies on to yield points in order.
ZV_VECTOR_CLONES void box_distances2(const double* min_x, const double* min_y, const double* max_x,
                                     const double* max_y, std::size_t count, Point2 q,
                                     double* out) {
  for (std::size_t k = 0; k < count; ++k) {
    const double dx = std::max(std::max(min_x[k] - q.x, 0.0), q.x - max_x[k]);
    const double dy = std::max(std::max(min_y[k] - q.y, 0.0), q.y - max_y[k]);
    out[k] = dx * dx + dy * dy;
  }
}

// Positions k < count with distance2[k] <= bound into picked, in order; returns how many.
// Which entries pass is unpredictable, so nothing here branches on it.
template <std::size_t N>
std::size_t pick_within(const std::array<double, N>& distance2, std::size_t count, double bound,
                        std::array<std::uint8_t, N>& picked) {
  std::size_t n = 0;
  for (std::size_t k = 0; k < count; ++k) {
    picked[n] = static_cast<std::uint8_t>(k);
    n += distance2[k] <= bound ? 1 : 0;
  }
  return n;
}

// Asks for the first `bytes` of a node that is about to be opened.
void prefetch(const void* node, std::size_t bytes) {
  const char* at = static_cast<const char*>(node);
  for (std::size_t offset = 0; offset < bytes; offset += 64) __builtin_prefetch(at + offset);
}

}  // namespace

void Neighbourhood::nearest_within(Point2 query, std::size_t max_count, double radius,
                                   NearestWalk& walk, std::vector<Hit>& hits) const {
  hits.clear();
  walk.start(*this, query, radius * radius, max_count);
  while (const std::optional<Hit> hit = walk.next()) hits.push_back(*hit);
}

void Neighbourhood::NearestWalk::start(const Neighbourhood& tree, Point2 query,
                                       double max_distance2, std::size_t max_count) {
  tree_ = &tree;
  query_ = query;
  max_distance2_ = max_distance2;
  remaining_ = max_count;
  queue_.clear();
  candidates_.reset(max_count);
  if (tree.size_ == 0 || max_count == 0 || !std::isfinite(query.x) || !std::isfinite(query.y)) {
    return;
  }
  const Box box = tree.bounds(tree.root_, tree.height_);
  double d2 = 0;
  box_distances2(&box.min_x, &box.min_y, &box.max_x, &box.max_y, 1, query, &d2);
  if (d2 <= max_distance2_) queue_.push({d2, tree.root_, tree.height_});
}

void Neighbourhood::NearestWalk::open_leaf(std::uint32_t leaf_id) {
  const Leaf& leaf = tree_->leaves_[leaf_id];
  std::array<double, Leaf::kSlots> distance2;
  point_distances2(leaf.x.data(), leaf.y.data(), leaf.count, query_, distance2.data());
  // Most points lie beyond the bound once the first candidates are held.
  std::array<std::uint8_t, Leaf::kSlots> picked;
  const std::size_t n = pick_within(distance2, leaf.count, max_distance2_, picked);
  std::array<NearestCandidates::Candidate, Leaf::kSlots> found;
  for (std::size_t p = 0; p < n; ++p) {
    const std::uint32_t k = picked[p];
    found[p] = {distance2[k], (leaf_id << kSlotBits) | k, leaf.index[k]};
  }
  candidates_.offer(found.data(), n);
  // Once the list is full nothing farther than its last point can be yielded (ties stay: they
  // may still win by index).
  if (candidates_.full()) max_distance2_ = std::min(max_distance2_, candidates_.last_distance2());
}

void Neighbourhood::NearestWalk::open_inner(std::uint32_t inner_id, std::uint32_t level) {
  const Inner& node = tree_->inners_[inner_id];
  std::array<double, Inner::kSlots> distance2;
  box_distances2(node.min_x.data(), node.min_y.data(), node.max_x.data(), node.max_y.data(),
                 node.count, query_, distance2.data());
  std::array<std::uint8_t, Inner::kSlots> picked;
  const std::size_t n = pick_within(distance2, node.count, max_distance2_, picked);
  const std::uint32_t child_level = level - 1;
  for (std::size_t p = 0; p < n; ++p) {
    const std::size_t k = picked[p];
    const std::uint32_t child = node.child[k];
    queue_.push({distance2[k], child, child_level});
    // Queued nodes are usually opened soon; what they hold starts loading meanwhile. A leaf is
    // read up to its coordinates, the indices only for the few points kept.
    if (child_level == 0) {
      prefetch(&tree_->leaves_[child], offsetof(Leaf, index));
    } else {
      prefetch(&tree_->inners_[child], sizeof(Inner));
    }
  }
}

std::optional<Neighbourhood::Hit> Neighbourhood::NearestWalk::next() {
  while (remaining_ > 0) {
    const bool have_candidate = candidates_.has_next();
    // A candidate is final once no queued node can hold anything as near; at equal distance
    // the node is opened first, as it may hold a point with a lower index.
    if (have_candidate &&
        (queue_.empty() || candidates_.next().distance2 < queue_.nearest().distance2)) {
      --remaining_;
      const NearestCandidates::Candidate found = candidates_.next();
      candidates_.pop();
      const Leaf& leaf = tree_->leaves_[found.where >> kSlotBits];
      const std::size_t slot = found.where & ((1u << kSlotBits) - 1);
      return Hit{found.index, found.distance2, {leaf.x[slot], leaf.y[slot]}};
    }
    if (queue_.empty()) break;
    const Queued item = queue_.take();
    // The bound may have tightened since the node was queued; then no queued node can hold
    // anything the walk would yield.
    if (item.distance2 > max_distance2_) {
      queue_.clear();
      continue;
    }
    if (item.level == 0) {
      open_leaf(item.node);
    } else {
      open_inner(item.node, item.level);
    }
  }
  return std::nullopt;
}

}  // namespace zorvatools
