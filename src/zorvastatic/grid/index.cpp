#include "zorvastatic/grid/index.hpp"

#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

Result<Dims> Dims::create(std::size_t ni, std::size_t nj, std::size_t nk) {
  if (ni == 0 || nj == 0 || nk == 0) {
    return std::unexpected(StaticError::grid(
        zorvatools::str_cat("dimensions must be non-zero, got (", ni, ",", nj, ",", nk, ")")));
  }
  return Dims{ni, nj, nk};
}

}  // namespace zorvastatic
