#include "zorvastatic/gridder/stack_resolve.hpp"

#include <cmath>
#include <limits>
#include <optional>

#include <tbb/enumerable_thread_specific.h>

#include "zorvastatic/gridder/stack_thickness.hpp"
#include "zorvatools/foundation/call_scope.hpp"
#include "zorvatools/foundation/worker_pool.hpp"
#include "zorvatools/gridding/min_curvature.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr std::string_view kStage = "resolving the horizon stack";

StaticError fully_undefined(const std::string& name) {
  return StaticError::grid(str_cat("mapped horizon '", name, "' is fully undefined (all NaN)"));
}

Status validate_mapped(const StackHorizon& horizon, const MappedGrid& grid, std::size_t ni,
                       std::size_t nj) {
  const std::size_t expected = grid.ni * grid.nj;
  if (grid.values.size() != expected) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("mapped horizon '", horizon.name, "' has ", grid.values.size(),
                " control values, expected ", expected, " (", grid.ni, "x", grid.nj, ")")));
  }
  if (grid.ni != ni || grid.nj != nj) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("mapped horizon '", horizon.name, "' lattice ", grid.ni, "x", grid.nj,
                " does not match the ", ni, "x", nj, " stack lattice")));
  }
  if (grid.mask.size() != expected) {
    return std::unexpected(StaticError::invalid_input(
        str_cat("mapped horizon '", horizon.name, "' has ", grid.mask.size(),
                " control mask entries, expected ", expected)));
  }
  for (std::size_t n = 0; n < expected; ++n) {
    const double z = grid.values[n];
    if (std::isinf(z)) {
      return std::unexpected(StaticError::invalid_input(
          str_cat("mapped horizon '", horizon.name, "' has a non-finite depth ", z, " at node (",
                  n % ni, ",", n / ni, ")")));
    }
  }
  return {};
}

Status validate_tops(const StackHorizon& horizon, const WellTops& tops, std::size_t ni,
                     std::size_t nj) {
  for (const ControlPoint& top : tops.tops) {
    if (top.i >= ni || top.j >= nj) {
      return std::unexpected(
          StaticError::grid(str_cat("tops-only horizon '", horizon.name, "' top (", top.i, ",",
                                    top.j, ") is off the ", ni, "x", nj, " control lattice")));
    }
    if (!std::isfinite(top.z)) {
      return std::unexpected(
          StaticError::invalid_input(str_cat("tops-only horizon '", horizon.name, "' top (", top.i,
                                             ",", top.j, ") has a non-finite depth ", top.z)));
    }
  }
  return {};
}

// Every input is checked before any solve, so that no index is read off its grid.
Status validate_stack(const HorizonStack& stack, std::size_t ni, std::size_t nj) {
  if (ni < 2 || nj < 2) {
    return std::unexpected(
        StaticError::grid(str_cat("stack lattice must be at least 2x2, got ", ni, "x", nj)));
  }
  for (const StackHorizon& horizon : stack.horizons) {
    if (const MappedGrid* grid = horizon.grid()) {
      ZV_TRY(validate_mapped(horizon, *grid, ni, nj));
    } else {
      ZV_TRY(validate_tops(horizon, std::get<WellTops>(horizon.source), ni, nj));
    }
  }
  return {};
}

// Solves share factorisations through `cache` whenever their control nodes coincide.
Result<Surface> solve_tapered(std::size_t ni, std::size_t nj,
                              const std::vector<ControlPoint>& controls, const TaperSpec& taper,
                              zorvatools::MinCurvatureCache& cache) {
  ZV_ASSIGN_OR_RETURN(const Surface solved, solve_surface_converged(ni, nj, controls, cache));
  return taper_beyond_data(solved, controls, taper);
}

// A thickness field from samples: solved, tapered and raised to at least 0.
Result<std::vector<double>> thickness_from(std::size_t ni, std::size_t nj,
                                           const std::vector<ControlPoint>& samples,
                                           const TaperSpec& taper,
                                           zorvatools::MinCurvatureCache& cache) {
  ZV_ASSIGN_OR_RETURN(Surface solved, solve_tapered(ni, nj, samples, taper, cache));
  std::vector<double> field = std::move(solved.values());
  clamp_non_negative(field);
  return field;
}

bool same_nodes(const std::vector<ControlPoint>& a, const std::vector<ControlPoint>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t n = 0; n < a.size(); ++n) {
    if (a[n].i != b[n].i || a[n].j != b[n].j) return false;
  }
  return true;
}

// Cumulative thickness of a mapped horizon below the reference, and how it was found.
struct MappedThickness {
  std::vector<double> c;
  HorizonResolution how;
};

class StackResolver {
 public:
  StackResolver(const HorizonStack& stack, std::size_t ni, std::size_t nj, const TaperSpec& taper)
      : stack_(stack), ni_(ni), nj_(nj), taper_(taper) {
    for (std::size_t h = 0; h < stack.horizons.size(); ++h) {
      if (stack.horizons[h].is_mapped()) mapped_.push_back(h);
    }
  }

  Result<ResolvedStack> run() {
    if (mapped_.empty()) {
      return std::unexpected(StaticError::grid(
          "horizon stack has no mapped horizon (the first mapped horizon is its reference)"));
    }
    ZV_TRY(solve_reference());
    ZV_TRY(solve_mapped_thicknesses());
    make_monotone();

    ResolvedStack out;
    out.surfaces.resize(stack_.horizons.size());
    out.horizons.resize(stack_.horizons.size());
    for (std::size_t m = 0; m < mapped_.size(); ++m) {
      const std::size_t h = mapped_[m];
      if (m == 0) {
        out.surfaces[h] = reference_;
      } else {
        ZV_ASSIGN_OR_RETURN(out.surfaces[h], reference_.offset_by_field(thickness_[m].c));
      }
      out.horizons[h] = std::move(thickness_[m].how);
    }
    for (std::size_t h = 0; h < stack_.horizons.size(); ++h) {
      if (stack_.horizons[h].is_mapped()) continue;
      ZV_TRY(zorvatools::poll_call(kStage, h, stack_.horizons.size()));
      ZV_TRY(resolve_tops_only(h, out));
    }
    return out;
  }

 private:
  const std::vector<double>& grid_of(std::size_t m) const {
    return stack_.horizons[mapped_[m]].grid()->values;
  }
  const std::string& name_of(std::size_t m) const { return stack_.horizons[mapped_[m]].name; }

  Status solve_reference() {
    reference_controls_ = controls_from_surface(grid_of(0), ni_, nj_);
    if (reference_controls_.empty()) return std::unexpected(fully_undefined(name_of(0)));
    ZV_ASSIGN_OR_RETURN(reference_, solve_tapered(ni_, nj_, reference_controls_, taper_, cache_));
    thickness_.push_back(
        {std::vector<double>(ni_ * nj_, 0.0),
         {name_of(0), true, ResolutionMethod::Reference, "", reference_controls_.size()}});
    return {};
  }

  // Isochores below the reference in parallel (one task per mapped horizon, results in stack
  // order), then the horizons without co-located nodes rebuilt against shallower ones in order.
  // A horizon mapped on the reference's nodes starts from a copy of its factorisation.
  Status solve_mapped_thicknesses() {
    using Isochore = std::optional<MappedThickness>;
    ReferenceCopies copies;
    ZV_ASSIGN_OR_RETURN(std::vector<Isochore> isochores,
                        zorvatools::parallel_collect<Result<Isochore>>(
                            mapped_.size() - 1,
                            [&](std::size_t task) -> Result<Isochore> {
                              ZV_TRY(zorvatools::poll_call());
                              return isochore(task + 1, copies);
                            },
                            kStage));
    for (std::size_t m = 1; m < mapped_.size(); ++m) {
      if (isochores[m - 1]) {
        thickness_.push_back(std::move(*isochores[m - 1]));
      } else {
        ZV_TRY(zorvatools::poll_call(kStage, mapped_[m], stack_.horizons.size()));
        ZV_ASSIGN_OR_RETURN(MappedThickness rebuilt, rebuild(m));
        thickness_.push_back(std::move(rebuilt));
      }
    }
    return {};
  }

  // One copy of the reference's factorisation per worker thread, made on first use.
  using ReferenceCopies =
      tbb::enumerable_thread_specific<std::optional<zorvatools::MinCurvatureCache>>;

  // The isochore of mapped horizon m below the reference, absent without co-located nodes.
  Result<std::optional<MappedThickness>> isochore(std::size_t m, ReferenceCopies& copies) const {
    const std::vector<ControlPoint> samples =
        colocated_thickness_samples(grid_of(0), grid_of(m), {}, ni_, nj_);
    if (samples.empty()) return std::nullopt;
    zorvatools::MinCurvatureCache own;
    zorvatools::MinCurvatureCache* cache = &own;
    if (same_nodes(samples, reference_controls_)) {
      std::optional<zorvatools::MinCurvatureCache>& copy = copies.local();
      if (!copy) copy = cache_;
      cache = &*copy;
    }
    ZV_ASSIGN_OR_RETURN(std::vector<double> c, thickness_from(ni_, nj_, samples, taper_, *cache));
    return MappedThickness{
        std::move(c), {name_of(m), true, ResolutionMethod::Isochore, name_of(0), samples.size()}};
  }

  Result<MappedThickness> rebuild(std::size_t m) {
    for (std::size_t up = m - 1; up >= 1; --up) {
      const std::vector<ControlPoint> samples =
          colocated_thickness_samples(grid_of(up), grid_of(m), thickness_[up].c, ni_, nj_);
      if (samples.empty()) continue;
      ZV_ASSIGN_OR_RETURN(std::vector<double> c, thickness_from(ni_, nj_, samples, taper_, cache_));
      return MappedThickness{
          std::move(c),
          {name_of(m), true, ResolutionMethod::RebuiltAgainst, name_of(up), samples.size()}};
    }
    const std::vector<ControlPoint> controls = controls_from_surface(grid_of(m), ni_, nj_);
    if (controls.empty()) return std::unexpected(fully_undefined(name_of(m)));
    ZV_ASSIGN_OR_RETURN(const Surface own, solve_tapered(ni_, nj_, controls, taper_, cache_));
    std::vector<double> c(ni_ * nj_);
    for (std::size_t n = 0; n < c.size(); ++n) c[n] = own.values()[n] - reference_.values()[n];
    clamp_non_negative(c);
    return MappedThickness{std::move(c),
                           {name_of(m), true, ResolutionMethod::OwnNodes, "", controls.size()}};
  }

  // Each mapped horizon at least as deep as the one above it, so mapped surfaces never cross.
  void make_monotone() {
    for (std::size_t m = 1; m < thickness_.size(); ++m) {
      std::vector<double>& c = thickness_[m].c;
      const std::vector<double>& above = thickness_[m - 1].c;
      for (std::size_t n = 0; n < c.size(); ++n) c[n] = std::fmax(c[n], above[n]);
    }
  }

  Status resolve_tops_only(std::size_t h, ResolvedStack& out) {
    const StackHorizon& horizon = stack_.horizons[h];
    const std::vector<ControlPoint>& tops = std::get<WellTops>(horizon.source).tops;
    std::size_t upper = kNone;  // mapped slots of the anchors
    std::size_t lower = kNone;
    for (std::size_t m = 0; m < mapped_.size(); ++m) {
      if (mapped_[m] < h) upper = m;
      if (mapped_[m] > h && lower == kNone) lower = m;
    }
    HorizonResolution& how = out.horizons[h];
    how = {horizon.name, false, ResolutionMethod::TopsBelow, "", tops.size()};

    if (upper == kNone) {  // above the reference: the reference minus the tops' height
      ZV_ASSIGN_OR_RETURN(std::vector<double> height,
                          pick_height_field(tops, reference_, ni_, nj_, taper_, &cache_));
      for (double& v : height) v = -v;
      ZV_ASSIGN_OR_RETURN(out.surfaces[h], reference_.offset_by_field(height));
      how.method = ResolutionMethod::TopsAbove;
      how.anchor = name_of(0);
      return {};
    }
    const Surface& anchor = out.surfaces[mapped_[upper]];
    ZV_ASSIGN_OR_RETURN(std::vector<double> t,
                        pick_thickness_field(tops, anchor, ni_, nj_, taper_, &cache_));
    how.anchor = name_of(upper);
    if (lower == kNone) {
      ZV_ASSIGN_OR_RETURN(out.surfaces[h], anchor.offset_by_field(t));
      return {};
    }
    // It may reach the lower anchor but never pass it.
    const std::vector<double>& c_upper = thickness_[upper].c;
    const std::vector<double>& c_lower = thickness_[lower].c;
    for (std::size_t n = 0; n < t.size(); ++n) {
      t[n] = c_upper[n] + std::fmin(t[n], c_lower[n] - c_upper[n]);
    }
    ZV_ASSIGN_OR_RETURN(out.surfaces[h], reference_.offset_by_field(t));
    how.method = ResolutionMethod::TopsBetween;
    return {};
  }

  const HorizonStack& stack_;
  std::size_t ni_;
  std::size_t nj_;
  TaperSpec taper_;
  std::vector<std::size_t> mapped_;  // stack indices of the mapped horizons
  Surface reference_;                // solved surface of the first mapped horizon
  std::vector<ControlPoint> reference_controls_;
  // Factorisation of the last sequential solve; read-only while the parallel loop runs.
  zorvatools::MinCurvatureCache cache_;
  std::vector<MappedThickness> thickness_;  // per mapped horizon, the reference's is 0
};

}  // namespace

Result<ResolvedStack> resolve_stack_surfaces(const HorizonStack& stack, std::size_t ni,
                                             std::size_t nj, const TaperSpec& taper) {
  ZV_TRY(validate_stack(stack, ni, nj));
  return StackResolver(stack, ni, nj, taper).run();
}

}  // namespace zorvastatic
