#pragma once
// Control grids for horizon-stack tests: node (i, j) at i + ni * j, NaN where fn says so.

#include <cstddef>
#include <functional>
#include <vector>

namespace zorvastatic::testing {

inline std::vector<double> grid_of(std::size_t ni, std::size_t nj,
                                   const std::function<double(std::size_t, std::size_t)>& fn) {
  std::vector<double> values(ni * nj);
  for (std::size_t j = 0; j < nj; ++j) {
    for (std::size_t i = 0; i < ni; ++i) values[i + ni * j] = fn(i, j);
  }
  return values;
}

}  // namespace zorvastatic::testing
