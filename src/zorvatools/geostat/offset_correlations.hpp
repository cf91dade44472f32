#pragma once
// Correlations between lattice nodes looked up by their offset in nodes, on lattices with exact
// lags (exact_lags.hpp): every two nodes one offset apart compute one correlation, so the table
// holds those correlations, evaluated once, and lookups give to the bit what evaluating the lags
// would.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/geostat/exact_lags.hpp"
#include "zorvatools/geostat/variogram.hpp"

namespace zorvatools {

class OffsetCorrelations {
 public:
  // The correlations of the offsets up to reach_i and reach_j nodes either way, or nothing when
  // the lags are not exact or the table would hold more than `max_entries`. The reaches must be
  // below the node counts.
  [[nodiscard]] static std::optional<OffsetCorrelations> build(const Correlation& correlation,
                                                               std::span<const Point2> along_i,
                                                               std::span<const Point2> along_j,
                                                               std::size_t reach_i,
                                                               std::size_t reach_j,
                                                               std::size_t max_entries);

  [[nodiscard]] std::size_t reach_i() const { return reach_i_; }
  [[nodiscard]] std::size_t reach_j() const { return reach_j_; }

  // rho of the lag from a node to the node di, dj away, |di| <= reach_i, |dj| <= reach_j.
  [[nodiscard]] double operator()(std::int32_t di, std::int32_t dj) const {
    return at_key(key(di, dj));
  }
  // The entry of offset (di, dj) lies key(di, dj) entries from that of (0, 0), so the entry of the
  // difference of two offsets lies at the difference of their keys.
  [[nodiscard]] std::ptrdiff_t key(std::int32_t di, std::int32_t dj) const {
    return di * width_ + dj;
  }
  [[nodiscard]] double at_key(std::ptrdiff_t key) const {
    return rho_[static_cast<std::size_t>(centre_ + key)];
  }

 private:
  // Rows of di from -reach_i, dj fastest from -reach_j; the entries of opposite offsets are one
  // value (rho is even in the lag), so the lag from a to b and from b to a look up the same.
  std::vector<double> rho_;
  std::size_t reach_i_ = 0;
  std::size_t reach_j_ = 0;
  std::ptrdiff_t width_ = 0;
  std::ptrdiff_t centre_ = 0;  // the entry of offset (0, 0)
};

}  // namespace zorvatools
