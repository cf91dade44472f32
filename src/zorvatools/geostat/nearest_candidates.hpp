#pragma once
// Points a nearest-neighbour walk has found but not yet yielded, in ascending (distance, index).

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorvatools {

// At most `limit` points are ever kept, the yielded ones included: a point that would rank
// beyond is dropped, and once the list is full nothing at or beyond its last point enters.
// Every point offered must rank after every point already yielded (a walk opens a node before
// yielding anything as far as the node).
//
// Where the processor has 512-bit vectors (with their mask logic), up to 16 points are kept as
// lanes of two vectors per field, and a batch of points is inserted with the lanes held in
// registers: a handful of vector operations per point instead of a loop of unpredictable length.
// Otherwise, and for larger limits, they are kept in a sorted array.
class NearestCandidates {
 public:
  struct Candidate {
    double distance2;     // never negative
    std::uint32_t where;  // the caller's reference to the point
    std::uint32_t index;  // the caller's index of the point; breaks ties in distance
  };
  static constexpr std::size_t kLanes = 16;

  // Empties the list for a walk that yields at most `limit` points. `vector_lanes` false keeps
  // to the sorted array whatever the processor (both ways give the same results).
  void reset(std::size_t limit, bool vector_lanes = true);
  // Offers the points in turn.
  void offer(const Candidate* points, std::size_t count);
  // `limit` points kept: nothing beyond the last of them can enter any more.
  [[nodiscard]] bool full() const { return count_ == limit_; }
  [[nodiscard]] double last_distance2() const { return at(count_ - 1).distance2; }
  [[nodiscard]] bool has_next() const { return first_ < count_; }
  // The nearest point not yet yielded; only when has_next().
  [[nodiscard]] Candidate next() const { return at(first_); }
  void pop() { ++first_; }

 private:
  // Lane k holds the k-th point; lanes from count_ on hold empty keys.
  struct alignas(64) Lanes {
    std::array<std::int64_t, kLanes> key;  // the distances' bit patterns, ordered like them
    std::array<std::int64_t, kLanes> index;
    std::array<std::int64_t, kLanes> where;
  };

  [[nodiscard]] Candidate at(std::size_t k) const;
  void insert_sorted(const Candidate& point);

  bool in_lanes_ = false;
  std::size_t limit_ = 0;
  std::size_t count_ = 0;  // points kept, yielded ones included
  std::size_t first_ = 0;  // points yielded
  Lanes lanes_{};
  std::vector<Candidate> sorted_;
};

}  // namespace zorvatools
