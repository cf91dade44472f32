#include "zorvastatic/model/view/volume.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>

#include "zorvastatic/grid/row_volumes.hpp"
#include "zorvatools/foundation/allocation_failure.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/internal_fault.hpp"
#include "zorvatools/text/json_writer.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

constexpr std::string_view kStage = "building the volume bundle";

// A mesh vertex is identified by the bit patterns of its three 32-bit coordinates.
struct VertexKey {
  std::uint32_t x;
  std::uint32_t y;
  std::uint32_t z;
  friend bool operator==(const VertexKey&, const VertexKey&) = default;
};

struct VertexKeyHash {
  std::size_t operator()(const VertexKey& key) const {
    std::uint64_t h = (static_cast<std::uint64_t>(key.x) << 32 | key.y) * 0x9E3779B97F4A7C15ull;
    h ^= (h >> 29) ^ (static_cast<std::uint64_t>(key.z) * 0xC2B2AE3D27D4EB4Full);
    h ^= h >> 32;
    return static_cast<std::size_t>(h);
  }
};

// Corners of each face, in the order a cell's faces are examined, each with the neighbour
// across it.
constexpr std::array<std::array<int, 4>, 6> kFaceCorners{{
    {0, 1, 3, 2},  // top, k - 1
    {4, 5, 7, 6},  // bottom, k + 1
    {0, 1, 5, 4},  // j-
    {2, 3, 7, 6},  // j+
    {0, 2, 6, 4},  // i-
    {1, 3, 7, 5},  // i+
}};

// Zone of each layer: zone z (modulo 65536) over its k range; layers outside every zone get 0.
std::vector<std::uint16_t> layer_zone_map(const ZoneTable& table, std::size_t nk) {
  std::vector<std::uint16_t> zones(nk, 0);
  for (std::size_t z = 0; z < table.zones.size(); ++z) {
    const Zone& zone = table.zones[z];
    for (std::size_t k = zone.k_start; k < zone.k_end && k < nk; ++k) {
      zones[k] = static_cast<std::uint16_t>(z % 65536);
    }
  }
  return zones;
}

// Distinct vertices of a shell over a regular block: both horizontal faces plus the four sides.
std::size_t expected_shell_vertices(const Dims& dims) {
  const std::size_t pi = dims.ni + 1;
  const std::size_t pj = dims.nj + 1;
  return 2 * pi * pj + 2 * (pi + pj) * (dims.nk + 1);
}

class ShellMesh {
 public:
  ShellMesh(VolumeBundle& bundle, std::size_t vertex_hint) : bundle_(bundle) {
    vertices_.reserve(vertex_hint);
    bundle_.positions.reserve(3 * vertex_hint);
  }

  std::uint32_t vertex(const Point3& corner) {
    const float x = static_cast<float>(corner.x);
    const float y = static_cast<float>(corner.y);
    const float z = static_cast<float>(corner.z);
    const VertexKey key{std::bit_cast<std::uint32_t>(x), std::bit_cast<std::uint32_t>(y),
                        std::bit_cast<std::uint32_t>(z)};
    const auto next = static_cast<std::uint32_t>(vertices_.size());
    const auto [slot, inserted] = vertices_.try_emplace(key, next);
    if (inserted) {
      zorvatools::require(next != std::numeric_limits<std::uint32_t>::max(),
                          "volume bundle vertex count exceeds 32 bits");
      bundle_.positions.insert(bundle_.positions.end(), {x, y, z});
    }
    return slot->second;
  }

  void quad(const CellCorners& corners, const std::array<int, 4>& face, std::uint32_t cell_slot) {
    const std::uint32_t a = vertex(corners[face[0]]);
    const std::uint32_t b = vertex(corners[face[1]]);
    const std::uint32_t c = vertex(corners[face[2]]);
    const std::uint32_t d = vertex(corners[face[3]]);
    bundle_.indices.insert(bundle_.indices.end(), {a, b, c, a, c, d});
    bundle_.tri_cell.insert(bundle_.tri_cell.end(), {cell_slot, cell_slot});
  }

 private:
  VolumeBundle& bundle_;
  std::unordered_map<VertexKey, std::uint32_t, VertexKeyHash> vertices_;
};

}  // namespace

Result<VolumeBundle> build_volume_bundle(const ViewInputs& inputs, const std::string& property) {
  const Grid& grid = inputs.grid;
  const Property* cube = grid.properties.get(property);
  if (cube == nullptr) {
    return std::unexpected(StaticError::invalid_input(
        zorvatools::str_cat("volume_bundle: no property '", property, "'")));
  }
  const Dims& dims = grid.dims();
  const std::size_t cells = dims.cell_count();
  const std::vector<double>& values = cube->values;

  VolumeBundle bundle;
  bundle.inputs_ref = inputs.provenance.inputs_ref;
  bundle.property = property;
  bundle.cell_count = cells;
  for (const Zone& zone : inputs.zone_table.zones) bundle.zone_names.push_back(zone.name);
  const std::vector<std::uint16_t> layer_zone = layer_zone_map(inputs.zone_table, dims.nk);

  // Two passes over the cells, each polled once per layer. Rows on vertical pillars have their
  // volumes computed together, each as cell_volume_at gives it.
  std::vector<std::uint8_t> active(cells, 0);
  const std::optional<PillarTops> tops =
      grid.geom.vertical() ? std::optional<PillarTops>(grid.geom.pillars()) : std::nullopt;
  RowVolumes rows(dims.ni);
  for (std::size_t k = 0, first = 0; k < dims.nk; ++k) {
    ZV_TRY(zorvatools::poll_call(kStage, k, 2 * dims.nk));
    for (std::size_t j = 0; j < dims.nj; ++j, first += dims.ni) {
      if (tops) rows.compute(*tops, j, grid.geom.cell_depths(first));
      for (std::size_t i = 0; i < dims.ni; ++i) {
        const double volume = tops ? rows.volume(i) : grid.geom.cell_volume_at(first + i);
        active[first + i] = std::isfinite(values[first + i]) && volume > 0;
      }
    }
  }

  ShellMesh mesh(bundle, expected_shell_vertices(dims));
  const std::size_t ni = dims.ni;
  const std::size_t nj = dims.nj;
  const std::size_t nk = dims.nk;
  const std::size_t layer = dims.layer_cells();
  std::size_t c = 0;
  for (std::size_t k = 0; k < nk; ++k) {
    ZV_TRY(zorvatools::poll_call(kStage, nk + k, 2 * nk));
    for (std::size_t j = 0; j < nj; ++j) {
      for (std::size_t i = 0; i < ni; ++i, ++c) {
        if (!active[c]) continue;
        // Whether the neighbour across each face, in face order, is missing or inactive.
        const bool exposed[6] = {
            k == 0 || !active[c - layer], k + 1 == nk || !active[c + layer],
            j == 0 || !active[c - ni],    j + 1 == nj || !active[c + ni],
            i == 0 || !active[c - 1],     i + 1 == ni || !active[c + 1],
        };
        if (!(exposed[0] || exposed[1] || exposed[2] || exposed[3] || exposed[4] || exposed[5])) {
          continue;
        }
        zorvatools::require(bundle.cell_values.size() < std::numeric_limits<std::uint32_t>::max(),
                            "volume bundle shell cell count exceeds 32 bits");
        const auto slot = static_cast<std::uint32_t>(bundle.cell_values.size());
        bundle.cell_values.push_back(static_cast<float>(values[c]));
        bundle.zone_ids.push_back(layer_zone[k]);
        const CellCorners corners = grid.geom.cell_corners({i, j, k});
        for (std::size_t f = 0; f < kFaceCorners.size(); ++f) {
          if (exposed[f]) mesh.quad(corners, kFaceCorners[f], slot);
        }
      }
    }
  }
  bundle.value_range = ValueRange::of_finite(bundle.cell_values);
  return bundle;
}

std::string to_json(const VolumeBundle& bundle) {
  zorvatools::JsonWriter json(512 + 12 * bundle.positions.size() + 8 * bundle.indices.size() +
                              7 * bundle.tri_cell.size() + 12 * bundle.cell_values.size() +
                              6 * bundle.zone_ids.size());
  json.begin_object()
      .member("schema_version", bundle.schema_version)
      .member("inputs_ref", bundle.inputs_ref)
      .member("property", bundle.property)
      .member("cell_count", bundle.cell_count);
  json.member_array("positions", bundle.positions);
  json.member_array("indices", bundle.indices);
  json.member_array("tri_cell", bundle.tri_cell);
  json.member_array("cell_values", bundle.cell_values);
  json.member_array("zone_ids", bundle.zone_ids);
  json.member_array("zone_names", bundle.zone_names).key("value_range");
  write_json(json, bundle.value_range);
  json.end_object();
  return std::move(json).str();
}

Result<std::string> volume_bundle(const ViewInputs& inputs, const std::string& property) {
  zorvatools::ProgressSteps steps({1.0, 1.0});  // the shell, then its text: about as long
  steps.enter(0);
  ZV_ASSIGN_OR_RETURN(const VolumeBundle bundle, build_volume_bundle(inputs, property));
  steps.enter(1);
  ZV_TRY(zorvatools::poll_call("writing the volume bundle", 0, 1));
  return to_json(bundle);
}

Result<std::string> volume_bundle(const StaticModel& model, const std::string& property) {
  return zorvatools::catch_allocation_failure(
      "building the volume bundle", [&]() -> Result<std::string> {
        // A spilled model's grid is read back first, in about a third of the time the shell takes.
        return draw_view(model, 0.3, [&](const ViewInputs& inputs) {
          return volume_bundle(inputs, property);
        });
      });
}

}  // namespace zorvastatic
