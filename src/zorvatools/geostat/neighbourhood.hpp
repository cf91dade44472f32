#pragma once
// An R*-tree over 2-D points that only grows, with an incremental nearest-neighbour walk. Each
// point carries the caller's index into its own point and value lists.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "zorvatools/foundation/lattice.hpp"

namespace zorvatools {

class Neighbourhood {
 public:
  // An axis-aligned bounding box; a point's box has zero extent.
  struct Box {
    double min_x, min_y, max_x, max_y;
  };

  struct Hit {
    std::size_t index = 0;  // the caller's index of the point
    double distance2 = 0;   // squared Euclidean distance from the query point
    Point2 point;           // its stored position
  };

  // Reusable state of one nearest-neighbour walk; keep it across queries so its queue is
  // allocated once.
  class NearestWalk {
   public:
    // Starts a walk from `query` that yields at most `max_count` points, none farther than
    // sqrt(max_distance2). The limits let the walk skip what it could never yield; found points
    // wait in a sorted list, so a walk meant to reach far should keep its count modest.
    void start(const Neighbourhood& tree, Point2 query,
               double max_distance2 = std::numeric_limits<double>::infinity(),
               std::size_t max_count = std::numeric_limits<std::size_t>::max());
    // The next point in ascending distance (ties in ascending index), or nothing at the end.
    std::optional<Hit> next();

   private:
    struct NodeItem {
      double distance2;  // least squared distance of anything inside
      std::size_t id;
    };
    void expand(std::size_t node_id);
    void offer(const Hit& point);

    const Neighbourhood* tree_ = nullptr;
    Point2 query_;
    double max_distance2_ = 0;     // nothing farther is yielded; tightens as points are found
    std::size_t remaining_ = 0;    // points still to yield
    std::vector<NodeItem> nodes_;  // binary heap of nodes to open, nearest first
    // Points found but not yet yielded, ascending by (distance, index) from candidates_[first_];
    // never more than remaining_ of them.
    std::vector<Hit> candidates_;
    std::size_t first_ = 0;
  };

  // Reserves room for about `expected_points` points.
  explicit Neighbourhood(std::size_t expected_points = 0);

  void insert(Point2 point, std::size_t index);
  [[nodiscard]] std::size_t size() const { return size_; }
  void clear();

  // The nearest points within `radius` (a point exactly at the radius is taken), at most
  // `max_count` of them, nearest first, into `hits` (cleared first).
  void nearest_within(Point2 query, std::size_t max_count, double radius, NearestWalk& walk,
                      std::vector<Hit>& hits) const;

 private:
  static constexpr std::size_t kMaxEntries = 16;
  static constexpr std::size_t kMinEntries = 6;         // 40 % fill, the split's least share
  static constexpr std::size_t kReinsertCount = 5;      // 30 % of an overflowing node
  static constexpr std::size_t kOverlapCandidates = 2;  // children whose overlap growth is weighed
  static constexpr std::size_t kMaxHeight = 64;

  struct Entry {
    Box box;
    std::size_t id;  // child node, or the caller's index at leaf level
  };
  // Entries stored field by field (one spare slot holds an overflow): a walk through a leaf
  // reads only the lower corners, which are the points, and their ids.
  struct Node {
    static constexpr std::size_t kSlots = kMaxEntries + 1;
    std::size_t count = 0;
    unsigned level = 0;  // 0 for leaves
    // What a walk through a leaf reads comes first.
    std::array<double, kSlots> min_x, min_y;
    std::array<std::size_t, kSlots> id;
    std::array<double, kSlots> max_x, max_y;

    [[nodiscard]] Box box(std::size_t k) const { return {min_x[k], min_y[k], max_x[k], max_y[k]}; }
    [[nodiscard]] Entry entry(std::size_t k) const { return {box(k), id[k]}; }
    void set_box(std::size_t k, const Box& b) {
      min_x[k] = b.min_x;
      min_y[k] = b.min_y;
      max_x[k] = b.max_x;
      max_y[k] = b.max_y;
    }
    void set(std::size_t k, const Entry& e) {
      set_box(k, e.box);
      id[k] = e.id;
    }
    void push(const Entry& e) { set(count++, e); }
  };
  struct PathStep {
    std::size_t node;
    std::size_t slot;
  };

  void insert_entry(const Entry& entry, unsigned level);
  [[nodiscard]] std::size_t choose_subtree(const Node& node, const Box& box) const;
  [[nodiscard]] std::size_t split(std::size_t node_id);
  void reinsert(std::size_t node_id, std::size_t depth);
  [[nodiscard]] Box bounds(std::size_t node_id) const;
  std::size_t new_node(unsigned level);

  std::vector<Node> nodes_;
  std::size_t root_ = 0;
  std::size_t size_ = 0;
  std::uint64_t reinserted_levels_ = 0;  // levels already reinserted during this insert
  std::array<PathStep, kMaxHeight> path_{};
  std::size_t path_depth_ = 0;
};

}  // namespace zorvatools
