#pragma once
// A model on an existing corner-point grid: COORD, ZCORN, ACTNUM and cubes as plain arrays
// (a grid read from a file, or made by another tool), without the builder.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zorvastatic/error.hpp"
#include "zorvastatic/model/georef.hpp"
#include "zorvastatic/model/model.hpp"
#include "zorvastatic/model/wireframe.hpp"

namespace zorvastatic {

struct ZoneLayers {
  std::string name;
  std::size_t k_start = 0;
  std::size_t k_end = 0;  // exclusive
  std::vector<Contact> contacts;
};

struct GridArrays {
  std::size_t ni = 0;
  std::size_t nj = 0;
  std::size_t nk = 0;
  std::vector<double> coord;         // six per pillar (top x, y, z, bottom x, y, z), pillar order
  std::vector<double> zcorn;         // eight per cell, cell order, corners top face first
  std::vector<std::uint8_t> active;  // one per cell, cell order; empty: every cell active
  std::vector<Property> cubes;
  std::vector<ZoneLayers> zones;  // consecutive, shallowest first, covering every layer
  std::optional<double> sw_gas;
  std::optional<Georef> georef;  // when the pillars are in a local frame
  std::vector<Point2> outline;
  std::string inputs_ref = "arrays";
};

// Checks every array and builds the model. An inactive cell is held collapsed (its bottom
// corners on its top corners), so that it has no volume in any computation of the model.
Result<StaticModel> model_from_arrays(GridArrays arrays);

}  // namespace zorvastatic
