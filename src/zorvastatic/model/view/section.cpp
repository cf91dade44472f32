#include "zorvastatic/model/view/section.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "zorvastatic/model/areal_lattice.hpp"
#include "zorvatools/foundation/allocation_failure.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/text/json_writer.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

using zorvatools::str_cat;

const double kNaN = std::nan("");
// Sample numbers beyond this can no longer be told apart in double arithmetic.
constexpr double kMaxSegmentSamples = 9007199254740992.0;  // 2^53
// Samples mapped between two polls of the call.
constexpr std::uint64_t kSamplesPerPoll = 4096;
constexpr std::string_view kStage = "sampling the section";
// Margin, in columns, around the grid when skipping samples that cannot land in it.
constexpr double kClipMarginColumns = 2.0;

// One sample point of the trace that falls in a grid column.
struct TraceSample {
  double distance_m = 0;
  std::size_t i = 0;
  std::size_t j = 0;
  Point2 at;
  Point2 segment_dir;  // b - a of the sample's segment, world
  std::optional<double> path_z;
};

bool usable_frame(const GridFrame& frame) {
  return std::isfinite(frame.spacing_x) && frame.spacing_x != 0 && std::isfinite(frame.spacing_y) &&
         frame.spacing_y != 0 && std::isfinite(frame.origin_x) && std::isfinite(frame.origin_y) &&
         std::isfinite(frame.rotation_deg);
}

// Samples per segment: L / step rounded up, at least 1; nothing when that count cannot be held
// (a segment so long, or a step so short, that the sample numbers cannot be told apart).
std::optional<double> segment_samples(double length, double step) {
  const double n = std::ceil(length / step);
  if (!(n <= kMaxSegmentSamples)) return std::nullopt;  // NaN too
  return std::max(n, 1.0);
}

StaticError too_many_samples(std::size_t segment, double length) {
  return StaticError::invalid_input(
      str_cat("intersection_bundle: segment ", segment, " of the trace (", length,
              " m) needs more samples than can be held (one every half column, at most ",
              static_cast<std::uint64_t>(kMaxSegmentSamples), " per segment)"));
}

// The range of sample numbers s in [0, n] of segment a -> b whose points can fall in the grid:
// the segment is linear in index space, so only samples within a margin of the grid's index box
// are worth mapping. Samples outside it would be skipped anyway; this bounds the work of a long
// trace to the part that crosses the grid. Empty when lo > hi.
std::pair<double, double> sample_window(const zorvatools::Lattice& frame, Point3 a, Point3 b,
                                        double n) {
  const auto ia = frame.xy_to_ij(a.x, a.y);
  const auto ib = frame.xy_to_ij(b.x, b.y);
  if (!ia || !ib) return {1, 0};  // a non-finite vertex: every sample of the segment is skipped
  double t_lo = 0;
  double t_hi = 1;
  auto clip = [&](double from, double to, double count) {
    const double lo = -kClipMarginColumns;
    const double hi = count + kClipMarginColumns;
    const double span = to - from;
    if (span == 0) {
      if (from < lo || from > hi) t_lo = 1, t_hi = 0;
      return;
    }
    double t0 = (lo - from) / span;
    double t1 = (hi - from) / span;
    if (t0 > t1) std::swap(t0, t1);
    t_lo = std::max(t_lo, t0);
    t_hi = std::min(t_hi, t1);
  };
  clip(ia->first, ib->first, static_cast<double>(frame.nx));
  clip(ia->second, ib->second, static_cast<double>(frame.ny));
  if (!(t_lo <= t_hi)) return {1, 0};
  return {std::max(0.0, std::floor(t_lo * n) - 1), std::min(n, std::ceil(t_hi * n) + 1)};
}

// Samples every half column spacing along the trace; each sample lands in the column whose
// index position is nearest (halves away from zero). A sample in the same column as the one
// emitted just before it is dropped, so a column reappears only when the trace returns to it.
Result<std::vector<TraceSample>> sample_trace(const GridFrame& frame, const SectionSpec& spec) {
  std::vector<TraceSample> samples;
  if (!usable_frame(frame)) return samples;
  const zorvatools::Lattice lattice = frame.lattice();
  const double step = 0.5 * std::min(frame.spacing_x, frame.spacing_y);
  const bool along_bore = spec.kind == SectionSpec::Kind::AlongBore;
  double travelled = 0;
  std::uint64_t mapped = 0;  // samples mapped so far, for the polls
  for (std::size_t v = 0; v + 1 < spec.vertices.size(); ++v) {
    const Point3 a = spec.vertices[v];
    const Point3 b = spec.vertices[v + 1];
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double length = std::hypot(dx, dy);
    const auto [s_lo, s_hi] = sample_window(lattice, a, b, 1.0);
    if (!(s_lo <= s_hi)) {  // no sample can land in the grid (or a vertex is not finite)
      travelled += length;
      continue;
    }
    const std::optional<double> samples_needed = segment_samples(length, step);
    if (!samples_needed) return std::unexpected(too_many_samples(v, length));
    const double n = *samples_needed;
    const auto [first, last] = sample_window(lattice, a, b, n);
    // Integer sample numbers: a double counter would stop advancing at 2^53.
    for (auto s_number = static_cast<std::uint64_t>(first);
         s_number <= static_cast<std::uint64_t>(last); ++s_number) {
      if (mapped++ % kSamplesPerPoll == 0) {
        ZV_TRY(zorvatools::poll_call(kStage, v, spec.vertices.size() - 1));
      }
      const auto s = static_cast<double>(s_number);
      const Point2 at{a.x + dx * s / n, a.y + dy * s / n};
      const auto uv = lattice.xy_to_ij(at.x, at.y);
      if (!uv) continue;
      const double i = zorvatools::round_half_away(uv->first);
      const double j = zorvatools::round_half_away(uv->second);
      if (!(i >= 0 && j >= 0 && i < static_cast<double>(frame.ncol) &&
            j < static_cast<double>(frame.nrow))) {
        continue;
      }
      const auto ci = static_cast<std::size_t>(i);
      const auto cj = static_cast<std::size_t>(j);
      if (!samples.empty() && samples.back().i == ci && samples.back().j == cj) continue;
      std::optional<double> path_z;
      if (along_bore) path_z = a.z + (b.z - a.z) * s / n;
      samples.push_back({travelled + length * s / n, ci, cj, at, {dx, dy}, path_z});
    }
    travelled += length;
  }
  return samples;
}

// Zone-table index of each layer, kNoZone outside every zone.
std::vector<std::uint16_t> layer_zones(const ZoneTable& table, std::size_t nk) {
  std::vector<std::uint16_t> ids(nk, kNoZone);
  std::vector<bool> assigned(nk, false);
  for (std::size_t z = 0; z < table.zones.size(); ++z) {
    const Zone& zone = table.zones[z];
    for (std::size_t k = zone.k_start; k < std::min(zone.k_end, nk); ++k) {
      if (assigned[k]) continue;
      assigned[k] = true;
      ids[k] = z > kNoZone - 1u ? kNoZone : static_cast<std::uint16_t>(z);
    }
  }
  return ids;
}

double top_face_mean(const CellCorners& corners) {
  return (corners[0].z + corners[1].z + corners[2].z + corners[3].z) * 0.25;
}

double bottom_face_mean(const CellCorners& corners) {
  return (corners[4].z + corners[5].z + corners[6].z + corners[7].z) * 0.25;
}

void resize_layers(SectionColumn& column, std::size_t nk, bool with_values) {
  for (auto* array : {&column.layer_tops, &column.layer_bases, &column.layer_tops_l,
                      &column.layer_tops_r, &column.layer_bases_l, &column.layer_bases_r}) {
    array->assign(nk, kNaN);
  }
  if (with_values) column.values.assign(nk, kNaN);
  column.zone_ids.assign(nk, kNoZone);
}

void set_edges(SectionColumn& column, std::size_t k, const EdgeDepths& edges) {
  column.layer_tops_l[k] = edges.top_l;
  column.layer_bases_l[k] = edges.base_l;
  column.layer_tops_r[k] = edges.top_r;
  column.layer_bases_r[k] = edges.base_r;
}

SectionColumn make_column(const ViewInputs& inputs, const WorldToLattice& map,
                          const TraceSample& sample, const Property* cube,
                          const std::vector<std::uint16_t>& zones) {
  const Grid& grid = inputs.grid;
  const Dims& dims = grid.dims();
  SectionColumn column;
  column.distance_m = sample.distance_m;
  column.i = sample.i;
  column.j = sample.j;
  column.x = sample.at.x;
  column.y = sample.at.y;
  column.path_z = sample.path_z;
  resize_layers(column, dims.nk, cube != nullptr);

  const Point2 point = map.point(sample.at);
  const Point2 direction = map.dir(sample.segment_dir);
  for (std::size_t k = 0; k < dims.nk; ++k) {
    const CellCorners corners = grid.geom.cell_corners({sample.i, sample.j, k});
    const double top = top_face_mean(corners);
    const double base = bottom_face_mean(corners);
    if (base - top <= 1e-9) continue;  // pinched: NaN depths and value, no zone
    column.layer_tops[k] = top;
    column.layer_bases[k] = base;
    if (inputs.sugar_cube) {
      set_edges(column, k, {top, base, top, base});
    } else {
      set_edges(column, k, fence_edge_depths(corners, point, direction));
    }
    if (cube != nullptr) column.values[k] = cube->values[dims.linear(sample.i, sample.j, k)];
    column.zone_ids[k] = zones[k];
  }
  return column;
}

std::vector<HorizonTrace> horizon_traces(const ViewInputs& inputs,
                                         const std::vector<SectionColumn>& columns) {
  const Grid& grid = inputs.grid;
  const std::size_t nk = grid.dims().nk;
  std::vector<HorizonTrace> traces;
  const std::vector<Zone>& zones = inputs.zone_table.zones;
  for (std::size_t z = 1; z < zones.size(); ++z) {
    HorizonTrace trace{zones[z].top, {}};
    trace.depths.reserve(columns.size());
    const std::size_t k0 = zones[z].k_start;
    for (const SectionColumn& column : columns) {
      // An empty zone at the bottom of the grid has no first layer to trace.
      trace.depths.push_back(
          k0 < nk ? top_face_mean(grid.geom.cell_corners({column.i, column.j, k0})) : kNaN);
    }
    traces.push_back(std::move(trace));
  }
  return traces;
}

}  // namespace

SectionSpec SectionSpec::polyline(const std::vector<Point2>& points) {
  SectionSpec spec;
  spec.vertices.reserve(points.size());
  for (const Point2& p : points) spec.vertices.push_back({p.x, p.y, kNaN});
  return spec;
}

void retangent_alongbore_edges(const Grid& grid, const WorldToLattice& map, std::size_t nk,
                               std::vector<SectionColumn>& columns) {
  const std::size_t n = columns.size();
  if (n < 2) return;
  const Point2 overall{columns[n - 1].x - columns[0].x, columns[n - 1].y - columns[0].y};
  for (std::size_t c = 0; c < n; ++c) {
    const SectionColumn& prev = columns[c == 0 ? 0 : c - 1];
    const SectionColumn& next = columns[std::min(c + 1, n - 1)];
    Point2 direction{next.x - prev.x, next.y - prev.y};
    if (std::hypot(direction.x, direction.y) < 1e-9) direction = overall;
    SectionColumn& column = columns[c];
    const Point2 point = map.point({column.x, column.y});
    const Point2 mapped = map.dir(direction);
    for (std::size_t k = 0; k < nk && k < column.layer_tops.size(); ++k) {
      if (!std::isfinite(column.layer_tops[k])) continue;
      set_edges(column, k,
                fence_edge_depths(grid.geom.cell_corners({column.i, column.j, k}), point, mapped));
    }
  }
}

Result<IntersectionBundle> build_intersection_bundle(const ViewInputs& inputs,
                                                     const SectionSpec& spec,
                                                     const std::optional<std::string>& property) {
  const Grid& grid = inputs.grid;
  ZV_ASSIGN_OR_RETURN(const GridFrame frame, GridFrame::of_grid(grid, inputs.georef));
  ZV_ASSIGN_OR_RETURN(const zorvatools::Lattice own, areal_lattice(grid));
  if (spec.vertices.size() < 2) {
    return std::unexpected(StaticError::invalid_input(
        "intersection_bundle: a section trace needs at least two vertices"));
  }
  const Property* cube = nullptr;
  if (property) {
    cube = grid.properties.get(*property);
    if (cube == nullptr) {
      return std::unexpected(StaticError::invalid_input(
          str_cat("intersection_bundle: no property '", *property, "'")));
    }
  }

  const WorldToLattice map(frame, own);
  const std::size_t nk = grid.dims().nk;
  const std::vector<std::uint16_t> zones = layer_zones(inputs.zone_table, nk);
  IntersectionBundle bundle;
  ZV_ASSIGN_OR_RETURN(const std::vector<TraceSample> samples, sample_trace(frame, spec));
  for (std::size_t c = 0; c < samples.size(); ++c) {
    ZV_TRY(zorvatools::poll_call("building the section columns", c, samples.size()));
    bundle.columns.push_back(make_column(inputs, map, samples[c], cube, zones));
  }
  if (spec.kind == SectionSpec::Kind::AlongBore && !inputs.sugar_cube) {
    retangent_alongbore_edges(grid, map, nk, bundle.columns);
  }

  bundle.inputs_ref = inputs.provenance.inputs_ref;
  bundle.sugar_cube = inputs.sugar_cube;
  bundle.property = property;
  bundle.top_name = role_horizon_name(inputs.wireframe, HorizonRole::Top, "TOP");
  bundle.base_name = role_horizon_name(inputs.wireframe, HorizonRole::Base, "BASE");
  bundle.horizon_traces = horizon_traces(inputs, bundle.columns);
  for (const Zone& zone : inputs.zone_table.zones) bundle.zones.push_back({zone.name, zone.label});
  for (const Contact& contact : inputs.wireframe.contacts) {
    bundle.contacts.push_back({contact_kind_name(contact.kind), contact.depth_m});
  }
  bundle.frame = frame;
  return bundle;
}

Result<std::string> to_json(const IntersectionBundle& bundle) {
  std::size_t layer_entries = 0;
  for (const SectionColumn& column : bundle.columns) layer_entries += column.layer_tops.size();
  zorvatools::JsonWriter json(1024 + 160 * bundle.columns.size() + 150 * layer_entries);

  json.begin_object()
      .member("schema_version", bundle.schema_version)
      .member("inputs_ref", bundle.inputs_ref)
      .member("sugar_cube", bundle.sugar_cube)
      .member("property", bundle.property)
      .member("top_name", bundle.top_name)
      .member("base_name", bundle.base_name);

  json.key("columns").begin_array();
  for (std::size_t c = 0; c < bundle.columns.size(); ++c) {
    ZV_TRY(zorvatools::poll_call("writing the section", c, bundle.columns.size()));
    const SectionColumn& column = bundle.columns[c];
    json.begin_object()
        .member("distance_m", column.distance_m)
        .member("i", column.i)
        .member("j", column.j)
        .member("x", column.x)
        .member("y", column.y);
    json.member_array("layer_tops", column.layer_tops);
    json.member_array("layer_bases", column.layer_bases);
    json.member_array("layer_tops_l", column.layer_tops_l);
    json.member_array("layer_tops_r", column.layer_tops_r);
    json.member_array("layer_bases_l", column.layer_bases_l);
    json.member_array("layer_bases_r", column.layer_bases_r);
    json.member_array("values", column.values);
    json.member_array("zone_ids", column.zone_ids).member("path_z", column.path_z).end_object();
  }
  json.end_array();

  json.key("horizon_traces").begin_array();
  for (const HorizonTrace& trace : bundle.horizon_traces) {
    json.begin_object().member("name", trace.name);
    json.member_array("depths", trace.depths);
    json.end_object();
  }
  json.end_array();

  json.key("zones").begin_array();
  for (const SectionZone& zone : bundle.zones) {
    json.begin_object().member("name", zone.name).member("color", zone.color).end_object();
  }
  json.end_array();

  json.key("contacts").begin_array();
  for (const SectionContact& contact : bundle.contacts) {
    json.begin_object()
        .member("kind", contact.kind)
        .member("depth_m", contact.depth_m)
        .end_object();
  }
  json.end_array().key("frame");
  write_json(json, bundle.frame);
  json.end_object();
  return std::move(json).str();
}

Result<std::string> intersection_bundle(const ViewInputs& inputs, const SectionSpec& spec,
                                        const std::optional<std::string>& property) {
  ZV_ASSIGN_OR_RETURN(const IntersectionBundle bundle,
                      build_intersection_bundle(inputs, spec, property));
  return to_json(bundle);
}

Result<std::string> intersection_bundle(const StaticModel& model, const SectionSpec& spec,
                                        const std::optional<std::string>& property) {
  return zorvatools::catch_allocation_failure(
      "building the intersection bundle", [&]() -> Result<std::string> {
        // A spilled model's grid is read back first: most of the work, a section reads few columns.
        return draw_view(model, 4.0, [&](const ViewInputs& inputs) {
          return intersection_bundle(inputs, spec, property);
        });
      });
}

}  // namespace zorvastatic
