#include "zorvastatic/model/build_size.hpp"

#include <algorithm>
#include <limits>

#include "zorvastatic/gridder/layering.hpp"
#include "zorvastatic/model/builder.hpp"
#include "zorvastatic/spill/capacity.hpp"
#include "zorvastatic/spill/spill.hpp"
#include "zorvastatic/spill/spill_path.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

using zorvatools::str_cat;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? kMax : product;
}

std::string bytes_text(std::uint64_t bytes) {
  return bytes == kMax ? str_cat("at least ", bytes, " bytes") : str_cat(bytes, " bytes");
}

// Fails when `needed` bytes of `what` exceed the memory (or anything addressable).
Status require_memory(std::uint64_t needed, std::optional<std::uint64_t> memory_bytes,
                      const std::string& what) {
  if (needed < kMax && (!memory_bytes || needed <= *memory_bytes)) return {};
  const std::string available = memory_bytes ? str_cat("this machine has ", *memory_bytes, " bytes")
                                             : std::string("more than can be addressed");
  return std::unexpected(
      StaticError::grid(str_cat(what, " needs ", bytes_text(needed), " of memory, ", available)));
}

// The fewest layers the build can make: a proportional zone's count (capped as layering caps
// it), one for a zone whose count depends on its thickness.
std::uint64_t layer_floor(const StaticModelBuilder& builder) {
  auto zone_floor = [](const ZoneLayerSpec& zone) -> std::uint64_t {
    return zone.conformity.kind == Conformity::Kind::Proportional ? zone.nk : 1;
  };
  if (!builder.horizon_stack) {
    const std::uint64_t nk = zone_floor({builder.spec.conformity, builder.spec.nk});
    return std::min<std::uint64_t>(nk, kLayerCap);
  }
  const std::vector<StackZone>& zones = builder.horizon_stack->zones;
  std::uint64_t sum = 0;
  for (const StackZone& zone : zones) {
    if (__builtin_add_overflow(sum, zone_floor(zone.layers), &sum)) sum = kMax;
  }
  // Over the cap every zone keeps at least one layer.
  return sum <= kLayerCap ? sum : zones.size();
}

}  // namespace

Status check_lattice_size(std::uint64_t nx, std::uint64_t ny,
                          std::optional<std::uint64_t> memory_bytes) {
  const std::uint64_t bytes = saturating_mul(saturating_mul(nx, ny), kLatticeBytesPerNode);
  return require_memory(bytes, memory_bytes, str_cat("a ", nx, " x ", ny, "-node lattice"));
}

bool streams_when_over_budget(const StaticModelBuilder& builder) {
  return !builder.collapse_below_m && !builder.depth_profile && !builder.areal_trend &&
         builder.pipelines.empty() && builder.zone_pipelines.empty() && builder.zone_priors.empty();
}

BuildShape build_shape(const StaticModelBuilder& builder) {
  return {std::uint64_t{builder.top_max_i} + 1,
          std::uint64_t{builder.top_max_j} + 1,
          layer_floor(builder),
          streams_when_over_budget(builder),
          builder.spill_budget_bytes,
          builder.spill_dir};
}

Status check_build_size(const BuildShape& shape, std::optional<std::uint64_t> memory_bytes) {
  ZV_TRY(check_lattice_size(shape.nx, shape.ny, memory_bytes));
  const Dims dims{shape.nx == 0 ? 0 : shape.nx - 1, shape.ny == 0 ? 0 : shape.ny - 1,
                  shape.min_layers};
  const std::uint64_t cells = saturating_mul(saturating_mul(dims.ni, dims.nj), dims.nk);
  const std::vector<std::string> cubes = {"NTG", "PORO", "SW"};

  const std::uint64_t estimate =
      shape.streams ? streaming_estimate(cells) : in_memory_estimate(dims, cubes.size());
  if (!shape.streams || estimate <= shape.budget_bytes) {
    // Corner depths and the three cubes as doubles: half the estimate's allowance.
    const std::uint64_t held = saturating_mul(cells, 64 + 8 * cubes.size());
    ZV_TRY(require_memory(
        held, memory_bytes,
        str_cat("a grid of ", dims.ni, " x ", dims.nj, " x ", dims.nk, " cells held in memory")));
  }
  if (estimate <= shape.budget_bytes) return {};
  ZV_ASSIGN_OR_RETURN(const std::filesystem::path directory, spill_directory(shape.spill_dir));
  return check_spill_fits(dims, cubes, estimate, shape.budget_bytes, directory);
}

}  // namespace zorvastatic
