#pragma once
// Volumetrics over a model held one k-layer at a time (out of core): a source hands out slabs,
// a slab answers per cell of its layer.

#include <cstddef>
#include <span>

#include "zorvastatic/error.hpp"
#include "zorvastatic/grid/geometry.hpp"

namespace zorvastatic {

// One k-layer: corner depths and property values as 32-bit floats, vertical pillars in memory.
struct CellSlab {
  std::span<const float> zcorn;  // 8 per cell, cells i fastest
  std::span<const Pillar> pillars;
  std::size_t ni = 0;
  std::span<const float> poro;  // empty when the cube was not stored
  std::span<const float> ntg;
  std::span<const float> sw;

  [[nodiscard]] std::size_t cell_count() const { return zcorn.size() / 8; }
  [[nodiscard]] std::size_t row_length() const { return ni; }
  [[nodiscard]] const float* row_depths(std::size_t c) const { return zcorn.data() + 8 * c; }
  // Volume of cell c = i + ni * j of this layer.
  [[nodiscard]] double cell_volume(std::size_t c) const { return cell_volume(c, c / ni); }
  [[nodiscard]] double cell_volume(std::size_t c, std::size_t j) const {
    double depths[8];
    for (std::size_t n = 0; n < 8; ++n) depths[n] = static_cast<double>(zcorn[8 * c + n]);
    return vertical_cell_volume(pillars.data(), c + j, ni, depths);
  }
  [[nodiscard]] const float* poro_values() const { return poro.data(); }
  [[nodiscard]] const float* ntg_values() const { return ntg.data(); }
  [[nodiscard]] const float* sw_values() const { return sw.data(); }
};

class SlabSource {
 public:
  virtual ~SlabSource() = default;
  [[nodiscard]] virtual std::size_t nk() const = 0;
  [[nodiscard]] virtual std::size_t layer_cells() const = 0;
  [[nodiscard]] virtual std::size_t row_length() const = 0;
  // Fails naming the first of "PORO", "NTG", "SW" that is missing.
  [[nodiscard]] virtual Status require_cubes() const = 0;
  // Slab k; valid until the next call or the source's end.
  [[nodiscard]] virtual Result<CellSlab> slab(std::size_t k) const = 0;
};

}  // namespace zorvastatic
