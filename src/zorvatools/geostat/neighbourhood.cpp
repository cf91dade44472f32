#include "zorvatools/geostat/neighbourhood.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <tuple>

#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/geostat/rtree_split.hpp"

namespace zorvatools {

Neighbourhood::Neighbourhood(std::size_t expected_points) {
  // Leaves hold about eleven points on average, inner nodes about six children; beyond this the
  // vectors grow geometrically.
  leaves_.reserve(expected_points / 8 + 1);
  inners_.reserve(expected_points / 32 + 1);
}

void Neighbourhood::clear() {
  leaves_.clear();
  inners_.clear();
  root_ = 0;
  height_ = 0;
  size_ = 0;
}

template <class Node>
std::uint32_t Neighbourhood::new_node(std::vector<Node>& nodes) {
  // A walk refers to a leaf's point by leaf and slot in one 32-bit word.
  require(nodes.size() < (std::size_t{1} << (32 - kSlotBits)), "Neighbourhood: too many nodes");
  nodes.emplace_back();
  return static_cast<std::uint32_t>(nodes.size() - 1);
}

Neighbourhood::Box Neighbourhood::bounds(std::uint32_t id, unsigned level) const {
  if (level == 0) {
    const Leaf& leaf = leaves_[id];
    Box box = leaf.box(0);
    for (std::size_t k = 1; k < leaf.count; ++k) box = united(box, leaf.box(k));
    return box;
  }
  const Inner& node = inners_[id];
  Box box = node.box(0);
  for (std::size_t k = 1; k < node.count; ++k) box = united(box, node.box(k));
  return box;
}

void Neighbourhood::insert(Point2 point, std::size_t index) {
  require(std::isfinite(point.x) && std::isfinite(point.y),
          "Neighbourhood::insert: point must be finite");
  require(index <= std::numeric_limits<std::uint32_t>::max(),
          "Neighbourhood::insert: index must fit in 32 bits");
  if (leaves_.empty()) {
    root_ = new_node(leaves_);
    height_ = 0;
  }
  reinserted_levels_ = 0;
  insert_entry({point_box(point), static_cast<std::uint32_t>(index)}, 0);
  ++size_;
}

void Neighbourhood::insert_entry(const Entry& entry, unsigned level) {
  path_depth_ = 0;
  std::uint32_t id = root_;
  for (unsigned at = height_; at > level; --at) {
    Inner& node = inners_[id];
    const std::size_t slot = choose_subtree(node, at, entry.box);
    require(path_depth_ < kMaxHeight, "Neighbourhood: tree too deep");
    path_[path_depth_++] = {id, static_cast<std::uint32_t>(slot)};
    node.set_box(slot, united(node.box(slot), entry.box));
    id = node.child[slot];
  }
  if (level == 0) {
    leaves_[id].push(entry);
    if (leaves_[id].count > Leaf::kMaxEntries) handle_overflow(leaves_, id, level);
  } else {
    inners_[id].push(entry);
    if (inners_[id].count > Inner::kMaxEntries) handle_overflow(inners_, id, level);
  }
}

// Reinserts the outermost entries once per level and insertion, otherwise splits and carries
// the new node up. path_ leads from the root to the node.
template <class Node>
void Neighbourhood::handle_overflow(std::vector<Node>& nodes, std::uint32_t id, unsigned level) {
  const std::uint64_t level_bit = std::uint64_t{1} << level;
  if (level != height_ && (reinserted_levels_ & level_bit) == 0) {
    reinserted_levels_ |= level_bit;
    reinsert(nodes, id, level);
    return;
  }
  const std::uint32_t sibling = split(nodes, id, level);
  const Entry kept{bounds(id, level), id};
  const Entry moved{bounds(sibling, level), sibling};
  if (level == height_) {
    const std::uint32_t root = new_node(inners_);
    inners_[root].push(kept);
    inners_[root].push(moved);
    root_ = root;
    ++height_;
    return;
  }
  const PathStep step = path_[--path_depth_];
  Inner& parent = inners_[step.node];
  parent.set_box(step.slot, kept.box);
  parent.push(moved);
  if (parent.count > Inner::kMaxEntries) handle_overflow(inners_, step.node, level + 1);
}

std::size_t Neighbourhood::choose_subtree(const Inner& node, unsigned level, const Box& box) const {
  // A child that already covers the box costs nothing; the smallest such child wins (the first
  // on equal areas). Whether a child covers the box is unpredictable, so nothing here branches.
  std::size_t best = node.count;
  double best_area = 0;
  for (std::size_t k = 0; k < node.count; ++k) {
    const Box current = node.box(k);
    const double current_area = area(current);
    const bool better =
        contains(current, box) & ((best == node.count) | (current_area < best_area));
    best = better ? k : best;
    best_area = better ? current_area : best_area;
  }
  if (best != node.count) return best;

  // Children ranked by least area growth, then margin growth, then area, then position.
  std::array<std::tuple<double, double, double>, Inner::kSlots> growth;
  for (std::size_t k = 0; k < node.count; ++k) {
    const Box current = node.box(k);
    const Box grown = united(current, box);
    growth[k] = {area(grown) - area(current), margin(grown) - margin(current), area(current)};
  }
  auto by_growth = [&](std::size_t a, std::size_t b) {
    return std::tuple{growth[a], a} < std::tuple{growth[b], b};
  };
  if (level != 1) {
    best = 0;
    for (std::size_t k = 1; k < node.count; ++k) best = by_growth(k, best) ? k : best;
    return best;
  }
  std::array<std::size_t, Inner::kSlots> order;
  std::iota(order.begin(), order.end(), std::size_t{0});

  // Above leaves: among the few children that grow least, the least growth of overlap with
  // their siblings (the full pass over every child costs more than it gains).
  const std::size_t candidates = std::min<std::size_t>(node.count, kOverlapCandidates);
  std::partial_sort(order.begin(), order.begin() + candidates, order.begin() + node.count,
                    by_growth);
  double best_overlap = 0;
  for (std::size_t c = 0; c < candidates; ++c) {
    const std::size_t k = order[c];
    const Box current = node.box(k);
    const Box grown = united(current, box);
    double overlap_growth = 0;
    for (std::size_t j = 0; j < node.count; ++j) {
      if (j == k) continue;
      const Box sibling = node.box(j);
      overlap_growth += overlap(grown, sibling) - overlap(current, sibling);
    }
    if (c == 0 || overlap_growth < best_overlap) {
      best = k;
      best_overlap = overlap_growth;
    }
  }
  return best;
}

template <class Node>
std::uint32_t Neighbourhood::split(std::vector<Node>& nodes, std::uint32_t id, unsigned level) {
  require(nodes[id].count == Node::kSlots, "Neighbourhood::split: node is not overflowing");
  std::array<Entry, Node::kSlots> entries;
  std::array<Box, Node::kSlots> boxes;
  for (std::size_t k = 0; k < Node::kSlots; ++k) {
    entries[k] = nodes[id].entry(k);
    boxes[k] = entries[k].box;
  }
  const RtreeSplit plan = rtree_split(boxes, Node::kMinEntries, level == 0);
  const std::uint32_t sibling = new_node(nodes);
  Node& kept = nodes[id];
  Node& moved = nodes[sibling];
  kept.count = 0;
  for (std::size_t k = 0; k < plan.kept; ++k) kept.push(entries[plan.order[k]]);
  for (std::size_t k = plan.kept; k < Node::kSlots; ++k) moved.push(entries[plan.order[k]]);
  return sibling;
}

template <class Node>
void Neighbourhood::reinsert(std::vector<Node>& nodes, std::uint32_t id, unsigned level) {
  Node& node = nodes[id];
  require(node.count == Node::kSlots, "Neighbourhood::reinsert: node is not overflowing");
  const Box box = bounds(id, level);
  const double cx = 0.5 * (box.min_x + box.max_x);
  const double cy = 0.5 * (box.min_y + box.max_y);

  // Entries by the distance of their centres from the node's centre, farthest first.
  std::array<double, Node::kSlots> distance2;
  for (std::size_t k = 0; k < Node::kSlots; ++k) {
    const Box b = node.box(k);
    const double dx = 0.5 * (b.min_x + b.max_x) - cx;
    const double dy = 0.5 * (b.min_y + b.max_y) - cy;
    distance2[k] = dx * dx + dy * dy;
  }
  std::array<std::size_t, Node::kSlots> order;
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::tuple{-distance2[a], a} < std::tuple{-distance2[b], b};
  });

  std::array<Entry, Node::kReinsertCount> removed;
  std::array<bool, Node::kSlots> is_removed{};
  for (std::size_t k = 0; k < Node::kReinsertCount; ++k) {
    removed[k] = node.entry(order[k]);
    is_removed[order[k]] = true;
  }
  std::uint32_t kept = 0;
  for (std::size_t k = 0; k < Node::kSlots; ++k) {
    if (!is_removed[k]) node.set(kept++, node.entry(k));
  }
  node.count = kept;

  // Shrink the boxes on the way back to the root; path_[d] holds a child at level
  // height_ - d - 1.
  for (std::size_t d = path_depth_; d-- > 0;) {
    Inner& parent = inners_[path_[d].node];
    const std::size_t slot = path_[d].slot;
    const auto child_level = static_cast<unsigned>(height_ - d - 1);
    parent.set_box(slot, bounds(parent.child[slot], child_level));
  }
  // Closest first: the entries most likely to land back near where they were.
  for (std::size_t k = Node::kReinsertCount; k-- > 0;) insert_entry(removed[k], level);
}

}  // namespace zorvatools
