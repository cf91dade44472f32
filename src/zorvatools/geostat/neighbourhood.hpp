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
#include "zorvatools/geostat/nearest_candidates.hpp"
#include "zorvatools/geostat/nearest_first_queue.hpp"
#include "zorvatools/geostat/rtree_box.hpp"

namespace zorvatools {

class Neighbourhood {
 public:
  using Box = RtreeBox;

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
    struct Queued {
      double distance2;  // least squared distance of anything inside
      std::uint32_t node;
      std::uint32_t level;  // 0: a leaf
    };
    void open_leaf(std::uint32_t leaf_id);
    void open_inner(std::uint32_t inner_id, std::uint32_t level);

    const Neighbourhood* tree_ = nullptr;
    Point2 query_;
    double max_distance2_ = 0;         // nothing farther is yielded; tightens as points are found
    std::size_t remaining_ = 0;        // points still to yield
    NearestFirstQueue<Queued> queue_;  // nodes to open
    // Points found but not yet yielded; a point's position stays in its leaf until then, the
    // candidate refers to it by leaf << kSlotBits | slot.
    NearestCandidates candidates_;
  };

  // Reserves room for about `expected_points` points.
  explicit Neighbourhood(std::size_t expected_points = 0);

  // `index` must fit in 32 bits.
  void insert(Point2 point, std::size_t index);
  [[nodiscard]] std::size_t size() const { return size_; }
  void clear();

  // The nearest points within `radius` (a point exactly at the radius is taken), at most
  // `max_count` of them, nearest first, into `hits` (cleared first).
  void nearest_within(Point2 query, std::size_t max_count, double radius, NearestWalk& walk,
                      std::vector<Hit>& hits) const;

 private:
  static constexpr std::size_t kOverlapCandidates = 2;  // children whose overlap growth is weighed
  static constexpr std::size_t kMaxHeight = 64;
  static constexpr unsigned kSlotBits = 5;  // a leaf's slot in a walk's reference to a point

  // The capacities of a kind of node: at most kMaxEntries entries, one spare slot holding an
  // overflow; a split leaves at least kMinEntries (about 40 %) on either side. kReinsertCount
  // entries of an overflowing node are reinserted: fewer than the customary 30 % make inserts
  // cheaper and, on simulation lattices, trees that walk as fast.
  template <std::size_t MaxEntries, std::size_t MinEntries, std::size_t ReinsertCount>
  struct Capacity {
    static constexpr std::size_t kMaxEntries = MaxEntries;
    static constexpr std::size_t kMinEntries = MinEntries;
    static constexpr std::size_t kReinsertCount = ReinsertCount;
    static constexpr std::size_t kSlots = MaxEntries + 1;
  };

  struct Entry {
    Box box;
    std::uint32_t id;  // child node, or the caller's index at leaf level
  };
  // Leaves hold points only, field by field: a walk reads the count, the coordinates and then
  // the indices of the few points it keeps. Cache-line aligned so a leaf spans few lines.
  struct alignas(64) Leaf : Capacity<16, 6, 3> {
    std::uint32_t count = 0;
    std::array<double, kSlots> x, y;
    std::array<std::uint32_t, kSlots> index;

    [[nodiscard]] Box box(std::size_t k) const { return {x[k], y[k], x[k], y[k]}; }
    [[nodiscard]] Entry entry(std::size_t k) const { return {box(k), index[k]}; }
    void set(std::size_t k, const Entry& e) {
      x[k] = e.box.min_x;
      y[k] = e.box.min_y;
      index[k] = e.id;
    }
    void push(const Entry& e) { set(count++, e); }
  };
  static_assert(Leaf::kSlots <= (1u << kSlotBits));
  // Inner nodes: children's boxes field by field, then the children's ids (leaves when the node
  // is at level 1, inner nodes above). Fewer children than a leaf has points: a walk then
  // queues fewer nodes it never opens, and an insert weighs fewer children per level.
  struct alignas(64) Inner : Capacity<8, 3, 2> {
    std::uint32_t count = 0;
    std::array<double, kSlots> min_x, min_y, max_x, max_y;
    std::array<std::uint32_t, kSlots> child;

    [[nodiscard]] Box box(std::size_t k) const { return {min_x[k], min_y[k], max_x[k], max_y[k]}; }
    [[nodiscard]] Entry entry(std::size_t k) const { return {box(k), child[k]}; }
    void set_box(std::size_t k, const Box& b) {
      min_x[k] = b.min_x;
      min_y[k] = b.min_y;
      max_x[k] = b.max_x;
      max_y[k] = b.max_y;
    }
    void set(std::size_t k, const Entry& e) {
      set_box(k, e.box);
      child[k] = e.id;
    }
    void push(const Entry& e) { set(count++, e); }
  };
  struct PathStep {
    std::uint32_t node;  // an inner node
    std::uint32_t slot;
  };

  void insert_entry(const Entry& entry, unsigned level);
  template <class Node>
  void handle_overflow(std::vector<Node>& nodes, std::uint32_t id, unsigned level);
  [[nodiscard]] std::size_t choose_subtree(const Inner& node, unsigned level, const Box& box) const;
  template <class Node>
  [[nodiscard]] std::uint32_t split(std::vector<Node>& nodes, std::uint32_t id, unsigned level);
  template <class Node>
  void reinsert(std::vector<Node>& nodes, std::uint32_t id, unsigned level);
  [[nodiscard]] Box bounds(std::uint32_t id, unsigned level) const;
  template <class Node>
  [[nodiscard]] std::uint32_t new_node(std::vector<Node>& nodes);

  std::vector<Leaf> leaves_;
  std::vector<Inner> inners_;
  std::uint32_t root_ = 0;
  unsigned height_ = 0;  // the root's level; leaves are at level 0
  std::size_t size_ = 0;
  std::uint64_t reinserted_levels_ = 0;  // levels already reinserted during this insert
  std::array<PathStep, kMaxHeight> path_{};
  std::size_t path_depth_ = 0;
};

}  // namespace zorvatools
