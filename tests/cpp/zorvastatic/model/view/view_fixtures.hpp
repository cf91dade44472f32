#pragma once
// Models assembled by hand around small box grids, and JSON parsing that keeps key order.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "grid_fixtures.hpp"
#include "zorvastatic/model/model.hpp"

namespace zorvastatic::testing {

using Json = nlohmann::ordered_json;

inline std::shared_ptr<const Horizon> flat_horizon(std::string name, HorizonRole role,
                                                   double depth = 2000) {
  return std::make_shared<Horizon>(
      Horizon{std::move(name), std::vector<double>(4, depth), 2, 2, role});
}

// A single-zone model over `grid`: Top horizon "top", one OWC at 2100 m, the unit-square outline.
inline StaticModel box_model(Grid grid) {
  const std::size_t nk = grid.dims().nk;
  return StaticModel{
      .sw_gas = std::nullopt,
      .provenance = {},
      .georef = std::nullopt,
      .sugar_cube = false,
      .wireframe = Wireframe{{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}},
                             {Contact{2100, ContactKind::Owc}},
                             {flat_horizon("top", HorizonRole::Top)}},
      .grid = std::move(grid),
      .zone_table = ZoneTable::single(nk),
      .zone_contacts = std::nullopt,
      .spill = nullptr,
  };
}

// Sets a cube whose value at cell (i, j, k) is fn(i, j, k).
inline void set_cube(Grid& grid, const std::string& name,
                     const std::function<double(std::size_t, std::size_t, std::size_t)>& fn) {
  std::vector<double> values;
  values.reserve(grid.dims().cell_count());
  for (const CellIndex& c : grid.dims().iter()) values.push_back(fn(c.i, c.j, c.k));
  ASSERT_TRUE(grid.properties.set({name, std::move(values)}));
}

// Rebuilds the grid's geometry with each corner depth replaced by fn(cell, corner, depth).
inline void reshape_depths(Grid& grid,
                           const std::function<double(const CellIndex&, int, double)>& fn) {
  std::vector<double> zcorn = grid.geom.zcorn();
  for (const CellIndex& cell : grid.dims().iter()) {
    double* depths = zcorn.data() + 8 * grid.dims().linear(cell);
    for (int n = 0; n < 8; ++n) depths[n] = fn(cell, n, depths[n]);
  }
  grid.geom = CornerPointGeom(grid.dims(), grid.geom.pillars(), std::move(zcorn));
}

inline std::vector<std::string> keys_of(const Json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items()) keys.push_back(item.key());
  return keys;
}

}  // namespace zorvastatic::testing
