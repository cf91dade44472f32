#pragma once
// The queue of a best-first walk: entries taken nearest first by their `distance2` member.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace zorvatools {

// A short walk pushes a few dozen entries and takes only a handful of them. While the queue is
// small it is an unsorted list with its nearest entry tracked, so a push costs one comparison
// and only a take rescans; past kListLimit entries it turns into a binary heap for the rest of
// the walk, so long walks stay logarithmic. Equally near entries come out in no set order.
template <class Item>
class NearestFirstQueue {
 public:
  static constexpr std::size_t kListLimit = 48;

  void clear() {
    items_.clear();
    nearest_ = 0;
    heap_ = false;
  }
  [[nodiscard]] bool empty() const { return items_.empty(); }
  [[nodiscard]] std::size_t size() const { return items_.size(); }
  [[nodiscard]] const Item& nearest() const { return items_[heap_ ? 0 : nearest_]; }

  void push(const Item& item) {
    items_.push_back(item);
    if (heap_) {
      std::push_heap(items_.begin(), items_.end(), Farther{});
    } else if (items_.size() > kListLimit) {
      std::make_heap(items_.begin(), items_.end(), Farther{});
      heap_ = true;
    } else {
      const bool nearer = item.distance2 < items_[nearest_].distance2;
      nearest_ = nearer ? items_.size() - 1 : nearest_;
    }
  }

  // Removes and returns the nearest entry; the queue must not be empty.
  Item take() {
    if (heap_) {
      std::pop_heap(items_.begin(), items_.end(), Farther{});
      const Item item = items_.back();
      items_.pop_back();
      return item;
    }
    const Item item = items_[nearest_];
    items_[nearest_] = items_.back();
    items_.pop_back();
    // Which entry is nearest is unpredictable, so the scan does not branch on it.
    nearest_ = 0;
    double least = items_.empty() ? 0.0 : items_[0].distance2;
    for (std::size_t k = 1; k < items_.size(); ++k) {
      const double d = items_[k].distance2;
      const bool nearer = d < least;
      least = nearer ? d : least;
      nearest_ = nearer ? k : nearest_;
    }
    return item;
  }

 private:
  struct Farther {
    bool operator()(const Item& a, const Item& b) const { return a.distance2 > b.distance2; }
  };

  std::vector<Item> items_;
  std::size_t nearest_ = 0;  // while a list
  bool heap_ = false;
};

}  // namespace zorvatools
