#include "zorvastatic/model/view/map.hpp"

#include <algorithm>
#include <cmath>

#include "zorvatools/foundation/allocation_failure.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/text/json_writer.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

using zorvatools::str_cat;

const double kNaN = std::nan("");

struct HorizonMaps {
  std::vector<double> top;
  std::vector<double> base;
};

// Mean depth of the top face of layer 0 and of the bottom face of the last layer, per column.
HorizonMaps horizon_maps(const Grid& grid) {
  const Dims& dims = grid.dims();
  HorizonMaps maps{std::vector<double>(dims.layer_cells(), kNaN),
                   std::vector<double>(dims.layer_cells(), kNaN)};
  const std::size_t last = dims.linear(0, 0, dims.nk - 1);
  for (std::size_t column = 0; column < dims.layer_cells(); ++column) {
    const double* top = grid.geom.cell_depths(column);
    const double* base = grid.geom.cell_depths(last + column);
    maps.top[column] = (top[0] + top[1] + top[2] + top[3]) * 0.25;
    maps.base[column] = (base[4] + base[5] + base[6] + base[7]) * 0.25;
  }
  return maps;
}

// Arithmetic mean over the finite values of layers [k0, k1) of each column.
Result<std::vector<double>> zone_average(const Dims& dims, const std::vector<double>& cube,
                                         std::size_t k0, std::size_t k1) {
  const std::size_t columns = dims.layer_cells();
  std::vector<double> sum(columns, 0.0);
  std::vector<std::size_t> count(columns, 0);
  for (std::size_t k = k0; k < k1; ++k) {
    ZV_TRY(zorvatools::poll_call("building the map bundle", k, dims.nk));
    const double* layer = cube.data() + k * columns;
    for (std::size_t column = 0; column < columns; ++column) {
      if (!std::isfinite(layer[column])) continue;
      sum[column] += layer[column];
      ++count[column];
    }
  }
  for (std::size_t column = 0; column < columns; ++column) {
    sum[column] = count[column] > 0 ? sum[column] / static_cast<double>(count[column]) : kNaN;
  }
  return sum;
}

std::vector<WellMarker> well_markers(const Provenance& provenance) {
  std::vector<WellMarker> wells;
  if (!provenance.stack) return wells;
  for (const WellTieRecord& record : provenance.stack->well_ties) {
    WellMarker marker{record.name, record.x, record.y, std::nullopt, {}};
    double sum = 0;
    for (const HorizonTieResidual& tie : record.residuals) {
      marker.ties.push_back({tie.horizon, tie.residual});
      sum += tie.residual;
    }
    if (!marker.ties.empty()) marker.tie_residual_m = sum / static_cast<double>(marker.ties.size());
    wells.push_back(std::move(marker));
  }
  return wells;
}

}  // namespace

Result<MapBundle> build_map_bundle(const ViewInputs& inputs, const MapSpec& spec) {
  const Grid& grid = inputs.grid;
  const Dims& dims = grid.dims();
  MapBundle bundle;
  ZV_ASSIGN_OR_RETURN(bundle.frame, GridFrame::of_grid(grid, inputs.georef));

  HorizonMaps maps = horizon_maps(grid);
  for (const std::string& name : spec.properties) {
    const Property* cube = grid.properties.get(name);
    if (cube == nullptr) {
      return std::unexpected(
          StaticError::invalid_input(str_cat("map_bundle: no property '", name, "'")));
    }
    for (const Zone& zone : inputs.zone_table.zones) {
      const std::size_t k1 = std::min(zone.k_end, dims.nk);
      ZV_ASSIGN_OR_RETURN(std::vector<double> average,
                          zone_average(dims, cube->values, std::min(zone.k_start, k1), k1));
      bundle.zone_averages.push_back(
          ScalarLayer::of(str_cat(name, "::", zone.name), "fraction", std::move(average)));
    }
    if (spec.k_slice) {
      const std::uint64_t k = *spec.k_slice;
      if (k >= dims.nk) {
        return std::unexpected(StaticError::invalid_input(
            str_cat("map_bundle: k_slice ", k, " out of range (nk=", dims.nk, ")")));
      }
      const auto first = cube->values.begin() + static_cast<std::ptrdiff_t>(k * dims.layer_cells());
      bundle.k_slices.push_back(ScalarLayer::of(
          str_cat(name, "::k", k), "fraction",
          std::vector<double>(first, first + static_cast<std::ptrdiff_t>(dims.layer_cells()))));
    }
  }

  for (const Contact& contact : inputs.wireframe.contacts) {
    ContactMask mask{contact_kind_name(contact.kind), contact.depth_m,
                     std::vector<bool>(dims.layer_cells(), false)};
    for (std::size_t column = 0; column < dims.layer_cells(); ++column) {
      mask.crossing[column] =
          maps.top[column] <= contact.depth_m && contact.depth_m <= maps.base[column];
    }
    bundle.contacts.push_back(std::move(mask));
  }

  bundle.horizons.push_back(ScalarLayer::of(
      role_horizon_name(inputs.wireframe, HorizonRole::Top, "TOP"), "m", std::move(maps.top)));
  bundle.horizons.push_back(ScalarLayer::of(
      role_horizon_name(inputs.wireframe, HorizonRole::Base, "BASE"), "m", std::move(maps.base)));
  bundle.wells = well_markers(inputs.provenance);
  bundle.outline.push_back(inputs.wireframe.outline);
  bundle.inputs_ref = inputs.provenance.inputs_ref;
  return bundle;
}

std::string to_json(const MapBundle& bundle) {
  std::size_t layer_values = 0;
  for (const auto* layers : {&bundle.horizons, &bundle.zone_averages, &bundle.k_slices}) {
    for (const ScalarLayer& layer : *layers) layer_values += layer.values.size();
  }
  const std::size_t columns = bundle.frame.ncol * bundle.frame.nrow;
  zorvatools::JsonWriter json(1024 + 20 * layer_values + 6 * columns * bundle.contacts.size());

  json.begin_object()
      .member("schema_version", bundle.schema_version)
      .member("inputs_ref", bundle.inputs_ref)
      .key("frame");
  write_json(json, bundle.frame);

  json.key("outline").begin_array();
  for (const auto& ring : bundle.outline) {
    json.begin_array();
    for (const zorvatools::Point2& point : ring) {
      json.begin_array().value(point.x).value(point.y).end_array();
    }
    json.end_array();
  }
  json.end_array();

  for (const auto& [key, layers] :
       {std::pair{"horizons", &bundle.horizons}, std::pair{"zone_averages", &bundle.zone_averages},
        std::pair{"k_slices", &bundle.k_slices}}) {
    json.key(key).begin_array();
    for (const ScalarLayer& layer : *layers) write_json(json, layer);
    json.end_array();
  }

  json.key("wells").begin_array();
  for (const WellMarker& well : bundle.wells) {
    json.begin_object()
        .member("id", well.id)
        .member("x", well.x)
        .member("y", well.y)
        .member("tie_residual_m", well.tie_residual_m)
        .key("ties")
        .begin_array();
    for (const WellTieResidual& tie : well.ties) {
      json.begin_object()
          .member("horizon", tie.horizon)
          .member("residual_m", tie.residual_m)
          .end_object();
    }
    json.end_array().end_object();
  }
  json.end_array();

  json.key("contacts").begin_array();
  for (const ContactMask& mask : bundle.contacts) {
    json.begin_object()
        .member("kind", mask.kind)
        .member("depth_m", mask.depth_m)
        .member_array("crossing", mask.crossing)
        .end_object();
  }
  json.end_array().end_object();
  return std::move(json).str();
}

Result<std::string> map_bundle(const ViewInputs& inputs, const MapSpec& spec) {
  ZV_ASSIGN_OR_RETURN(const MapBundle bundle, build_map_bundle(inputs, spec));
  return to_json(bundle);
}

Result<std::string> map_bundle(const StaticModel& model, const MapSpec& spec) {
  return zorvatools::catch_allocation_failure(
      "building the map bundle", [&]() -> Result<std::string> {
        // A spilled model's grid is read back first, in about twice the time the map takes.
        return draw_view(model, 2.0, [&](const ViewInputs& inputs) {
          return map_bundle(inputs, spec);
        });
      });
}

}  // namespace zorvastatic
