#pragma once
// Correlations between lattice nodes looked up by their offset in nodes. On many lattices (no
// rotation, origin and spacings on a binary grid fine enough) every node position is a multiple of
// one power of two, few enough of them that the positions and their differences are exact: the
// lag between two nodes, computed from their positions, is then the same pair of doubles for every
// two nodes so offset, and so is its correlation. The table holds those correlations, evaluated
// once, so lookups give to the bit what evaluating the lags would.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/geostat/variogram.hpp"

namespace zorvatools {

// Node positions whose differences are exact: position (i, j) is along_i[i] + along_j[j], and the
// lag of an offset (di, dj) is (di step_i + dj step_j) 2^exponent in whole numbers.
struct ExactLags {
  int exponent = 0;
  std::int64_t step_i_x = 0;
  std::int64_t step_i_y = 0;
  std::int64_t step_j_x = 0;
  std::int64_t step_j_y = 0;

  // The lag between two nodes di, dj apart (|di| < along_i.size(), |dj| < along_j.size()).
  [[nodiscard]] Point2 lag(std::int64_t di, std::int64_t dj) const;
};

// The exact lags of the positions along_i[i] + along_j[j], or nothing when some sum or difference
// of positions would round, or the positions do not step evenly along i and along j.
[[nodiscard]] std::optional<ExactLags> exact_lags(std::span<const Point2> along_i,
                                                  std::span<const Point2> along_j);

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
