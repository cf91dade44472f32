#include "zorvastatic/spill/spill.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "zorvastatic/grid/box_construction.hpp"
#include "zorvastatic/model/builder.hpp"
#include "zorvastatic/spill/capacity.hpp"
#include "zorvastatic/spill/spill_path.hpp"
#include "zorvastatic/spill/store_guard.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/store/writer.hpp"
#include "zorvatools/text/json_writer.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::AlgoError;
using zorvatools::str_cat;
using zorvatools::store::LaneDtype;
using zorvatools::store::LaneKind;
using zorvatools::store::StoreSchema;
using zorvatools::store::StoreWriter;

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr std::string_view kWriting = "writing the store";
// A streamed layer goes to its store in pieces of about this size, each filled and written while
// it is in the processor's cache.
constexpr std::size_t kPieceBytes = std::size_t{256} << 10;

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? kMax : product;
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? kMax : sum;
}

Status make_directories(const std::filesystem::path& directory) {
  if (directory.empty()) return {};
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return std::unexpected(AlgoError::io(error.value()));
  return {};
}

// A store being written under its partial name, guarded by its lock file. Dropped before it is
// finished, it takes every file of the store with it.
struct NewStore {
  std::filesystem::path path;  // the final name
  StoreGuard guard;
  StoreWriter writer;
};

// Directory, name, room and lock, then the writer: in the spill directory, whose stale stores
// are swept first, a store for `dims` and `cube_names` that is known to fit.
Result<NewStore> start_store(const StaticModelBuilder& builder, const Dims& dims,
                             std::size_t pillar_count, const std::vector<std::string>& cube_names,
                             std::uint64_t estimate) {
  ZV_ASSIGN_OR_RETURN(const std::filesystem::path directory, spill_directory(builder.spill_dir));
  ZV_TRY(make_directories(directory));
  std::filesystem::path path = unique_spill_path(directory);
  ZV_TRY(check_spill_fits(dims, cube_names, estimate, builder.spill_budget_bytes, directory));
  ZV_ASSIGN_OR_RETURN(StoreGuard guard, StoreGuard::acquire(path));
  ZV_ASSIGN_OR_RETURN(
      StoreWriter writer,
      StoreWriter::create(partial_store_path(path), store_schema(dims, pillar_count, cube_names)));
  return NewStore{std::move(path), std::move(guard), std::move(writer)};
}

// Pillars go to "COORD" in pieces, as streamed layers do.
Status write_pillars(StoreWriter& writer, const std::vector<Pillar>& pillars) {
  const std::size_t per_piece = std::max<std::size_t>(1, kPieceBytes / (6 * sizeof(double)));
  for (std::size_t p0 = 0; p0 < pillars.size(); p0 += per_piece) {
    const std::size_t p1 = std::min(pillars.size(), p0 + per_piece);
    const std::span<double> coord = writer.buffer<double>(6 * (p1 - p0));
    for (std::size_t p = p0; p < p1; ++p) {
      const Pillar& pillar = pillars[p];
      const double values[6] = {pillar.top.x,    pillar.top.y,    pillar.top.z,
                                pillar.bottom.x, pillar.bottom.y, pillar.bottom.z};
      std::copy_n(values, 6, coord.data() + 6 * (p - p0));
    }
    ZV_TRY(writer.write_flat_part_f64("COORD", 6 * p0, coord));
  }
  return {};
}

// Seals the store, gives it its final name, opens it and wraps it into a backing. A kept store
// is flushed to disk before it takes its name; an unkept one, which no process reads after this
// one, is left to the page cache.
Result<std::shared_ptr<const SpillBacking>> finish_store(NewStore store,
                                                         std::vector<Pillar> pillars,
                                                         std::vector<std::string> cube_names,
                                                         const Dims& dims, bool keep) {
  ZV_TRY(std::move(store.writer)
             .finalize(keep ? StoreWriter::Flush::Synchronous : StoreWriter::Flush::Skip));
  std::error_code error;
  std::filesystem::rename(partial_store_path(store.path), store.path, error);
  if (error) return std::unexpected(AlgoError::io(error.value()));
  ZV_ASSIGN_OR_RETURN(zorvatools::store::Store opened, zorvatools::store::open(store.path));
  // The store was written a moment ago: its pages are in the page cache, and read faster mapped
  // in one call than faulted in one by one.
  opened.map_cached_pages();
  if (keep) store.guard.keep();
  return std::make_shared<const SpillBacking>(std::move(opened), store.path, std::move(pillars),
                                              std::move(cube_names), dims.ni, dims.nj, dims.nk,
                                              std::move(store.guard));
}

void announce_spill(std::uint64_t estimate, std::uint64_t budget, std::uint64_t cells,
                    const std::filesystem::path& path) {
  const std::string line =
      str_cat("zorvastatic: OUT-OF-CORE mode — live-set estimate ", estimate / 1048576,
              " MiB exceeds budget ", budget / 1048576, " MiB (", cells,
              " cells); spilling geometry + cubes (f32) to ", path.string(), "\n");
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

std::uint64_t in_memory_estimate(const Dims& dims, std::size_t cubes) {
  const std::uint64_t cells = saturating_mul(saturating_mul(dims.ni, dims.nj), dims.nk);
  const std::uint64_t bytes =
      saturating_add(saturating_mul(64, cells), saturating_mul(saturating_mul(8, cells), cubes));
  const double doubled = 2.0 * static_cast<double>(bytes);
  return doubled >= 18446744073709551616.0 ? kMax : static_cast<std::uint64_t>(doubled);
}

std::uint64_t streaming_estimate(std::uint64_t cells) {
  return saturating_mul(2, saturating_mul(64 + 24, cells));
}

StoreSchema store_schema(const Dims& dims, std::size_t pillar_count,
                         const std::vector<std::string>& cube_names) {
  StoreSchema schema;
  schema.nslabs = dims.nk;
  schema.lanes.push_back({"ZCORN", LaneDtype::F32, LaneKind::slab(8 * dims.layer_cells())});
  schema.lanes.push_back({"COORD", LaneDtype::F64, LaneKind::flat(6 * pillar_count)});
  for (const std::string& name : cube_names) {
    schema.lanes.push_back({name, LaneDtype::F32, LaneKind::slab(dims.layer_cells())});
  }
  zorvatools::JsonWriter app;
  app.begin_object().key("cubes").begin_array();
  for (const std::string& name : cube_names) app.value(name);
  app.end_array()
      .member("kind", "zorvastatic-static-model")
      .member("ni", std::uint64_t{dims.ni})
      .member("nj", std::uint64_t{dims.nj})
      .member("nk", std::uint64_t{dims.nk})
      .end_object();
  schema.app_json = std::move(app).str();
  return schema;
}

StaticModel into_spilled(StaticModel model, std::shared_ptr<const SpillBacking> backing) {
  model.grid = unit_box();
  model.spill = std::move(backing);
  return model;
}

Result<StaticModel> maybe_spill(const StaticModelBuilder& builder, StaticModel model) {
  const Dims dims = model.grid.dims();
  const std::uint64_t estimate = in_memory_estimate(dims, model.grid.properties.size());
  if (builder.spill_budget_bytes >= estimate) return model;
  if (!model.grid.geom.vertical()) {
    return std::unexpected(StaticError::invalid_input(
        "out-of-core spill supports vertical lattices only (every grid today)"));
  }
  const std::vector<std::string> cube_names = model.grid.properties.sorted_names();
  const std::vector<Pillar>& pillars = model.grid.geom.pillars();
  ZV_ASSIGN_OR_RETURN(NewStore store,
                      start_store(builder, dims, pillars.size(), cube_names, estimate));
  StoreWriter& writer = store.writer;
  ZV_TRY(write_pillars(writer, pillars));

  const std::size_t layer = dims.layer_cells();
  const std::vector<double>& zcorn = model.grid.geom.zcorn();
  for (std::size_t k = 0; k < dims.nk; ++k) {
    ZV_TRY(zorvatools::poll_call(kWriting, k, dims.nk));
    const std::span<float> depths = writer.buffer<float>(8 * layer);
    std::transform(zcorn.begin() + static_cast<std::ptrdiff_t>(8 * layer * k),
                   zcorn.begin() + static_cast<std::ptrdiff_t>(8 * layer * (k + 1)), depths.begin(),
                   [](double z) { return static_cast<float>(z); });
    ZV_TRY(writer.write_slab_f32("ZCORN", k, depths));
    for (const std::string& name : cube_names) {
      const std::vector<double>& values = model.grid.properties.get(name)->values;
      const std::span<float> slab = writer.buffer<float>(layer);
      std::transform(values.begin() + static_cast<std::ptrdiff_t>(layer * k),
                     values.begin() + static_cast<std::ptrdiff_t>(layer * (k + 1)), slab.begin(),
                     [](double v) { return static_cast<float>(v); });
      ZV_TRY(writer.write_slab_f32(name, k, slab));
    }
  }
  const std::filesystem::path path = store.path;
  ZV_ASSIGN_OR_RETURN(
      std::shared_ptr<const SpillBacking> backing,
      finish_store(std::move(store), pillars, cube_names, dims, builder.keep_spill_file));
  announce_spill(estimate, builder.spill_budget_bytes, dims.cell_count(), path);
  return into_spilled(std::move(model), std::move(backing));
}

Result<StreamedLayering> stream_into_store(const StaticModelBuilder& builder,
                                           const StreamingLayering& layering,
                                           std::uint64_t estimate) {
  const Dims dims = layering.dims();
  const std::size_t nx = dims.ni + 1;
  const std::size_t ny = dims.nj + 1;
  const std::vector<std::string> cube_names = {"NTG", "PORO", "SW"};
  ZV_ASSIGN_OR_RETURN(NewStore store, start_store(builder, dims, nx * ny, cube_names, estimate));

  std::vector<Pillar> pillars;
  pillars.reserve(nx * ny);
  for (std::size_t j = 0; j < ny; ++j) {
    for (std::size_t i = 0; i < nx; ++i) {
      const double x = layering.dx() * static_cast<double>(i);
      const double y = layering.dy() * static_cast<double>(j);
      pillars.push_back({{x, y, layering.top().at(i, j)}, {x, y, layering.base().at(i, j)}});
    }
  }
  StoreWriter& writer = store.writer;
  ZV_TRY(write_pillars(writer, pillars));

  const ConstantPriors& priors = builder.spec.priors;
  const float constants[3] = {static_cast<float>(priors.net_to_gross),
                              static_cast<float>(priors.porosity),
                              static_cast<float>(priors.water_saturation)};
  std::vector<double> upper(nx * ny, 0.0);
  std::vector<double> lower(nx * ny, 0.0);
  std::vector<std::size_t> pinched_per_zone(layering.zone_counts().size(), 0);
  const std::size_t layer = dims.layer_cells();
  const std::size_t row_floats = 8 * dims.ni;
  const std::size_t rows_per_piece =
      std::max<std::size_t>(1, kPieceBytes / (row_floats * sizeof(float)));
  const std::size_t cube_piece = std::min(layer, kPieceBytes / sizeof(float));
  layering.fill_plane(0, lower);
  for (std::size_t k = 0; k < dims.nk; ++k) {
    ZV_TRY(zorvatools::poll_call(kWriting, k, dims.nk));
    // The bottom plane of layer k - 1 is the top plane of layer k.
    upper.swap(lower);
    layering.fill_plane(k + 1, lower);
    std::size_t pinched = 0;
    for (std::size_t j0 = 0; j0 < dims.nj; j0 += rows_per_piece) {
      const std::size_t j1 = std::min(dims.nj, j0 + rows_per_piece);
      const std::span<float> depths = writer.buffer<float>((j1 - j0) * row_floats);
      float* out = depths.data();
      for (std::size_t j = j0; j < j1; ++j) {
        for (std::size_t i = 0; i < dims.ni; ++i) {
          const std::size_t node[4] = {i + nx * j, i + 1 + nx * j, i + nx * (j + 1),
                                       i + 1 + nx * (j + 1)};
          double thickness = 0;
          for (std::size_t n : node) *out++ = static_cast<float>(upper[n]);
          for (std::size_t n : node) {
            *out++ = static_cast<float>(lower[n]);
            thickness = std::fmax(thickness, lower[n] - upper[n]);
          }
          if (thickness <= kZeroThicknessTolerance) ++pinched;
        }
      }
      ZV_TRY(writer.write_slab_part_f32("ZCORN", k, j0 * row_floats, depths));
    }
    pinched_per_zone[layering.zone_of_layer()[k]] += pinched;
    // One piece of each constant, written over and over across the layer.
    for (std::size_t c = 0; c < cube_names.size(); ++c) {
      const std::span<float> piece = writer.buffer<float>(cube_piece);
      std::fill(piece.begin(), piece.end(), constants[c]);
      for (std::size_t first = 0; first < layer; first += cube_piece) {
        ZV_TRY(writer.write_slab_part_f32(cube_names[c], k, first,
                                          piece.first(std::min(cube_piece, layer - first))));
      }
    }
  }
  ZV_ASSIGN_OR_RETURN(std::shared_ptr<const SpillBacking> backing,
                      finish_store(std::move(store), std::move(pillars), cube_names, dims,
                                   builder.keep_spill_file));
  announce_spill(estimate, builder.spill_budget_bytes, dims.cell_count(), backing->path());
  return StreamedLayering{std::move(backing), std::move(pinched_per_zone)};
}

Result<StaticModel> build_spilled_streaming(const StaticModelBuilder& builder,
                                            const StreamingLayering& layering,
                                            std::uint64_t estimate,
                                            std::vector<BuildWarning> warnings) {
  ZV_ASSIGN_OR_RETURN(StreamedLayering streamed, stream_into_store(builder, layering, estimate));
  const std::size_t pinched = streamed.pinched_cells.front();
  const Dims dims = layering.dims();
  if (pinched != 0) warnings.push_back(BuildWarning::pinched_cells(pinched));
  if (layering.capped()) warnings.push_back(BuildWarning::layers_capped(dims.nk));

  StaticModel model{
      .sw_gas = builder.sw_gas,
      .provenance = {builder.inputs_ref_string(), std::nullopt, std::move(warnings), {}},
      .georef = builder.georef,
      .sugar_cube = builder.sugar_cube,
      .wireframe = builder.wireframe,
      .grid = unit_box(),
      .zone_table = builder.single_zone_table(dims.nk),
      .zone_contacts = std::nullopt,
      .spill = nullptr,
  };
  return into_spilled(std::move(model), std::move(streamed.backing));
}

}  // namespace zorvastatic
