#pragma once
// Volumes of a whole row of cells standing on vertical pillars, computed together so that the
// one volume rule runs several cells per instruction. Each cell goes through exactly the
// arithmetic of hexahedron_volume, so the results are the same bit for bit.

#include <cstddef>
#include <span>
#include <vector>

#include "zorvastatic/grid/geometry.hpp"

namespace zorvastatic {

// The pillar tops' x and y as two flat arrays (pillar order), read row by row.
struct PillarTops {
  std::vector<double> x;
  std::vector<double> y;

  explicit PillarTops(std::span<const Pillar> pillars);
};

// Mean corner depths and bulk volumes of the ni cells of one row, sized once per computation.
class RowVolumes {
 public:
  explicit RowVolumes(std::size_t ni) : ni_(ni), mean_depths_(ni), volumes_(ni) {}

  // Row j of a layer: `zcorn` holds the eight corner depths of each of the row's cells.
  void compute(const PillarTops& tops, std::size_t j, const double* zcorn);
  void compute(const PillarTops& tops, std::size_t j, const float* zcorn);

  [[nodiscard]] double mean_depth(std::size_t i) const { return mean_depths_[i]; }
  [[nodiscard]] double volume(std::size_t i) const { return volumes_[i]; }

 private:
  std::size_t ni_;
  std::vector<double> mean_depths_;
  std::vector<double> volumes_;
};

}  // namespace zorvastatic
