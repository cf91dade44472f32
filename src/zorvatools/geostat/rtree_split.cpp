#include "zorvatools/geostat/rtree_split.hpp"

#include <algorithm>
#include <numeric>
#include <tuple>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {

namespace {

constexpr std::size_t kMax = kRtreeSplitMaxEntries;

// One sorted order of the entries with the bounding boxes of its every head (head[k - 1] holds
// the first k entries) and tail (tail[k] holds the entries from k on).
struct SortedEntries {
  std::array<std::uint8_t, kMax> order;
  std::array<RtreeBox, kMax> head;
  std::array<RtreeBox, kMax> tail;
  double margin_sum = 0;  // over every allowed distribution
};

// Sorted along one axis by the lower (or upper) bound; ties by the other bound, then by
// position, so the result never depends on the sort implementation.
void sort_entries(std::span<const RtreeBox> boxes, int axis, bool by_upper, std::size_t min_entries,
                  SortedEntries& out) {
  const std::size_t n = boxes.size();
  auto key = [&](std::uint8_t k) {
    const RtreeBox& b = boxes[k];
    const double lo = axis == 0 ? b.min_x : b.min_y;
    const double hi = axis == 0 ? b.max_x : b.max_y;
    return by_upper ? std::tuple{hi, lo, k} : std::tuple{lo, hi, k};
  };
  std::iota(out.order.begin(), out.order.begin() + n, std::uint8_t{0});
  std::sort(out.order.begin(), out.order.begin() + n,
            [&](std::uint8_t a, std::uint8_t b) { return key(a) < key(b); });

  out.head[0] = boxes[out.order[0]];
  for (std::size_t k = 1; k < n; ++k) out.head[k] = united(out.head[k - 1], boxes[out.order[k]]);
  out.tail[n - 1] = boxes[out.order[n - 1]];
  for (std::size_t k = n - 1; k-- > 0;) out.tail[k] = united(out.tail[k + 1], boxes[out.order[k]]);
  out.margin_sum = 0;
  for (std::size_t k = min_entries; k <= n - min_entries; ++k) {
    out.margin_sum += margin(out.head[k - 1]) + margin(out.tail[k]);
  }
}

}  // namespace

RtreeSplit rtree_split(std::span<const RtreeBox> boxes, std::size_t min_entries, bool points) {
  const std::size_t n = boxes.size();
  require(n <= kMax && min_entries >= 1 && 2 * min_entries <= n,
          "rtree_split: entry count out of range");
  // sorted[axis][by_upper]
  std::array<std::array<SortedEntries, 2>, 2> sorted;
  const int bounds = points ? 1 : 2;
  std::array<double, 2> margins{0, 0};
  for (int axis = 0; axis < 2; ++axis) {
    for (int upper = 0; upper < bounds; ++upper) {
      sort_entries(boxes, axis, upper == 1, min_entries, sorted[axis][upper]);
      margins[axis] += sorted[axis][upper].margin_sum;
    }
  }
  const int axis = margins[1] < margins[0] ? 1 : 0;

  std::tuple<double, double, double> best_cost;
  const SortedEntries* best = nullptr;
  std::size_t best_k = 0;
  for (int upper = 0; upper < bounds; ++upper) {
    const SortedEntries& s = sorted[axis][upper];
    for (std::size_t k = min_entries; k <= n - min_entries; ++k) {
      const RtreeBox& head = s.head[k - 1];
      const RtreeBox& tail = s.tail[k];
      const std::tuple cost{overlap(head, tail), area(head) + area(tail),
                            margin(head) + margin(tail)};
      if (best == nullptr || cost < best_cost) {
        best_cost = cost;
        best = &s;
        best_k = k;
      }
    }
  }
  return {best->order, best_k};
}

}  // namespace zorvatools
