#pragma once
// Filling the "PORO", "NTG" and "SW" cubes of a freshly layered grid from constant priors, an
// optional depth profile and an optional areal trend.

#include <optional>
#include <string>
#include <vector>

#include "zorvastatic/error.hpp"
#include "zorvastatic/grid/grid.hpp"
#include "zorvastatic/model/georef.hpp"
#include "zorvastatic/model/spec.hpp"
#include "zorvastatic/model/trend.hpp"

namespace zorvastatic {

// One depth-profile record; a profile is sorted by ascending depth.
struct DepthRecord {
  double depth_m = 0;
  double porosity = 0;
  double sw = 0;
};

struct ArealTrend {
  TrendSurface trend;
  bool scale_porosity = false;  // PORO is scaled as well as NTG
};

// A zone's name and its layers [k_start, k_end).
struct ZoneRange {
  std::string name;
  std::size_t k_start = 0;
  std::size_t k_end = 0;
};

// "{name} must be a fraction in [0,1], got {value}" unless 0 <= value <= 1.
Status require_fraction(const char* name, double value);
Status validate_priors(const ConstantPriors& priors);

Status populate(Grid& grid, const ConstantPriors& priors,
                const std::optional<std::vector<DepthRecord>>& depth_profile,
                const std::optional<ArealTrend>& areal_trend, const std::optional<Georef>& georef);

// Sets every cell whose layer lies in [k_start, k_end) of the named cube to `value`.
Status fill_zone_layers(Grid& grid, const std::string& cube, const ZoneRange& zone, double value,
                        const char* missing_message_prefix);

}  // namespace zorvastatic
