#include "zorvastatic/spill/backing.hpp"

#include <algorithm>

#include "zorvastatic/grid/box_construction.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/foundation/large_array.hpp"

namespace zorvastatic {
namespace {

constexpr std::string_view kReading = "reading the store";

}  // namespace

SpillBacking::SpillBacking(zorvatools::store::Store store, std::filesystem::path path,
                           std::vector<Pillar> pillars, std::vector<std::string> cube_names,
                           std::size_t ni, std::size_t nj, std::size_t nk, StoreGuard guard)
    : store_(std::move(store)),
      path_(std::move(path)),
      pillars_(std::move(pillars)),
      cube_names_(std::move(cube_names)),
      ni_(ni),
      nj_(nj),
      nk_(nk),
      guard_(std::move(guard)) {}

bool SpillBacking::has_cube(const std::string& name) const {
  return std::ranges::find(cube_names_, name) != cube_names_.end();
}

Result<Grid> SpillBacking::to_in_core_grid() const {
  const Dims dims = this->dims();
  std::vector<double> zcorn;
  zorvatools::reserve_large(zcorn, 8 * dims.cell_count());
  // Reading every lane, layer by layer: ZCORN's eight corners a cell, then each cube.
  const std::uint64_t total = nk_ * (8 + cube_names_.size());
  for (std::size_t k = 0; k < nk_; ++k) {
    ZV_TRY(zorvatools::poll_call(kReading, 8 * k, total));
    ZV_ASSIGN_OR_RETURN(const std::span<const float> slab, store_.slab_f32("ZCORN", k));
    zcorn.insert(zcorn.end(), slab.begin(), slab.end());
  }
  zorvatools::require(
      pillars_.size() == (ni_ + 1) * (nj_ + 1) && zcorn.size() == 8 * dims.cell_count(),
      "spilled grid sizes disagree with the store");
  Grid grid{CornerPointGeom(dims, pillars_, std::move(zcorn)), layer_labels(nk_),
            Properties(dims.cell_count())};
  std::uint64_t done = 8 * nk_;
  for (const std::string& name : cube_names_) {
    std::vector<double> values;
    values.reserve(dims.cell_count());
    for (std::size_t k = 0; k < nk_; ++k) {
      ZV_TRY(zorvatools::poll_call(kReading, done++, total));
      ZV_ASSIGN_OR_RETURN(const std::span<const float> slab, store_.slab_f32(name, k));
      values.insert(values.end(), slab.begin(), slab.end());
    }
    ZV_TRY(grid.properties.set({name, std::move(values)}));
  }
  return grid;
}

Status SpillSource::require_cubes() const {
  for (const char* name : {"PORO", "NTG", "SW"}) {
    if (!backing_.has_cube(name)) {
      return std::unexpected(StaticError::invalid_input(
          std::string("spilled grid is missing required property '") + name + "'"));
    }
  }
  return {};
}

Result<CellSlab> SpillSource::slab(std::size_t k) const {
  const zorvatools::store::Store& store = backing_.store();
  ZV_ASSIGN_OR_RETURN(const std::span<const float> zcorn, store.slab_f32("ZCORN", k));
  CellSlab slab{zcorn, backing_.pillars(), backing_.dims().ni, {}, {}, {}};
  std::span<const float>* cubes[3] = {&slab.poro, &slab.ntg, &slab.sw};
  const char* names[3] = {"PORO", "NTG", "SW"};
  for (int n = 0; n < 3; ++n) {
    if (!backing_.has_cube(names[n])) continue;
    ZV_ASSIGN_OR_RETURN(*cubes[n], store.slab_f32(names[n], k));
  }
  return slab;
}

}  // namespace zorvastatic
