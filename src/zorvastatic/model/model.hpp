#pragma once
// A built static model: its grid (or the store it was spilled to), zone table, provenance and
// the wireframe it was built from.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zorvastatic/grid/grid.hpp"
#include "zorvastatic/model/georef.hpp"
#include "zorvastatic/model/provenance.hpp"
#include "zorvastatic/model/wireframe.hpp"
#include "zorvastatic/model/zones.hpp"
#include "zorvastatic/volumetrics/contact_spec.hpp"
#include "zorvastatic/volumetrics/in_place.hpp"

namespace zorvastatic {

class SpillBacking;

struct StaticModel {
  std::optional<double> sw_gas;  // water saturation of gas-cap cells
  Provenance provenance;
  std::optional<Georef> georef;
  bool sugar_cube = false;
  Wireframe wireframe;
  Grid grid;
  ZoneTable zone_table;
  std::optional<std::vector<std::vector<Contact>>> zone_contacts;  // one list per zone
  std::shared_ptr<const SpillBacking> spill;  // present when the grid lives in a store

  // Replaces the per-zone contact lists.
  StaticModel with_zone_contacts(std::vector<std::vector<Contact>> contacts) &&;

  [[nodiscard]] bool spilled() const { return spill != nullptr; }

  // Cells with k in [k_start, k_end), in memory or slab by slab.
  [[nodiscard]] Result<InPlace> volumetrics(const ContactSpec& spec, std::size_t k_start,
                                            std::size_t k_end, bool with_cells) const;
  // The whole model clipped by the wireframe's contacts.
  [[nodiscard]] Result<InPlace> in_place_impl(bool with_cells) const;
  // Per zone (each with its own contacts when the model has them) and the total.
  [[nodiscard]] Result<ZonedInPlace> in_place_by_zone() const;
  // Gross volume of every cell (no clipping); fails when a spilled store cannot be read or the
  // sum overflows.
  [[nodiscard]] Result<double> bulk_volume() const;
  // Names of the populated property cubes, in ascending byte order.
  [[nodiscard]] std::vector<std::string> property_names() const;
  // Number of layers of the model's grid (of the store when spilled).
  [[nodiscard]] std::size_t layer_count() const;
};

}  // namespace zorvastatic
