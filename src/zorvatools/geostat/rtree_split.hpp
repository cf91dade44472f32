#pragma once
// The R*-tree split of an overflowing node: which entries stay and which move to a new sibling.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "zorvatools/geostat/rtree_box.hpp"

namespace zorvatools {

inline constexpr std::size_t kRtreeSplitMaxEntries = 64;

struct RtreeSplit {
  // Entry positions in split order: the first `kept` stay, the rest move.
  std::array<std::uint8_t, kRtreeSplitMaxEntries> order;
  std::size_t kept = 0;
};

// Chooses the axis with the least total margin over all distributions that leave each side at
// least `min_entries` entries, then along it the distribution with the least overlap, then area,
// then margin. `points` says every box is a point, so sorting by upper bounds would repeat the
// sort by lower bounds and is skipped.
[[nodiscard]] RtreeSplit rtree_split(std::span<const RtreeBox> boxes, std::size_t min_entries,
                                     bool points);

}  // namespace zorvatools
