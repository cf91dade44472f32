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

Surface field(std::size_t nx, std::size_t ny, const std::function<double(double, double)>& f) {
  std::vector<double> v(nx * ny);
  for (std::size_t n = 0; n < v.size(); ++n) {
    v[n] = f(static_cast<double>(n % nx), static_cast<double>(n / nx));
  }
  return Surface(nx, ny, std::move(v));
}

Surface with_node(Surface s, std::size_t i, std::size_t j, double z) {
  s.at(i, j) = z;
  return s;
}

ZoneLayerSpec proportional(std::size_t nk) {
  return {Conformity::proportional(), nk};
}
ZoneLayerSpec top_conform(double dz) {
  return {Conformity::top_conform(dz), 1};
}

Result<LayeringReport> layer(const std::vector<Surface>& surfaces,
                             const std::vector<ZoneLayerSpec>& specs,
                             std::optional<double> collapse = std::nullopt, double dx = 10,
                             double dy = 20) {
  std::vector<const Surface*> p;
  for (const Surface& s : surfaces) p.push_back(&s);
  return layer_grid_stack(p, specs, collapse, dx, dy);
}

double corner(const Grid& grid, std::size_t i, std::size_t j, std::size_t k, int n) {
  return grid.geom.cell_depths(grid.dims().linear(i, j, k))[n];
}

std::vector<double> layer_thicknesses(const Grid& g, std::size_t i, std::size_t j) {
  std::vector<double> t;
  for (std::size_t k = 0; k < g.dims().nk; ++k) {
    t.push_back(corner(g, i, j, k, 4) - corner(g, i, j, k, 0));
  }
  return t;
}

const Surface kTop = Surface::constant(4, 9, 1000);
const Surface kBase = Surface::constant(4, 9, 1100);

struct FailureCase {
  std::vector<Surface> surfaces;
  std::vector<ZoneLayerSpec> specs;
  std::optional<double> collapse;
  double dx;
  double dy;
  const char* message;
};

TEST(LayerGridStack, ReportsTheFirstFailedCheckInOrder) {
  const std::vector<ZoneLayerSpec> one = {proportional(1)};
  const Surface row(1, 5, std::vector<double>(5, 0.0));
  // clang-format off
  const std::vector<FailureCase> cases = {
      {{kTop}, {}, {}, 1, 1, "a horizon stack needs at least 2 surfaces, got 1"},
      {{kTop, kBase, kBase}, one, {}, 1, 1, "expected 2 zone specs for 3 surfaces, got 1"},
      {{kTop, Surface::constant(9, 4, 0)}, one, {}, 1, 1, "all stack surfaces must share one lattice"},
      // A non-finite depth is reported before a bad spacing; rows outer, so (2, 1) before (1, 2).
      {{kTop, with_node(kBase, 3, 7, kNaN)}, one, {}, 0, 1,
       "surface 1 has a non-finite depth NaN at node (3, 7); layering needs finite top/base surfaces"},
      {{kTop, with_node(with_node(kBase, 1, 2, kInf), 2, 1, -kInf)}, one, {}, 1, 1,
       "surface 1 has a non-finite depth -inf at node (2, 1); layering needs finite top/base surfaces"},
      {{kTop, kBase}, {top_conform(0)}, {}, -1, 1, "conformity dz_m must be finite and > 0, got 0"},
      {{kTop, kBase}, {{Conformity::base_conform(kNaN), 1}}, {}, 1, 1,
       "conformity dz_m must be finite and > 0, got NaN"},
      {{kTop, kBase, kBase}, {proportional(2), proportional(0)}, {}, 1, 1, "nk must be >= 1"},
      {{kTop, kBase}, one, {}, 0, 10, "dx, dy must be finite and > 0, got 0, 10"},
      {{kTop, kBase}, one, {}, 3, -2, "dx, dy must be finite and > 0, got 3, -2"},
      {{kTop, kBase}, one, {}, 5, kInf, "dx, dy must be finite and > 0, got 5, inf"},
      // The zone cap comes before the collapse threshold.
      {std::vector<Surface>(202, kTop), std::vector<ZoneLayerSpec>(201, proportional(1)), -1.0, 1, 1,
       "201 zones exceed the 200-layer total cap (a zone needs >= 1 layer)"},
      {{kTop, kBase}, one, -0.5, 1, 1, "collapse_below_m must be finite and > 0, got -0.5"},
      {{kTop, kBase}, one, kNaN, 1, 1, "collapse_below_m must be finite and > 0, got NaN"},
  };
  // clang-format on
  for (const FailureCase& c : cases) {
    EXPECT_ERROR_TEXT(layer(c.surfaces, c.specs, c.collapse, c.dx, c.dy),
                      std::string("invalid input: ") + c.message);
  }
  EXPECT_ERROR_TEXT(layer({row, row}, {proportional(10)}),
                    "grid error: dimensions must be non-zero, got (0,4,10)");
}

TEST(LayerGridStack, ProportionalZoneOfEqualLayers) {
  ASSERT_OK_AND_ASSIGN(LayeringReport r, layer({kTop, kBase}, {proportional(10)}));
  const Grid& g = r.grid;
  EXPECT_EQ(g.dims(), (Dims{3, 8, 10}));
  EXPECT_FALSE(r.capped);
  EXPECT_EQ(r.pinched_cells + r.collapsed_cells, 0u);
  EXPECT_EQ(layer_thicknesses(g, 2, 5), std::vector<double>(10, 10.0));
  EXPECT_EQ(corner(g, 2, 5, 7, 3), 1070);
  // Vertical pillars at dx * i, dy * j from the first to the last surface.
  EXPECT_EQ(g.geom.pillars()[g.geom.pillar_index(3, 2)], (Pillar{{30, 40, 1000}, {30, 40, 1100}}));
  EXPECT_EQ(g.layers.back().name, "layer_9");
  EXPECT_EQ(g.properties.cell_count(), 240u);
}

// Top at 0; the base 10 m down for i <= 2 and 2 m down for i >= 3 (6 x 3 nodes).
std::vector<Surface> thick_and_thin() {
  return {Surface::constant(6, 3, 0),
          field(6, 3, [](double i, double) { return i <= 2 ? 10 : 2; })};
}

TEST(LayerGridStack, ConformityLayersRunOutAgainstTheOtherSurface) {
  ASSERT_OK_AND_ASSIGN(LayeringReport top, layer(thick_and_thin(), {top_conform(4)}));
  EXPECT_EQ(top.zones[0].nk, 3u);
  EXPECT_EQ(layer_thicknesses(top.grid, 0, 0), (std::vector<double>{4, 4, 2}));
  EXPECT_EQ(layer_thicknesses(top.grid, 3, 1), (std::vector<double>{2, 0, 0}));
  // Cells i = 3, 4 have all four columns in the thin area: pinched in layers 1 and 2.
  EXPECT_EQ(top.pinched_cells, 8u);
  EXPECT_EQ(top.zones[0].pinched_cells, 8u);

  ASSERT_OK_AND_ASSIGN(LayeringReport base,
                       layer(thick_and_thin(), {{Conformity::base_conform(4), 1}}));
  EXPECT_EQ(layer_thicknesses(base.grid, 0, 0), (std::vector<double>{2, 4, 4}));
  EXPECT_EQ(layer_thicknesses(base.grid, 4, 1), (std::vector<double>{0, 0, 2}));
  EXPECT_EQ(base.pinched_cells, 8u);

  ASSERT_OK_AND_ASSIGN(LayeringReport limited, layer(thick_and_thin(), {top_conform(0.01)}));
  EXPECT_EQ(limited.zones[0].nk, 200u);
  EXPECT_TRUE(limited.capped);
  ASSERT_OK_AND_ASSIGN(LayeringReport exact, layer(thick_and_thin(), {top_conform(0.05)}));
  EXPECT_EQ(exact.zones[0].nk, 200u);
  EXPECT_FALSE(exact.capped);
}

TEST(LayerGridStack, ZonesShareBoundariesAndChargeTheirOwnCells) {
  // Zone 1 is empty under i >= 3; under i <= 2 its upper surface lies below its lower one and the
  // clamped boundaries stay on the upper surface: every zone-1 cell is pinched.
  const Surface mid = field(6, 3, [](double i, double) { return i <= 2 ? 6 : 2; });
  ASSERT_OK_AND_ASSIGN(LayeringReport r,
                       layer({Surface::constant(6, 3, 0), mid, Surface::constant(6, 3, 2)},
                             {proportional(2), top_conform(1.5)}));
  EXPECT_EQ(r.zones[1].k_start, 2u);
  EXPECT_EQ(r.zones[1].nk, 3u);  // ceil(4 / 1.5)
  EXPECT_EQ(corner(r.grid, 0, 0, 1, 4), 6);
  EXPECT_EQ(corner(r.grid, 0, 0, 2, 0), 6);
  EXPECT_EQ(r.zones[0].pinched_cells, 0u);
  EXPECT_EQ(r.zones[1].pinched_cells, 30u);
  EXPECT_EQ(r.pinched_cells, 30u);
}

TEST(CapTotalNk, ScalesDropsFractionsRaisesToOneAndTrimsTheLargest) {
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  const std::vector<std::pair<std::vector<std::size_t>, CappedCounts>> cases = {
      {{150, 100}, {{120, 80}, true}},
      {{1, 1, 500}, {{1, 1, 198}, true}},
      {{100, 100}, {{100, 100}, false}},
      // 99, 99 and five raised ones make 203: the last of the equal largest goes first.
      {{1000, 1000, 1, 1, 1, 1, 1}, {{98, 97, 1, 1, 1, 1, 1}, true}},
      {{huge, 1}, {{199, 1}, true}},
      {std::vector<std::size_t>(250, 1), {std::vector<std::size_t>(250, 1), true}},
  };
  for (const auto& [in, out] : cases) {
    const CappedCounts r = cap_total_nk(in);
    EXPECT_EQ(r.counts, out.counts);
    EXPECT_EQ(r.capped, out.capped);
  }
}

TEST(CollapseZone, MergesThinLayersIntoTheirNeighbours) {
  const std::vector<std::pair<std::vector<double>, std::vector<double>>> cases = {
      {{0, 0.1, 0.4, 0.6}, {0, 0, 0.6, 0.6}},        // a thin zone becomes its thickest layer
      {{0, 0.2, 0.4, 0.5}, {0, 0.5, 0.5, 0.5}},      // the first of equal thickest layers
      {{0, 5, 5.5, 8.5}, {0, 5, 5, 8.5}},            // 5, 0.5, 3 merges down: 5, 0, 3.5
      {{0, 3, 3.5, 8.5}, {0, 3.5, 3.5, 8.5}},        // 3, 0.5, 5 merges up: 3.5, 0, 5
      {{0, 5, 5, 5.4, 5.4, 9}, {0, 5, 5, 5, 5, 9}},  // empty layers are passed over
      {{0, 0.5, 5.5, 6}, {0, 0, 6, 6}},              // the first thinnest first, then the other
      {{0, 0.5, 1, 1.5}, {0, 0, 1.5, 1.5}},
      {{0, 2, 4}, {0, 2, 4}},  // nothing below the threshold
      {{7, 7, 7}, {7, 7, 7}},  // no thickness at all
  };
  for (const auto& [in, out] : cases) {
    std::vector<double> b = in;
    layering::collapse_zone(b.data(), b.size() - 1, 1.0);
    EXPECT_EQ(b, out);
  }
}

TEST(LayerGridStack, CollapseChargesEmptiedCellsAndKeepsPinchedOnes) {
  // The thick area's 4, 4, 2 merges up into 4, 6, 0; the thin area (2 m, below 3) becomes one
  // layer in place of its thickest, unchanged 2, 0, 0.
  ASSERT_OK_AND_ASSIGN(LayeringReport r, layer(thick_and_thin(), {top_conform(4)}, 3.0));
  EXPECT_EQ(layer_thicknesses(r.grid, 0, 0), (std::vector<double>{4, 6, 0}));
  EXPECT_EQ(layer_thicknesses(r.grid, 4, 0), (std::vector<double>{2, 0, 0}));
  // Layer 2: cells i = 0..2 touch a thick column (collapsed), i = 3, 4 do not (pinched).
  EXPECT_EQ(r.collapsed_cells, 6u);
  EXPECT_EQ(r.zones[0].collapsed_cells, 6u);
  EXPECT_EQ(r.pinched_cells, 8u);
}

TEST(StreamingLayering, PrepareRunsTheStackChecksInOrder) {
  EXPECT_ERROR_TEXT(
      StreamingLayering::prepare(kTop, with_node(kBase, 3, 7, kNaN), top_conform(-2), 1, 1),
      "invalid input: surface 1 has a non-finite depth NaN at node (3, 7); layering "
      "needs finite top/base surfaces");
  EXPECT_ERROR_TEXT(StreamingLayering::prepare(kTop, kBase, proportional(0), 1, kNaN),
                    "invalid input: nk must be >= 1");
  const Surface row(5, 1, std::vector<double>(5, 0.0));
  EXPECT_ERROR_TEXT(StreamingLayering::prepare(row, row, proportional(4), 1, 1),
                    "grid error: dimensions must be non-zero, got (4,0,4)");
}

class StreamingPlanes : public testing::TestWithParam<ZoneLayerSpec> {};

TEST_P(StreamingPlanes, EqualTheInMemoryBoundariesBitForBit) {
  // Irregular surfaces that cross at some nodes, so clamping matters.
  const Surface top =
      field(7, 5, [](double i, double j) { return 1000 + 3.7 * std::sin(0.9 * i) + 0.3 * j; });
  const Surface base =
      field(7, 5, [](double i, double j) { return 1011.3 - 1.9 * i + std::cos(i * j); });
  ASSERT_OK_AND_ASSIGN(StreamingLayering s,
                       StreamingLayering::prepare(top, base, GetParam(), 25, 30));
  ASSERT_OK_AND_ASSIGN(LayeringReport r, layer({top, base}, {GetParam()}, std::nullopt, 25, 30));
  const Dims& dims = r.grid.dims();
  EXPECT_EQ(s.dims(), dims);
  EXPECT_EQ(s.capped(), r.capped);
  EXPECT_EQ(s.zone_counts(), std::vector<std::size_t>{dims.nk});

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
  if (GetParam().conformity.kind == Conformity::Kind::Proportional) {
    EXPECT_EQ(lower, base.values());  // the last plane is the base
  }
}

INSTANTIATE_TEST_SUITE_P(Conformities, StreamingPlanes,
                         testing::Values(proportional(7), top_conform(1.3), top_conform(0.01),
                                         ZoneLayerSpec{Conformity::base_conform(0.9), 1}));

// Without collapse the cells read boundary planes computed when needed; with collapse, the
// column pass. Where no layer is thin enough to collapse the two roads give the same ZCORN.
class PlanesAndColumns : public testing::TestWithParam<std::vector<ZoneLayerSpec>> {};

TEST_P(PlanesAndColumns, GiveTheSameCornersWhereNothingCollapses) {
  // Conformity zones 7 m thick (layers of 1.5 m and a last one of 1 m), the middle one 8 to 10 m.
  const Surface s0 =
      field(7, 5, [](double i, double j) { return 1000 + 3.7 * std::sin(0.9 * i) + 0.3 * j; });
  const Surface s1 = field(7, 5, [&](double i, double j) {
    return s0.at(static_cast<std::size_t>(i), static_cast<std::size_t>(j)) + 7;
  });
  const Surface s2 = field(7, 5, [&](double i, double j) {
    return s1.at(static_cast<std::size_t>(i), static_cast<std::size_t>(j)) + 9 + std::cos(i * j);
  });
  const Surface s3 = field(7, 5, [&](double i, double j) {
    return s2.at(static_cast<std::size_t>(i), static_cast<std::size_t>(j)) + 7;
  });
  ASSERT_OK_AND_ASSIGN(LayeringReport planes, layer({s0, s1, s2, s3}, GetParam()));
  ASSERT_OK_AND_ASSIGN(LayeringReport columns, layer({s0, s1, s2, s3}, GetParam(), 0.5));
  EXPECT_EQ(planes.grid.geom.zcorn(), columns.grid.geom.zcorn());
  EXPECT_EQ(planes.grid.geom.pillars(), columns.grid.geom.pillars());
  EXPECT_EQ(planes.pinched_cells + planes.collapsed_cells, 0u);
  EXPECT_EQ(columns.pinched_cells + columns.collapsed_cells, 0u);
  // Zone z + 1 starts on the surface between the zones, by its own rule.
  const std::size_t k = planes.zones[1].k_start;
  EXPECT_EQ(corner(planes.grid, 2, 3, k, 0), s1.at(2, 3));
}

INSTANTIATE_TEST_SUITE_P(
    Zones, PlanesAndColumns,
    testing::Values(std::vector<ZoneLayerSpec>{proportional(3), proportional(5), proportional(2)},
                    std::vector<ZoneLayerSpec>{top_conform(1.5), proportional(4),
                                               {Conformity::base_conform(1.5), 1}}));

}  // namespace
}  // namespace zorvastatic
