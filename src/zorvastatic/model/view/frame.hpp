#pragma once
// The areal frame of a grid's columns and the per-column map layers the views are drawn on.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zorvastatic/error.hpp"
#include "zorvastatic/grid/grid.hpp"
#include "zorvastatic/model/georef.hpp"
#include "zorvatools/foundation/lattice.hpp"
#include "zorvatools/text/json_writer.hpp"

namespace zorvastatic {

// Every bundle document starts with this version.
inline constexpr std::uint32_t kViewSchemaVersion = 6;

struct GridFrame {
  double origin_x = 0;
  double origin_y = 0;
  double spacing_x = 1;
  double spacing_y = 1;
  std::uint64_t ncol = 0;  // the grid's ni
  std::uint64_t nrow = 0;  // the grid's nj
  double rotation_deg = 0;
  bool yflip = false;

  // The georeference when there is one, else the lattice of the column centres.
  static Result<GridFrame> of_grid(const Grid& grid, const std::optional<Georef>& georef);

  [[nodiscard]] zorvatools::Lattice lattice() const {
    return {origin_x, origin_y, spacing_x, spacing_y, ncol, nrow, rotation_deg, yflip};
  }
};

struct ValueRange {
  double min = 0;
  double max = 0;

  // Over the finite values only; both NaN when there is none.
  static ValueRange of_finite(std::span<const double> values);
  static ValueRange of_finite(std::span<const float> values);
};

// One value per column, column (i, j) at j * ni + i, NaN where undefined.
struct ScalarLayer {
  std::string name;
  std::string units;
  std::vector<double> values;
  ValueRange range;

  static ScalarLayer of(std::string name, std::string units, std::vector<double> values) {
    const ValueRange range = ValueRange::of_finite(values);
    return {std::move(name), std::move(units), std::move(values), range};
  }
};

// `rotation_deg` only when not 0, `yflip` only when set.
void write_json(zorvatools::JsonWriter& json, const GridFrame& frame);
void write_json(zorvatools::JsonWriter& json, const ValueRange& range);
void write_json(zorvatools::JsonWriter& json, const ScalarLayer& layer);

}  // namespace zorvastatic
