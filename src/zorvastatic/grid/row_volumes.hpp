#pragma once
// Mean depths and volumes of a whole row of cells, computed together so that the one depth rule
// and the one volume rule run several cells per instruction. Each cell comes out exactly as the
// per-cell rules give it, bit for bit.

#include <cstddef>
#include <span>
#include <vector>

#include "zorvastatic/grid/geometry.hpp"

namespace zorvastatic {

// The pillar tops' x and y as two flat arrays (pillar order), read row by row.
struct PillarTops {
  std::vector<double> x;
  std::vector<double> y;
  bool moderate = false;  // every coordinate within ±1e100 (NaN is not)

  explicit PillarTops(std::span<const Pillar> pillars);

  // The pillar lines of row j of a grid ni cells wide: x0, y0 the lower one (ni + 1 pillars),
  // x1, y1 the upper one; cell i stands on pillars i and i + 1 of both.
  struct Row {
    const double* x0;
    const double* y0;
    const double* x1;
    const double* y1;
  };
  [[nodiscard]] Row row(std::size_t j, std::size_t ni) const {
    const std::size_t lower = j * (ni + 1);
    const std::size_t upper = lower + ni + 1;
    return {x.data() + lower, y.data() + lower, x.data() + upper, y.data() + upper};
  }
};

// Mean corner depths and bulk volumes of the ni cells of one row, sized once per computation.
// `zcorn` holds the eight corner depths of each of the row's cells.
class RowVolumes {
 public:
  explicit RowVolumes(std::size_t ni) : mean_depths_(ni), volumes_(ni) {}

  [[nodiscard]] std::size_t size() const { return volumes_.size(); }

  // Mean corner depths (the sum of the eight, times 0.125) of any row.
  void compute_depths(const double* zcorn);
  void compute_depths(const float* zcorn);
  // Mean depths and volumes of row j of a layer standing on vertical pillars.
  void compute(const PillarTops& tops, std::size_t j, const double* zcorn);
  void compute(const PillarTops& tops, std::size_t j, const float* zcorn);
  // The same without trying the shortcut, for a row already known not to take it.
  void compute_by_general_rule(const PillarTops& tops, std::size_t j, const double* zcorn);
  void compute_by_general_rule(const PillarTops& tops, std::size_t j, const float* zcorn);

  [[nodiscard]] double mean_depth(std::size_t i) const { return mean_depths_[i]; }
  [[nodiscard]] double volume(std::size_t i) const { return volumes_[i]; }
  [[nodiscard]] std::span<const double> mean_depths() const { return mean_depths_; }
  [[nodiscard]] std::span<const double> volumes() const { return volumes_; }
  // Rows off vertical pillars have their volumes set cell by cell.
  [[nodiscard]] std::span<double> volumes() { return volumes_; }

 private:
  std::vector<double> mean_depths_;
  std::vector<double> volumes_;
};

}  // namespace zorvastatic
