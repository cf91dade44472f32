#pragma once
// A model held in a store file: geometry depths and cubes as 32-bit floats, one slab per
// k-layer, the pillars in memory. Shared by the model and every reader; the file is removed
// when the last holder lets go, unless it was kept (its guard then guards nothing).

#include <filesystem>
#include <string>
#include <vector>

#include "zorvastatic/grid/grid.hpp"
#include "zorvastatic/spill/store_guard.hpp"
#include "zorvastatic/volumetrics/slab_source.hpp"
#include "zorvatools/store/reader.hpp"

namespace zorvastatic {

class SpillBacking {
 public:
  SpillBacking(zorvatools::store::Store store, std::filesystem::path path,
               std::vector<Pillar> pillars, std::vector<std::string> cube_names, std::size_t ni,
               std::size_t nj, std::size_t nk, StoreGuard guard);
  SpillBacking(const SpillBacking&) = delete;
  SpillBacking& operator=(const SpillBacking&) = delete;
  ~SpillBacking() = default;

  [[nodiscard]] const zorvatools::store::Store& store() const { return store_; }
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] const std::vector<Pillar>& pillars() const { return pillars_; }
  [[nodiscard]] const std::vector<std::string>& cube_names() const { return cube_names_; }
  [[nodiscard]] Dims dims() const { return {ni_, nj_, nk_}; }
  [[nodiscard]] bool delete_on_drop() const { return guard_.removes_store(); }
  [[nodiscard]] bool has_cube(const std::string& name) const;

  // The whole grid rebuilt in memory from the store; the caller owns it.
  [[nodiscard]] Result<Grid> to_in_core_grid() const;

 private:
  zorvatools::store::Store store_;
  std::filesystem::path path_;
  std::vector<Pillar> pillars_;
  std::vector<std::string> cube_names_;
  std::size_t ni_;
  std::size_t nj_;
  std::size_t nk_;
  StoreGuard guard_;
};

// Volumetrics' view of a backing: one k-layer slab at a time.
class SpillSource : public SlabSource {
 public:
  explicit SpillSource(const SpillBacking& backing) : backing_(backing) {}

  [[nodiscard]] std::size_t nk() const override { return backing_.dims().nk; }
  [[nodiscard]] std::size_t layer_cells() const override { return backing_.dims().layer_cells(); }
  [[nodiscard]] std::size_t row_length() const override { return backing_.dims().ni; }
  [[nodiscard]] Status require_cubes() const override;
  [[nodiscard]] Result<CellSlab> slab(std::size_t k) const override;

 private:
  const SpillBacking& backing_;
};

}  // namespace zorvastatic
