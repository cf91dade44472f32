#pragma once
// A square sparse matrix stored by rows, as assembled for the minimum-curvature system.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zorvatools {

// Row r's columns (ascending) and values are [start[r], start[r + 1]).
struct CompressedRows {
  std::size_t n = 0;
  std::vector<std::int64_t> start;
  std::vector<std::int32_t> column;
  std::vector<double> value;

  // y = A x.
  void multiply(std::span<const double> x, std::span<double> y) const;
  // Largest absolute row sum.
  [[nodiscard]] double norm_inf() const;
};

}  // namespace zorvatools
