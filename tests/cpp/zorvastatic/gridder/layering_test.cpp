#include "zorvastatic/gridder/layering.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "test_support.hpp"
#include "zorvastatic/gridder/layering_rules.hpp"

namespace zorvastatic {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Surface field(std::size_t nx, std::size_t ny,
              const std::function<double(std::size_t, std::size_t)>& f) {
  std::vector<double> v(nx * ny);
  for (std::size_t j = 0; j < ny; ++j) {
    for (std::size_t i = 0; i < nx; ++i) v[i + nx * j] = f(i, j);
  }
  return Surface(nx, ny, std::move(v));
}

std::vector<const Surface*> ptrs(const std::vector<Surface>& surfaces) {
  std::vector<const Surface*> out;
  for (const Surface& s : surfaces) out.push_back(&s);
  return out;
}

ZoneLayerSpec proportional(std::size_t nk) {
  return {Conformity::proportional(), nk};
}

Result<LayeringReport> layer(const std::vector<Surface>& surfaces,
                             const std::vector<ZoneLayerSpec>& specs,
                             std::optional<double> collapse = std::nullopt, double dx = 10,
                             double dy = 20) {
  const std::vector<const Surface*> p = ptrs(surfaces);
  return layer_grid_stack(p, specs, collapse, dx, dy);
}

// Boundaries of layer k's top (corners 0..3) and bottom (4..7) at cell (i, j, k).
double corner(const Grid& grid, std::size_t i, std::size_t j, std::size_t k, int n) {
  return grid.geom.cell_depths(grid.dims().linear(i, j, k))[n];
}

struct FailureCase {
  const char* name;
  std::function<Result<LayeringReport>()> run;
  const char* message;
};

class LayerGridStackFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(LayerGridStackFailure, ReportsTheFirstFailedCheck) {
  EXPECT_ERROR_TEXT(GetParam().run(), GetParam().message);
}

const Surface kTop = Surface::constant(4, 9, 1000);
const Surface kBase = Surface::constant(4, 9, 1100);
Surface with_node(Surface s, std::size_t i, std::size_t j, double z) {
  s.at(i, j) = z;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Checks, LayerGridStackFailure,
    testing::Values(
        FailureCase{"OneSurface", [] { return layer({kTop}, {}); },
                    "invalid input: a horizon stack needs at least 2 surfaces, got 1"},
        FailureCase{"SpecCount",
                    [] {
                      return layer({kTop, kBase, kBase}, {proportional(1)});
                    },
                    "invalid input: expected 2 zone specs for 3 surfaces, got 1"},
        FailureCase{"Lattice",
                    [] {
                      return layer({kTop, Surface::constant(9, 4, 1100)}, {proportional(1)});
                    },
                    "invalid input: all stack surfaces must share one lattice"},
        FailureCase{"NaNBeforeBadSpacing",
                    [] {
                      return layer({kTop, with_node(kBase, 3, 7, kNaN)}, {proportional(1)},
                                   std::nullopt, 0, 1);
                    },
                    "invalid input: surface 1 has a non-finite depth NaN at node (3, 7); layering "
                    "needs finite top/base surfaces"},
        FailureCase{"InfiniteDepth",
                    [] {
                      return layer({with_node(kTop, 0, 2, -kInf), kBase}, {proportional(1)});
                    },
                    "invalid input: surface 0 has a non-finite depth -inf at node (0, 2); layering "
                    "needs finite top/base surfaces"},
        FailureCase{
            "ZeroDz",
            [] {
              return layer({kTop, kBase}, {{Conformity::top_conform(0), 1}}, std::nullopt, -1, 1);
            },
            "invalid input: conformity dz_m must be finite and > 0, got 0"},
        FailureCase{"NaNDz",
                    [] {
                      return layer({kTop, kBase}, {{Conformity::base_conform(kNaN), 1}});
                    },
                    "invalid input: conformity dz_m must be finite and > 0, got NaN"},
        FailureCase{"ZeroNk",
                    [] {
                      return layer({kTop, kBase, kBase}, {proportional(2), proportional(0)});
                    },
                    "invalid input: nk must be >= 1"},
        FailureCase{"Spacing",
                    [] {
                      return layer({kTop, kBase}, {proportional(1)}, std::nullopt, 0, 10);
                    },
                    "invalid input: dx, dy must be finite and > 0, got 0, 10"},
        FailureCase{"SpacingInfinite",
                    [] {
                      return layer({kTop, kBase}, {proportional(1)}, std::nullopt, 5, kInf);
                    },
                    "invalid input: dx, dy must be finite and > 0, got 5, inf"},
        FailureCase{"TooManyZones",
                    [] {
                      return layer(std::vector<Surface>(202, kTop),
                                   std::vector<ZoneLayerSpec>(201, proportional(1)), -1.0);
                    },
                    "invalid input: 201 zones exceed the 200-layer total cap (a zone needs >= 1 "
                    "layer)"},
        FailureCase{"Collapse",
                    [] {
                      return layer({kTop, kBase}, {proportional(1)}, -0.5);
                    },
                    "invalid input: collapse_below_m must be finite and > 0, got -0.5"},
        FailureCase{"CollapseNaN",
                    [] {
                      return layer({kTop, kBase}, {proportional(1)}, kNaN);
                    },
                    "invalid input: collapse_below_m must be finite and > 0, got NaN"},
        FailureCase{"SingleRowLattice",
                    [] {
                      return layer({Surface(1, 5, std::vector<double>(5, 0.0)),
                                    Surface(1, 5, std::vector<double>(5, 9.0))},
                                   {proportional(10)});
                    },
                    "grid error: dimensions must be non-zero, got (0,4,10)"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(RequireFiniteSurfaces, ScansSurfacesInOrderRowsOuter) {
  Surface s = Surface::constant(3, 3, 0);
  s.at(1, 2) = kInf;
  s.at(2, 1) = kNaN;
  const std::vector<const Surface*> p = {&kTop, &s};
  EXPECT_ERROR_TEXT(require_finite_surfaces(p),
                    "invalid input: surface 1 has a non-finite depth NaN at node (2, 1); layering "
                    "needs finite top/base surfaces");
  const std::vector<const Surface*> fine = {&kTop, &kBase};
  ASSERT_OK(require_finite_surfaces(fine));
}

TEST(LayerGridStack, ProportionalZoneOfEqualLayers) {
  ASSERT_OK_AND_ASSIGN(LayeringReport r, layer({kTop, kBase}, {proportional(10)}));
  const Grid& g = r.grid;
  EXPECT_EQ(g.dims(), (Dims{3, 8, 10}));
  EXPECT_FALSE(r.capped);
  EXPECT_EQ(r.pinched_cells, 0u);
  EXPECT_EQ(r.collapsed_cells, 0u);
  ASSERT_EQ(r.zones.size(), 1u);
  EXPECT_EQ(r.zones[0].nk, 10u);
  EXPECT_EQ(r.zones[0].k_start, 0u);
  for (std::size_t k = 0; k < 10; ++k) {
    for (int n = 0; n < 4; ++n) {
      EXPECT_DOUBLE_EQ(corner(g, 2, 5, k, n), 1000 + 10.0 * static_cast<double>(k));
      EXPECT_DOUBLE_EQ(corner(g, 2, 5, k, n + 4), 1010 + 10.0 * static_cast<double>(k));
    }
  }
  // Vertical pillars at dx * i, dy * j from the first to the last surface.
  EXPECT_EQ(g.geom.pillars()[g.geom.pillar_index(3, 2)], (Pillar{{30, 40, 1000}, {30, 40, 1100}}));
  EXPECT_EQ(g.layers.size(), 10u);
  EXPECT_EQ(g.layers[9].name, "layer_9");
  EXPECT_EQ(g.properties.cell_count(), 240u);
  EXPECT_EQ(g.properties.size(), 0u);
}

// Top at 0; the base 10 m down for i <= 2 and 2 m down for i >= 3 (6 x 3 nodes).
std::vector<Surface> thick_and_thin() {
  return {Surface::constant(6, 3, 0),
          field(6, 3, [](std::size_t i, std::size_t) { return i <= 2 ? 10.0 : 2.0; })};
}

std::vector<double> layer_thicknesses(const Grid& g, std::size_t i, std::size_t j) {
  std::vector<double> t;
  for (std::size_t k = 0; k < g.dims().nk; ++k)
    t.push_back(corner(g, i, j, k, 4) - corner(g, i, j, k, 0));
  return t;
}

TEST(LayerGridStack, TopConformLayersRunOutAgainstTheBase) {
  ASSERT_OK_AND_ASSIGN(LayeringReport r,
                       layer(thick_and_thin(), {{Conformity::top_conform(4), 1}}));
  EXPECT_EQ(r.zones[0].nk, 3u);
  EXPECT_EQ(layer_thicknesses(r.grid, 0, 0), (std::vector<double>{4, 4, 2}));
  EXPECT_EQ(layer_thicknesses(r.grid, 3, 1), (std::vector<double>{2, 0, 0}));
  // Cells i = 3, 4 have all four columns in the thin area: pinched in layers 1 and 2.
  EXPECT_EQ(r.pinched_cells, 8u);
  EXPECT_EQ(r.zones[0].pinched_cells, 8u);
  EXPECT_FALSE(r.capped);
}

TEST(LayerGridStack, BaseConformLayersRunOutAgainstTheTop) {
  ASSERT_OK_AND_ASSIGN(LayeringReport r,
                       layer(thick_and_thin(), {{Conformity::base_conform(4), 1}}));
  EXPECT_EQ(layer_thicknesses(r.grid, 0, 0), (std::vector<double>{2, 4, 4}));
  EXPECT_EQ(layer_thicknesses(r.grid, 4, 1), (std::vector<double>{0, 0, 2}));
  EXPECT_EQ(r.pinched_cells, 8u);
}

TEST(LayerGridStack, ConformityZoneIsLimitedToTheCap) {
  ASSERT_OK_AND_ASSIGN(LayeringReport r,
                       layer(thick_and_thin(), {{Conformity::top_conform(0.01), 1}}));
  EXPECT_EQ(r.zones[0].nk, 200u);
  EXPECT_TRUE(r.capped);
  ASSERT_OK_AND_ASSIGN(LayeringReport exact,
                       layer(thick_and_thin(), {{Conformity::top_conform(0.05), 1}}));
  EXPECT_EQ(exact.zones[0].nk, 200u);
  EXPECT_FALSE(exact.capped);
}

TEST(LayerGridStack, ZonesShareBoundariesAndChargeTheirOwnCells) {
  const Surface mid = field(6, 3, [](std::size_t i, std::size_t) { return i <= 2 ? 6.0 : 2.0; });
  const std::vector<Surface> stack = {Surface::constant(6, 3, 0), mid, Surface::constant(6, 3, 2)};
  ASSERT_OK_AND_ASSIGN(LayeringReport r,
                       layer(stack, {proportional(2), {Conformity::top_conform(1.5), 1}}));
  ASSERT_EQ(r.zones.size(), 2u);
  EXPECT_EQ(r.zones[1].k_start, 2u);
  EXPECT_EQ(r.zones[1].nk, 3u);  // ceil(4 / 1.5)
  EXPECT_EQ(r.grid.dims().nk, 5u);
  EXPECT_EQ(corner(r.grid, 0, 0, 2, 0), 6);  // the middle surface starts zone 1
  EXPECT_EQ(corner(r.grid, 0, 0, 1, 4), 6);
  // Zone 1 has no thickness under i >= 3, and mid crosses below the base under i <= 2, where the
  // clamped boundaries stay on the middle surface: every zone-1 cell is pinched.
  EXPECT_EQ(r.zones[1].pinched_cells, 3u * 10u);
  EXPECT_EQ(r.zones[0].pinched_cells, 0u);
  EXPECT_EQ(r.pinched_cells, 30u);
}

TEST(CapTotalNk, ScalesDropsFractionsRaisesToOneAndTrimsTheLargest) {
  struct Case {
    std::vector<std::size_t> in;
    std::vector<std::size_t> out;
    bool capped;
  };
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  const std::vector<Case> cases = {
      {{150, 100}, {120, 80}, true},
      {{1, 1, 500}, {1, 1, 198}, true},
      {{100, 100}, {100, 100}, false},
      // 99, 99 and five raised ones make 203: the last of the equal largest goes first.
      {{1000, 1000, 1, 1, 1, 1, 1}, {98, 97, 1, 1, 1, 1, 1}, true},
      {{huge, 1}, {199, 1}, true},
      {std::vector<std::size_t>(250, 1), std::vector<std::size_t>(250, 1), true},
  };
  for (const Case& c : cases) {
    const CappedCounts r = cap_total_nk(c.in);
    EXPECT_EQ(r.counts, c.out);
    EXPECT_EQ(r.capped, c.capped);
  }
}

TEST(SizeScratch, KeepsEntriesBelowTheOldLengthAndZeroesNewOnes) {
  std::vector<double> buffer = {1, 2, 3};
  size_scratch(buffer, 5);
  EXPECT_EQ(buffer, (std::vector<double>{1, 2, 3, 0, 0}));
  const std::size_t capacity = buffer.capacity();
  size_scratch(buffer, 2);
  size_scratch(buffer, 4);
  EXPECT_EQ(buffer, (std::vector<double>{1, 2, 0, 0}));
  EXPECT_EQ(buffer.capacity(), capacity);
}

struct CollapseCase {
  std::vector<double> boundaries;
  double below_m;
  std::vector<double> collapsed;
};

class CollapseZone : public testing::TestWithParam<CollapseCase> {};

TEST_P(CollapseZone, MergesThinLayers) {
  std::vector<double> b = GetParam().boundaries;
  layering::collapse_zone(b.data(), b.size() - 1, GetParam().below_m);
  EXPECT_EQ(b, GetParam().collapsed);
}

INSTANTIATE_TEST_SUITE_P(Columns, CollapseZone,
                         testing::Values(
                             // A thin zone becomes its thickest layer: 0.1, 0.3, 0.2 -> 0, 0.6, 0.
                             CollapseCase{{0, 0.1, 0.4, 0.6}, 1, {0, 0, 0.6, 0.6}},
                             // Equal thickest layers: the first one takes the zone.
                             CollapseCase{{0, 0.2, 0.4, 0.5}, 1, {0, 0.5, 0.5, 0.5}},
                             // 5, 0.5, 3: merges down (3 <= 5) to 5, 0, 3.5.
                             CollapseCase{{0, 5, 5.5, 8.5}, 1, {0, 5, 5, 8.5}},
                             // 3, 0.5, 5: merges up to 3.5, 0, 5.
                             CollapseCase{{0, 3, 3.5, 8.5}, 1, {0, 3.5, 3.5, 8.5}},
                             // Empty layers are passed over to the nearest layer with thickness.
                             CollapseCase{{0, 5, 5, 5.4, 5.4, 9}, 1, {0, 5, 5, 5, 5, 9}},
                             // The first of equal thinnest layers merges first; then the other one.
                             CollapseCase{{0, 0.5, 5.5, 6}, 1, {0, 0, 6, 6}},
                             CollapseCase{{0, 0.5, 1, 1.5}, 1, {0, 0, 1.5, 1.5}},
                             // Nothing below the threshold, or a zone without thickness: unchanged.
                             CollapseCase{{0, 2, 4}, 1, {0, 2, 4}},
                             CollapseCase{{7, 7, 7}, 1, {7, 7, 7}}));

TEST(LayerGridStack, CollapseChargesEmptiedCellsAndKeepsPinchedOnes) {
  // Top conformity 4 m: the thick area has 4, 4, 2; the last layer merges up into 4, 6, 0. The
  // thin area (2 m, below 3) becomes one layer in place of its thickest: unchanged 2, 0, 0.
  ASSERT_OK_AND_ASSIGN(LayeringReport r,
                       layer(thick_and_thin(), {{Conformity::top_conform(4), 1}}, 3.0));
  EXPECT_EQ(layer_thicknesses(r.grid, 0, 0), (std::vector<double>{4, 6, 0}));
  EXPECT_EQ(layer_thicknesses(r.grid, 4, 0), (std::vector<double>{2, 0, 0}));
  // Layer 2: cells i = 0..2 touch a thick column (collapsed), i = 3, 4 do not (pinched).
  EXPECT_EQ(r.collapsed_cells, 3u * 2u);
  EXPECT_EQ(r.pinched_cells, 8u);
  EXPECT_EQ(r.zones[0].collapsed_cells, 6u);
}

TEST(StreamingLayering, PrepareReportsTheSameChecks) {
  const ZoneLayerSpec spec = proportional(4);
  EXPECT_ERROR_TEXT(StreamingLayering::prepare(kTop, Surface::constant(9, 4, 0), spec, 1, 1),
                    "invalid input: all stack surfaces must share one lattice");
  EXPECT_ERROR_TEXT(StreamingLayering::prepare(kTop, with_node(kBase, 3, 7, kNaN), spec, 1, 1),
                    "invalid input: surface 1 has a non-finite depth NaN at node (3, 7); layering "
                    "needs finite top/base surfaces");
  EXPECT_ERROR_TEXT(StreamingLayering::prepare(kTop, kBase, {Conformity::top_conform(-2), 1}, 1, 1),
                    "invalid input: conformity dz_m must be finite and > 0, got -2");
  EXPECT_ERROR_TEXT(StreamingLayering::prepare(kTop, kBase, proportional(0), 1, 1),
                    "invalid input: nk must be >= 1");
  EXPECT_ERROR_TEXT(StreamingLayering::prepare(kTop, kBase, spec, 1, kNaN),
                    "invalid input: dx, dy must be finite and > 0, got 1, NaN");
  const Surface row(5, 1, std::vector<double>(5, 0.0));
  EXPECT_ERROR_TEXT(StreamingLayering::prepare(row, row, spec, 1, 1),
                    "grid error: dimensions must be non-zero, got (4,0,4)");
}

class StreamingPlanes : public testing::TestWithParam<ZoneLayerSpec> {};

TEST_P(StreamingPlanes, EqualTheInMemoryBoundariesBitForBit) {
  // Irregular surfaces that cross at some nodes, so clamping matters.
  const Surface top = field(7, 5, [](std::size_t i, std::size_t j) {
    return 1000 + 3.7 * std::sin(0.9 * static_cast<double>(i)) + 0.3 * static_cast<double>(j);
  });
  const Surface base = field(7, 5, [](std::size_t i, std::size_t j) {
    return 1011.3 - 1.9 * static_cast<double>(i) + std::cos(static_cast<double>(i * j));
  });
  const ZoneLayerSpec spec = GetParam();
  ASSERT_OK_AND_ASSIGN(StreamingLayering s, StreamingLayering::prepare(top, base, spec, 25, 30));
  ASSERT_OK_AND_ASSIGN(LayeringReport r, layer({top, base}, {spec}, std::nullopt, 25, 30));
  const Dims& dims = r.grid.dims();
  EXPECT_EQ(s.dims(), dims);
  EXPECT_EQ(s.capped(), r.capped);
  EXPECT_EQ(s.zone_counts(), std::vector<std::size_t>{dims.nk});
  EXPECT_EQ(s.dx(), 25);
  EXPECT_EQ(s.top(), top);

  std::vector<double> upper(35), lower(35);
  for (std::size_t k = 0; k < dims.nk; ++k) {
    s.fill_plane(k, upper);
    s.fill_plane(k + 1, lower);
    for (std::size_t j = 0; j < dims.nj; ++j) {
      for (std::size_t i = 0; i < dims.ni; ++i) {
        const std::size_t n = i + 7 * j;
        const std::size_t nodes[4] = {n, n + 1, n + 7, n + 8};
        for (int c = 0; c < 4; ++c) {
          ASSERT_EQ(corner(r.grid, i, j, k, c), upper[nodes[c]]) << i << "," << j << "," << k;
          ASSERT_EQ(corner(r.grid, i, j, k, c + 4), lower[nodes[c]]) << i << "," << j << "," << k;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Conformities, StreamingPlanes,
                         testing::Values(proportional(7),
                                         ZoneLayerSpec{Conformity::top_conform(1.3), 1},
                                         ZoneLayerSpec{Conformity::base_conform(0.9), 1},
                                         ZoneLayerSpec{Conformity::top_conform(0.01), 1}));

TEST(StreamingLayering, LastPlaneIsTheBaseOfAProportionalZone) {
  ASSERT_OK_AND_ASSIGN(StreamingLayering s,
                       StreamingLayering::prepare(kTop, kBase, proportional(3), 1, 1));
  std::vector<double> plane(36);
  s.fill_plane(3, plane);
  EXPECT_EQ(plane, kBase.values());
  s.fill_plane(0, plane);
  EXPECT_EQ(plane, kTop.values());
  EXPECT_FALSE(s.capped());
}

}  // namespace
}  // namespace zorvastatic
