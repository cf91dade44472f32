#include "zorvatools/gridding/nested_dissection.hpp"

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {
namespace {

// Blocks with no more nodes than this are ordered as they lie.
constexpr std::size_t kLeafNodes = 64;
// Nodes two apart still share an equation, so a separator is two node lines thick.
constexpr std::size_t kSeparatorWidth = 2;

class Dissection {
 public:
  Dissection(std::size_t ny, std::span<const std::int32_t> node_row, std::vector<std::int64_t>& out)
      : ny_(ny), node_row_(node_row), out_(out) {}

  // Orders the block [i0, i1) x [j0, j1).
  void order(std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
    const std::size_t w = i1 - i0, h = j1 - j0;
    if (w * h <= kLeafNodes || (w <= 2 * kSeparatorWidth && h <= 2 * kSeparatorWidth)) {
      emit(i0, i1, j0, j1);
    } else if (w >= h && w > 2 * kSeparatorWidth) {
      const std::size_t cut = i0 + (w - kSeparatorWidth) / 2;
      order(i0, cut, j0, j1);
      order(cut + kSeparatorWidth, i1, j0, j1);
      emit(cut, cut + kSeparatorWidth, j0, j1);
    } else {
      const std::size_t cut = j0 + (h - kSeparatorWidth) / 2;
      order(i0, i1, j0, cut);
      order(i0, i1, cut + kSeparatorWidth, j1);
      emit(i0, i1, cut, cut + kSeparatorWidth);
    }
  }

 private:
  void emit(std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1) {
    for (std::size_t j = j0; j < j1; ++j) {
      for (std::size_t i = i0; i < i1; ++i) {
        const std::int32_t row = node_row_[i * ny_ + j];
        if (row >= 0) out_.push_back(row);
      }
    }
  }

  std::size_t ny_;
  std::span<const std::int32_t> node_row_;
  std::vector<std::int64_t>& out_;
};

}  // namespace

std::vector<std::int64_t> lattice_nested_dissection(std::size_t nx, std::size_t ny,
                                                    std::span<const std::int32_t> node_row) {
  require(node_row.size() == nx * ny, "nested dissection: node map size mismatch");
  std::vector<std::int64_t> order;
  order.reserve(nx * ny);
  Dissection(ny, node_row, order).order(0, nx, 0, ny);
  return order;
}

}  // namespace zorvatools
