#pragma once
// Grid dimensions and cell numbering: cell (i, j, k) has linear index i + ni * (j + nj * k).

#include <cstddef>
#include <iterator>

#include "zorvastatic/error.hpp"

namespace zorvastatic {

struct CellIndex {
  std::size_t i = 0;
  std::size_t j = 0;
  std::size_t k = 0;
  friend bool operator==(const CellIndex&, const CellIndex&) = default;
};

struct Dims {
  std::size_t ni = 0;
  std::size_t nj = 0;
  std::size_t nk = 0;

  // Fails when any size is zero.
  static Result<Dims> create(std::size_t ni, std::size_t nj, std::size_t nk);

  [[nodiscard]] std::size_t cell_count() const { return ni * nj * nk; }
  [[nodiscard]] std::size_t layer_cells() const { return ni * nj; }
  [[nodiscard]] std::size_t linear(std::size_t i, std::size_t j, std::size_t k) const {
    return i + ni * (j + nj * k);
  }
  [[nodiscard]] std::size_t linear(const CellIndex& c) const { return linear(c.i, c.j, c.k); }
  [[nodiscard]] CellIndex triple(std::size_t c) const {
    const std::size_t in_layer = c % (ni * nj);
    return {in_layer % ni, in_layer / ni, c / (ni * nj)};
  }

  // Every (i, j, k) once, in linear-index order (k outermost, i innermost).
  class Iterator {
   public:
    using value_type = CellIndex;
    using difference_type = std::ptrdiff_t;
    Iterator() = default;
    Iterator(std::size_t ni, std::size_t nj, CellIndex at) : ni_(ni), nj_(nj), at_(at) {}
    const CellIndex& operator*() const { return at_; }
    Iterator& operator++() {
      if (++at_.i == ni_) {
        at_.i = 0;
        if (++at_.j == nj_) {
          at_.j = 0;
          ++at_.k;
        }
      }
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) { return a.at_ == b.at_; }

   private:
    std::size_t ni_ = 0;
    std::size_t nj_ = 0;
    CellIndex at_;
  };

  struct Range {
    Iterator first;
    Iterator last;
    [[nodiscard]] Iterator begin() const { return first; }
    [[nodiscard]] Iterator end() const { return last; }
  };

  [[nodiscard]] Range iter() const {
    if (cell_count() == 0) return {Iterator(ni, nj, {}), Iterator(ni, nj, {})};
    return {Iterator(ni, nj, {0, 0, 0}), Iterator(ni, nj, {0, 0, nk})};
  }

  friend bool operator==(const Dims&, const Dims&) = default;
};

}  // namespace zorvastatic
