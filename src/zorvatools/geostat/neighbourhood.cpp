#include "zorvatools/geostat/neighbourhood.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <tuple>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {

namespace {

using Box = Neighbourhood::Box;

Box point_box(Point2 p) {
  return {p.x, p.y, p.x, p.y};
}

Box united(const Box& a, const Box& b) {
  return {std::min(a.min_x, b.min_x), std::min(a.min_y, b.min_y), std::max(a.max_x, b.max_x),
          std::max(a.max_y, b.max_y)};
}

// Every comparison is made (no short cut), so callers can stay free of branches.
bool contains(const Box& outer, const Box& inner) {
  return (outer.min_x <= inner.min_x) & (outer.min_y <= inner.min_y) &
         (inner.max_x <= outer.max_x) & (inner.max_y <= outer.max_y);
}

double area(const Box& b) {
  return (b.max_x - b.min_x) * (b.max_y - b.min_y);
}

double margin(const Box& b) {
  return (b.max_x - b.min_x) + (b.max_y - b.min_y);
}

double overlap(const Box& a, const Box& b) {
  const double w = std::min(a.max_x, b.max_x) - std::max(a.min_x, b.min_x);
  const double h = std::min(a.max_y, b.max_y) - std::max(a.min_y, b.min_y);
  return w > 0 && h > 0 ? w * h : 0.0;
}

// Never more than the squared distance of any point inside the box, also after rounding: the
// walk relies on it to yield points in order.
double min_distance2(const Box& b, Point2 q) {
  const double dx = std::max({b.min_x - q.x, 0.0, q.x - b.max_x});
  const double dy = std::max({b.min_y - q.y, 0.0, q.y - b.max_y});
  return dx * dx + dy * dy;
}

}  // namespace

Neighbourhood::Neighbourhood(std::size_t expected_points) {
  // Nodes hold about eleven entries on average; beyond this the vector grows geometrically.
  nodes_.reserve(expected_points / 8 + 1);
}

void Neighbourhood::clear() {
  nodes_.clear();
  root_ = 0;
  size_ = 0;
}

std::size_t Neighbourhood::new_node(unsigned level) {
  nodes_.emplace_back();
  nodes_.back().level = level;
  return nodes_.size() - 1;
}

Box Neighbourhood::bounds(std::size_t node_id) const {
  const Node& node = nodes_[node_id];
  Box box = node.box(0);
  for (std::size_t k = 1; k < node.count; ++k) box = united(box, node.box(k));
  return box;
}

void Neighbourhood::insert(Point2 point, std::size_t index) {
  require(std::isfinite(point.x) && std::isfinite(point.y),
          "Neighbourhood::insert: point must be finite");
  if (nodes_.empty()) root_ = new_node(0);
  reinserted_levels_ = 0;
  insert_entry({point_box(point), index}, 0);
  ++size_;
}

void Neighbourhood::insert_entry(const Entry& entry, unsigned level) {
  path_depth_ = 0;
  std::size_t id = root_;
  while (nodes_[id].level > level) {
    Node& node = nodes_[id];
    const std::size_t slot = choose_subtree(node, entry.box);
    require(path_depth_ < kMaxHeight, "Neighbourhood: tree too deep");
    path_[path_depth_++] = {id, slot};
    node.set_box(slot, united(node.box(slot), entry.box));
    id = node.id[slot];
  }
  nodes_[id].push(entry);

  // Overflow: reinsert the outermost entries once per level and insertion, otherwise split
  // and carry the new node up.
  while (nodes_[id].count > kMaxEntries) {
    const unsigned node_level = nodes_[id].level;
    const std::uint64_t level_bit = std::uint64_t{1} << node_level;
    if (id != root_ && (reinserted_levels_ & level_bit) == 0) {
      reinserted_levels_ |= level_bit;
      reinsert(id, path_depth_);
      return;
    }
    const std::size_t sibling = split(id);
    if (id == root_) {
      const std::size_t root = new_node(node_level + 1);
      const Entry left{bounds(id), id};
      const Entry right{bounds(sibling), sibling};
      Node& top = nodes_[root];
      top.push(left);
      top.push(right);
      root_ = root;
      return;
    }
    const PathStep step = path_[--path_depth_];
    const Box shrunk = bounds(id);
    const Entry added{bounds(sibling), sibling};
    Node& parent = nodes_[step.node];
    parent.set_box(step.slot, shrunk);
    parent.push(added);
    id = step.node;
  }
}

std::size_t Neighbourhood::choose_subtree(const Node& node, const Box& box) const {
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

  // Children ranked by least area growth, then margin growth, then area.
  std::array<std::size_t, kMaxEntries + 1> order{};
  std::array<std::tuple<double, double, double>, kMaxEntries + 1> growth{};
  for (std::size_t k = 0; k < node.count; ++k) {
    const Box current = node.box(k);
    const Box grown = united(current, box);
    growth[k] = {area(grown) - area(current), margin(grown) - margin(current), area(current)};
    order[k] = k;
  }
  auto by_growth = [&](std::size_t a, std::size_t b) {
    return std::tuple{growth[a], a} < std::tuple{growth[b], b};
  };
  if (node.level != 1) {
    return *std::min_element(order.begin(), order.begin() + node.count, by_growth);
  }
  // Above leaves: among the few children that grow least, the least growth of overlap with
  // their siblings (the full pass over every child costs more than it gains).
  const std::size_t candidates = std::min(node.count, kOverlapCandidates);
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

std::size_t Neighbourhood::split(std::size_t node_id) {
  constexpr std::size_t n = kMaxEntries + 1;
  require(nodes_[node_id].count == n, "Neighbourhood::split: node is not overflowing");
  std::array<Entry, n> entries;
  for (std::size_t k = 0; k < n; ++k) entries[k] = nodes_[node_id].entry(k);

  // Entries sorted along one axis by their lower (or upper) bound; ties by the other bound,
  // then by position, so the result never depends on the sort implementation.
  auto sorted = [&](int axis, bool by_upper) {
    std::array<std::size_t, n> order;
    std::iota(order.begin(), order.end(), std::size_t{0});
    auto key = [&](std::size_t k) {
      const Box& b = entries[k].box;
      const double lo = axis == 0 ? b.min_x : b.min_y;
      const double hi = axis == 0 ? b.max_x : b.max_y;
      return by_upper ? std::tuple{hi, lo, k} : std::tuple{lo, hi, k};
    };
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
    return order;
  };
  // Bounding boxes of the first k entries (prefix[k - 1]) and of the rest (suffix[k]).
  auto prefix_suffix = [&](const std::array<std::size_t, n>& order) {
    std::array<Box, n> prefix;
    std::array<Box, n + 1> suffix;
    prefix[0] = entries[order[0]].box;
    for (std::size_t k = 1; k < n; ++k) prefix[k] = united(prefix[k - 1], entries[order[k]].box);
    suffix[n - 1] = entries[order[n - 1]].box;
    for (std::size_t k = n - 1; k-- > 0;) suffix[k] = united(suffix[k + 1], entries[order[k]].box);
    return std::pair{prefix, suffix};
  };

  // The axis with the least total margin over all allowed distributions.
  std::array<std::array<std::size_t, n>, 2> orders[2];
  double margins[2] = {0, 0};
  for (int axis = 0; axis < 2; ++axis) {
    for (int upper = 0; upper < 2; ++upper) {
      orders[axis][upper] = sorted(axis, upper == 1);
      const auto [prefix, suffix] = prefix_suffix(orders[axis][upper]);
      for (std::size_t k = kMinEntries; k <= n - kMinEntries; ++k) {
        margins[axis] += margin(prefix[k - 1]) + margin(suffix[k]);
      }
    }
  }
  const int axis = margins[1] < margins[0] ? 1 : 0;

  // Along it, the distribution with the least overlap, then the least area, then margin.
  std::tuple<double, double, double> best_cost;
  int best_upper = -1;
  std::size_t best_k = 0;
  for (int upper = 0; upper < 2; ++upper) {
    const auto [prefix, suffix] = prefix_suffix(orders[axis][upper]);
    for (std::size_t k = kMinEntries; k <= n - kMinEntries; ++k) {
      const std::tuple cost{overlap(prefix[k - 1], suffix[k]),
                            area(prefix[k - 1]) + area(suffix[k]),
                            margin(prefix[k - 1]) + margin(suffix[k])};
      if (best_upper < 0 || cost < best_cost) {
        best_cost = cost;
        best_upper = upper;
        best_k = k;
      }
    }
  }

  const auto& order = orders[axis][best_upper];
  const std::size_t sibling = new_node(nodes_[node_id].level);
  Node& kept = nodes_[node_id];
  Node& moved = nodes_[sibling];
  kept.count = 0;
  for (std::size_t k = 0; k < best_k; ++k) kept.push(entries[order[k]]);
  for (std::size_t k = best_k; k < n; ++k) moved.push(entries[order[k]]);
  return sibling;
}

void Neighbourhood::reinsert(std::size_t node_id, std::size_t depth) {
  constexpr std::size_t n = kMaxEntries + 1;
  Node& node = nodes_[node_id];
  require(node.count == n, "Neighbourhood::reinsert: node is not overflowing");
  const unsigned level = node.level;
  const Box box = bounds(node_id);
  const double cx = 0.5 * (box.min_x + box.max_x);
  const double cy = 0.5 * (box.min_y + box.max_y);

  // Entries by the distance of their centres from the node's centre, farthest first.
  std::array<double, n> distance2;
  for (std::size_t k = 0; k < n; ++k) {
    const Box b = node.box(k);
    const double dx = 0.5 * (b.min_x + b.max_x) - cx;
    const double dy = 0.5 * (b.min_y + b.max_y) - cy;
    distance2[k] = dx * dx + dy * dy;
  }
  std::array<std::size_t, n> order;
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::tuple{-distance2[a], a} < std::tuple{-distance2[b], b};
  });

  std::array<Entry, kReinsertCount> removed;
  std::array<bool, n> is_removed{};
  for (std::size_t k = 0; k < kReinsertCount; ++k) {
    removed[k] = node.entry(order[k]);
    is_removed[order[k]] = true;
  }
  std::size_t kept = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (!is_removed[k]) node.set(kept++, node.entry(k));
  }
  node.count = kept;

  // Shrink the boxes on the way back to the root.
  for (std::size_t d = depth; d-- > 0;) {
    Node& parent = nodes_[path_[d].node];
    const std::size_t slot = path_[d].slot;
    parent.set_box(slot, bounds(parent.id[slot]));
  }
  // Closest first: the entries most likely to land back near where they were.
  for (std::size_t k = kReinsertCount; k-- > 0;) insert_entry(removed[k], level);
}

void Neighbourhood::nearest_within(Point2 query, std::size_t max_count, double radius,
                                   NearestWalk& walk, std::vector<Hit>& hits) const {
  hits.clear();
  walk.start(*this, query, radius * radius, max_count);
  while (const std::optional<Hit> hit = walk.next()) hits.push_back(*hit);
}

namespace {

// Node heap order: nearer first, then lower ids.
struct NodeFarther {
  template <class Item>
  bool operator()(const Item& a, const Item& b) const {
    return a.distance2 != b.distance2 ? a.distance2 > b.distance2 : a.id > b.id;
  }
};

// Asks for the cache lines of a node that a walk reads: all of them for an inner node, for a
// leaf only the count, level, lower corners (the points) and ids.
template <class Node>
void prefetch(const Node& node, bool inner) {
  const char* bytes = reinterpret_cast<const char*>(&node);
  const std::size_t end = inner ? sizeof(Node) : offsetof(Node, max_x);
  for (std::size_t offset = 0; offset < end; offset += 64) __builtin_prefetch(bytes + offset);
}

bool hit_before(const Neighbourhood::Hit& a, const Neighbourhood::Hit& b) {
  return a.distance2 != b.distance2 ? a.distance2 < b.distance2 : a.index < b.index;
}

}  // namespace

void Neighbourhood::NearestWalk::start(const Neighbourhood& tree, Point2 query,
                                       double max_distance2, std::size_t max_count) {
  tree_ = &tree;
  query_ = query;
  max_distance2_ = max_distance2;
  remaining_ = max_count;
  nodes_.clear();
  candidates_.clear();
  first_ = 0;
  if (tree.size_ == 0 || max_count == 0 || !std::isfinite(query.x) || !std::isfinite(query.y)) {
    return;
  }
  const double d2 = min_distance2(tree.bounds(tree.root_), query);
  if (d2 <= max_distance2_) nodes_.push_back({d2, tree.root_});
}

// Keeps a point within the bound when it could still be yielded: once remaining_ candidates are
// held, only ahead of the last of them.
void Neighbourhood::NearestWalk::offer(const Hit& point) {
  const std::size_t held = candidates_.size() - first_;
  if (held == remaining_) {
    if (!hit_before(point, candidates_.back())) return;  // else the last gives up its slot
  } else {
    candidates_.emplace_back();
  }
  // Insertion sort from the back: every candidate the new point precedes moves down one slot
  // (moved, not swapped, so no slot is read right after being written).
  std::size_t k = candidates_.size() - 1;
  for (; k > first_ && hit_before(point, candidates_[k - 1]); --k) {
    candidates_[k] = candidates_[k - 1];
  }
  candidates_[k] = point;
  // With remaining_ candidates held nothing farther than the last can be yielded (ties stay:
  // they may still win by index).
  if (candidates_.size() - first_ == remaining_) {
    max_distance2_ = std::min(max_distance2_, candidates_.back().distance2);
  }
}

void Neighbourhood::NearestWalk::expand(std::size_t node_id) {
  const Node& node = tree_->nodes_[node_id];
  if (node.level == 0) {
    for (std::size_t k = 0; k < node.count; ++k) {
      const Point2 p{node.min_x[k], node.min_y[k]};
      const double dx = p.x - query_.x;
      const double dy = p.y - query_.y;
      const double d2 = dx * dx + dy * dy;
      // Most points of a leaf lie beyond the bound once the first candidates are held.
      if (d2 <= max_distance2_) offer({node.id[k], d2, p});
    }
    return;
  }
  for (std::size_t k = 0; k < node.count; ++k) {
    const double d2 = min_distance2(node.box(k), query_);
    if (d2 <= max_distance2_) {
      nodes_.push_back({d2, node.id[k]});
      std::push_heap(nodes_.begin(), nodes_.end(), NodeFarther{});
      // Queued nodes are usually opened soon; their entries start loading meanwhile.
      prefetch(tree_->nodes_[node.id[k]], node.level > 1);
    }
  }
}

std::optional<Neighbourhood::Hit> Neighbourhood::NearestWalk::next() {
  while (remaining_ > 0) {
    const bool have_candidate = first_ < candidates_.size();
    // A candidate is final once no unopened node can hold anything as near; at equal distance
    // the node is opened first, as it may hold a point with a lower index.
    if (have_candidate && (nodes_.empty() || candidates_[first_].distance2 < nodes_[0].distance2)) {
      --remaining_;
      return candidates_[first_++];
    }
    if (nodes_.empty()) break;
    std::pop_heap(nodes_.begin(), nodes_.end(), NodeFarther{});
    const NodeItem item = nodes_.back();
    nodes_.pop_back();
    // The bound may have tightened since the node was queued.
    if (item.distance2 <= max_distance2_) expand(item.id);
  }
  return std::nullopt;
}

}  // namespace zorvatools
