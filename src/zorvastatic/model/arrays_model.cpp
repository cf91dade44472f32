#include "zorvastatic/model/arrays_model.hpp"

#include <cmath>
#include <limits>
#include <unordered_set>

#include "zorvastatic/grid/grid.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

StaticError invalid(std::string text) {
  return StaticError::invalid_input(std::move(text));
}

// Cell and pillar counts, refused when they do not fit in memory's address arithmetic.
Result<Dims> checked_dims(std::size_t ni, std::size_t nj, std::size_t nk) {
  ZV_ASSIGN_OR_RETURN(const Dims dims, Dims::create(ni, nj, nk));
  std::size_t cells = 0;
  std::size_t corners = 0;
  std::size_t pillar_values = 0;
  if (__builtin_mul_overflow(ni, nj, &cells) || __builtin_mul_overflow(cells, nk, &cells) ||
      __builtin_mul_overflow(cells, std::size_t{8}, &corners) ||
      __builtin_mul_overflow(ni + 1, nj + 1, &pillar_values) ||
      __builtin_mul_overflow(pillar_values, std::size_t{6}, &pillar_values)) {
    return std::unexpected(StaticError::grid(
        str_cat("a grid of ", ni, " x ", nj, " x ", nk, " cells is too large to address")));
  }
  return dims;
}

Status check_lengths(const GridArrays& arrays, const Dims& dims) {
  const std::size_t pillars = (dims.ni + 1) * (dims.nj + 1);
  if (arrays.coord.size() != 6 * pillars) {
    return std::unexpected(invalid(str_cat("COORD has ", arrays.coord.size(), " values, expected ",
                                           6 * pillars, " (six per pillar)")));
  }
  if (arrays.zcorn.size() != 8 * dims.cell_count()) {
    return std::unexpected(invalid(str_cat("ZCORN has ", arrays.zcorn.size(), " values, expected ",
                                           8 * dims.cell_count(), " (eight per cell)")));
  }
  if (!arrays.active.empty() && arrays.active.size() != dims.cell_count()) {
    return std::unexpected(invalid(
        str_cat("ACTNUM has ", arrays.active.size(), " values, expected ", dims.cell_count())));
  }
  return {};
}

Status check_finite(const GridArrays& arrays, const Dims& dims) {
  for (std::size_t n = 0; n < arrays.coord.size(); ++n) {
    if (std::isfinite(arrays.coord[n])) continue;
    const std::size_t p = n / 6;
    return std::unexpected(invalid(str_cat("COORD holds ", arrays.coord[n], " at pillar (",
                                           p % (dims.ni + 1), ", ", p / (dims.ni + 1), ")")));
  }
  for (std::size_t n = 0; n < arrays.zcorn.size(); ++n) {
    if (std::isfinite(arrays.zcorn[n])) continue;
    const std::size_t c = n / 8;
    const std::size_t layer = dims.layer_cells();
    return std::unexpected(
        invalid(str_cat("ZCORN holds ", arrays.zcorn[n], " at cell (", c % layer % dims.ni, ", ",
                        c % layer / dims.ni, ", ", c / layer, ") corner ", n % 8)));
  }
  return {};
}

Result<std::vector<Pillar>> pillars_from(const std::vector<double>& coord) {
  std::vector<Pillar> pillars(coord.size() / 6);
  for (std::size_t p = 0; p < pillars.size(); ++p) {
    const double* v = coord.data() + 6 * p;
    pillars[p] = {{v[0], v[1], v[2]}, {v[3], v[4], v[5]}};
  }
  return pillars;
}

Result<Properties> cubes_from(std::vector<Property> cubes, std::size_t cells) {
  Properties properties(cells);
  std::unordered_set<std::string> seen;
  for (Property& cube : cubes) {
    if (cube.name.empty()) return std::unexpected(invalid("a property has an empty name"));
    if (!seen.insert(cube.name).second) {
      return std::unexpected(invalid(str_cat("property '", cube.name, "' is given twice")));
    }
    ZV_TRY(properties.set(std::move(cube)));
  }
  return properties;
}

Result<ZoneTable> zones_from(const std::vector<ZoneLayers>& zones, std::size_t nk) {
  if (zones.empty()) return std::unexpected(invalid("a grid needs at least one zone"));
  ZoneTable table;
  std::unordered_set<std::string> seen;
  std::size_t next = 0;
  for (const ZoneLayers& zone : zones) {
    if (zone.name.empty()) return std::unexpected(invalid("a zone has an empty name"));
    if (!seen.insert(zone.name).second) {
      return std::unexpected(invalid(str_cat("zone '", zone.name, "' is given twice")));
    }
    if (zone.k_start != next || zone.k_end < zone.k_start || zone.k_end > nk) {
      return std::unexpected(invalid(str_cat(
          "zone '", zone.name, "' covers layers [", zone.k_start, ", ", zone.k_end, "); expected [",
          next, ", k) with k <= ", nk, ": zones follow each other from the top")));
    }
    for (const Contact& contact : zone.contacts) {
      if (!std::isfinite(contact.depth_m)) {
        return std::unexpected(StaticError::out_of_range(
            str_cat("zone '", zone.name, "': ", contact_kind_name(contact.kind),
                    " depth must be finite, got ", contact.depth_m)));
      }
    }
    table.zones.push_back({zone.name, zone.name + " top", zone.name + " base", std::nullopt,
                           zone.k_start, zone.k_end});
    next = zone.k_end;
  }
  if (next != nk) {
    return std::unexpected(
        invalid(str_cat("the zones cover layers [0, ", next, ") of a grid of ", nk, " layers")));
  }
  return table;
}

// Inactive cells keep their top corners and have their bottom ones moved onto them.
void collapse_inactive(std::vector<double>& zcorn, const std::vector<std::uint8_t>& active) {
  for (std::size_t c = 0; c < active.size(); ++c) {
    if (active[c] != 0) continue;
    double* z = zcorn.data() + 8 * c;
    for (int n = 0; n < 4; ++n) z[n + 4] = z[n];
  }
}

}  // namespace

Result<StaticModel> model_from_arrays(GridArrays arrays) {
  ZV_ASSIGN_OR_RETURN(const Dims dims, checked_dims(arrays.ni, arrays.nj, arrays.nk));
  ZV_TRY(check_lengths(arrays, dims));
  ZV_TRY(check_finite(arrays, dims));
  if (arrays.sw_gas && !(*arrays.sw_gas >= 0 && *arrays.sw_gas <= 1)) {
    return std::unexpected(
        invalid(str_cat("sw_gas must be a fraction in [0,1], got ", *arrays.sw_gas)));
  }
  ZV_ASSIGN_OR_RETURN(ZoneTable zone_table, zones_from(arrays.zones, dims.nk));
  ZV_ASSIGN_OR_RETURN(std::vector<Pillar> pillars, pillars_from(arrays.coord));
  ZV_ASSIGN_OR_RETURN(Properties properties,
                      cubes_from(std::move(arrays.cubes), dims.cell_count()));
  collapse_inactive(arrays.zcorn, arrays.active);

  std::vector<std::vector<Contact>> zone_contacts;
  Wireframe wireframe{std::move(arrays.outline), {}, {}};
  for (ZoneLayers& zone : arrays.zones) {
    wireframe.contacts.insert(wireframe.contacts.end(), zone.contacts.begin(), zone.contacts.end());
    zone_contacts.push_back(std::move(zone.contacts));
  }
  StaticModel model{
      .sw_gas = arrays.sw_gas,
      .provenance = {std::move(arrays.inputs_ref), std::nullopt, {}, {}},
      .georef = arrays.georef,
      .sugar_cube = false,
      .wireframe = std::move(wireframe),
      .grid = Grid{CornerPointGeom(dims, std::move(pillars), std::move(arrays.zcorn)),
                   layer_labels(dims.nk), std::move(properties)},
      .zone_table = std::move(zone_table),
      .zone_contacts = std::move(zone_contacts),
      .spill = nullptr,
  };
  return model;
}

}  // namespace zorvastatic
