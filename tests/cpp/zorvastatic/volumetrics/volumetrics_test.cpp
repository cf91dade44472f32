#include "zorvastatic/volumetrics/volumetrics.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "grid_fixtures.hpp"
#include "test_support.hpp"
#include "zorvastatic/model/population.hpp"
#include "zorvastatic/volumetrics/cell_hcpv.hpp"
#include "zorvastatic/volumetrics/fvf.hpp"

namespace zorvastatic {
namespace {

using testing::box_grid;

// The flat model of the examples: 10 x 10 columns of 100 m, 5 layers of 10 m from 2000 m.
Grid flat_model(double poro = 0.25, double ntg = 0.8, double sw = 0.3) {
  Grid grid = box_grid(10, 10, 5);
  EXPECT_TRUE(populate(grid, {poro, ntg, sw}, std::nullopt, std::nullopt, std::nullopt));
  return grid;
}

// An in-memory slab source: the grid's layers as 32-bit floats.
class GridSlabSource : public SlabSource {
 public:
  explicit GridSlabSource(const Grid& grid) : grid_(grid) {
    const std::size_t cells = grid.dims().cell_count();
    zcorn_.assign(grid.geom.zcorn().begin(), grid.geom.zcorn().end());
    for (const char* name : {"PORO", "NTG", "SW"}) {
      std::vector<float>& out = cubes_[cubes_count_++];
      if (const Property* cube = grid.properties.get(name)) {
        out.assign(cube->values.begin(), cube->values.end());
      }
      (void)cells;
    }
  }
  std::size_t nk() const override { return grid_.dims().nk; }
  std::size_t layer_cells() const override { return grid_.dims().layer_cells(); }
  std::size_t row_length() const override { return grid_.dims().ni; }
  Status require_cubes() const override {
    const char* names[3] = {"PORO", "NTG", "SW"};
    for (int n = 0; n < 3; ++n) {
      if (cubes_[n].empty()) {
        return std::unexpected(StaticError::invalid_input(
            std::string("spilled grid is missing required property '") + names[n] + "'"));
      }
    }
    return {};
  }
  Result<CellSlab> slab(std::size_t k) const override {
    const std::size_t n = layer_cells();
    auto part = [&](const std::vector<float>& v, std::size_t per_cell) {
      return v.empty() ? std::span<const float>()
                       : std::span<const float>(v).subspan(k * n * per_cell, n * per_cell);
    };
    return CellSlab{part(zcorn_, 8),    grid_.geom.pillars(), grid_.dims().ni,
                    part(cubes_[0], 1), part(cubes_[1], 1),   part(cubes_[2], 1)};
  }

 private:
  const Grid& grid_;
  std::vector<float> zcorn_;
  std::vector<float> cubes_[3];
  int cubes_count_ = 0;
};

void expect_same(const InPlace& a, const InPlace& b) {
  EXPECT_NEAR(a.grv_m3, b.grv_m3, 1e-6 * std::fabs(a.grv_m3));
  EXPECT_NEAR(a.hcpv_m3, b.hcpv_m3, 1e-6 * std::fabs(a.hcpv_m3) + 1e-9);
  EXPECT_EQ(a.cells, b.cells);
  EXPECT_EQ(a.gas.has_value(), b.gas.has_value());
  EXPECT_EQ(a.oil.has_value(), b.oil.has_value());
}

TEST(Volumetrics, FlatModelAboveTheContactCountsEveryCell) {
  const Grid grid = flat_model();
  ASSERT_OK_AND_ASSIGN(InPlace in_place,
                       grid_volumetrics(grid, ContactSpec::single(2100), 0, 5, true));
  EXPECT_DOUBLE_EQ(in_place.grv_m3, 5e7);
  EXPECT_NEAR(in_place.hcpv_m3, 7e6, 1e-6);
  EXPECT_EQ(in_place.cells, 500u);
  EXPECT_FALSE(in_place.gas.has_value());
  ASSERT_TRUE(in_place.hcpv_cells.has_value());
  EXPECT_EQ(in_place.hcpv_cells->size(), 500u);
  EXPECT_NEAR((*in_place.hcpv_cells)[0], 1e5 * 0.25 * 0.8 * 0.7, 1e-9);
}

TEST(Volumetrics, CellsBelowTheContactAreExcludedWhole) {
  const Grid grid = flat_model();
  // Layer centres at 2005, 2015, 2025, 2035, 2045: a contact at 2025 keeps two layers (the
  // layer centred exactly on it does not count).
  ASSERT_OK_AND_ASSIGN(InPlace in_place,
                       grid_volumetrics(grid, ContactSpec::single(2025), 0, 5, false));
  EXPECT_EQ(in_place.cells, 200u);
  EXPECT_DOUBLE_EQ(in_place.grv_m3, 2e7);
  EXPECT_FALSE(in_place.hcpv_cells.has_value());
}

TEST(Volumetrics, TwoContactsSplitGasAndOil) {
  const Grid grid = flat_model();
  ASSERT_OK_AND_ASSIGN(InPlace in_place,
                       grid_volumetrics(grid, ContactSpec::two_contacts(2010, 2040), 0, 5, false));
  ASSERT_TRUE(in_place.gas && in_place.oil);
  EXPECT_EQ(in_place.gas->cells, 100u);
  EXPECT_EQ(in_place.oil->cells, 300u);
  EXPECT_EQ(in_place.cells, 400u);
  EXPECT_DOUBLE_EQ(in_place.grv_m3, in_place.gas->grv_m3 + in_place.oil->grv_m3);

  ASSERT_OK_AND_ASSIGN(
      InPlace wet_gas,
      grid_volumetrics(grid, ContactSpec::two_contacts_sw_gas(1.0, 2010, 2040), 0, 5, false));
  EXPECT_EQ(wet_gas.gas->cells, 100u);
  EXPECT_EQ(wet_gas.gas->hcpv_m3, 0.0);
}

TEST(Volumetrics, NoContactCountsGrossVolumeOnlyWithoutCubes) {
  const Grid bare = box_grid(3, 3, 2);
  ASSERT_OK_AND_ASSIGN(InPlace in_place,
                       grid_volumetrics(bare, ContactSpec::no_contact(), 1, 2, true));
  EXPECT_EQ(in_place.cells, 9u);
  EXPECT_DOUBLE_EQ(in_place.grv_m3, 9 * 100 * 100 * 25.0);
  EXPECT_EQ(in_place.hcpv_m3, 0);
  EXPECT_FALSE(in_place.hcpv_cells.has_value());
}

TEST(Volumetrics, ChecksRunInOrderBeforeAnyCell) {
  const Grid bare = box_grid(2, 2, 1);
  const double nan = std::nan("");
  EXPECT_ERROR_TEXT(grid_volumetrics(bare, ContactSpec::single(nan), 0, 1, false),
                    "outside validity range: contact depth must be finite, got NaN");
  EXPECT_ERROR_TEXT(grid_volumetrics(bare, ContactSpec::two_contacts(nan, 2000), 0, 1, false),
                    "outside validity range: contact depths must be finite, got GOC NaN, OWC 2000");
  EXPECT_ERROR_TEXT(grid_volumetrics(bare, ContactSpec::two_contacts(2001, 2000.5), 0, 1, false),
                    "invalid input: GOC (2001) must be shallower than OWC (2000.5)");
  EXPECT_ERROR_TEXT(
      grid_volumetrics(bare, ContactSpec::two_contacts_sw_gas(1.5, 1900, 2000), 0, 1, false),
      "invalid input: sw_gas must be a fraction in [0,1], got 1.5");
  EXPECT_ERROR_TEXT(grid_volumetrics(bare, ContactSpec::two_contacts(2000, 2000), 0, 1, false),
                    "invalid input: grid is missing required property 'PORO'");
  Grid partial = box_grid(2, 2, 1);
  ASSERT_OK(partial.properties.set({"PORO", std::vector<double>(4, 0.2)}));
  ASSERT_OK(partial.properties.set({"SW", std::vector<double>(4, 0.2)}));
  EXPECT_ERROR_TEXT(grid_volumetrics(partial, ContactSpec::single(3000), 0, 1, false),
                    "invalid input: grid is missing required property 'NTG'");
}

TEST(Volumetrics, InvalidPropertiesFailOnlyInContributingCells) {
  Grid grid = box_grid(1, 1, 2);
  ASSERT_OK(grid.properties.set({"PORO", {0.2, 1.2}}));
  ASSERT_OK(grid.properties.set({"NTG", {0.8, 0.8}}));
  ASSERT_OK(grid.properties.set({"SW", {0.3, -0.1}}));
  // The second layer (centre 2037.5) lies below a contact at 2030: never checked.
  EXPECT_TRUE(grid_volumetrics(grid, ContactSpec::single(2030), 0, 2, false));
  EXPECT_ERROR_TEXT(grid_volumetrics(grid, ContactSpec::single(2100), 0, 2, false),
                    "invalid input: PORO must be a fraction in [0,1], got 1.2");
  ASSERT_OK(grid.properties.set({"PORO", {0.2, 0.2}}));
  EXPECT_ERROR_TEXT(grid_volumetrics(grid, ContactSpec::single(2100), 0, 2, false),
                    "invalid input: SW must be a fraction in [0,1], got -0.1");
  // A fixed gas-cap saturation means SW is never read in the gas cap.
  EXPECT_TRUE(
      grid_volumetrics(grid, ContactSpec::two_contacts_sw_gas(0.1, 2100, 2100), 0, 2, false));
}

// The rule read literally, one cell at a time, as the reference for the row-wise kernel.
InPlace literal_volumetrics(const Grid& grid, const ContactSpec& spec) {
  const bool phases = spec.has_phases();
  const double lower = phases ? spec.owc : spec.depth;
  const auto& poro = grid.properties.get("PORO")->values;
  const auto& ntg = grid.properties.get("NTG")->values;
  const auto& sw = grid.properties.get("SW")->values;
  PhaseTotals gas, oil;
  std::vector<double> cube(grid.dims().cell_count(), 0.0);
  for (std::size_t c = 0; c < grid.dims().cell_count(); ++c) {
    const double* z = grid.geom.cell_depths(c);
    const double depth = (z[0] + z[1] + z[2] + z[3] + z[4] + z[5] + z[6] + z[7]) * 0.125;
    if (depth >= lower) continue;
    const double v = grid.geom.cell_volume_at(c);
    if (v <= 0) continue;
    const bool gas_cap = phases && depth < spec.goc;
    const bool fixed = gas_cap && spec.mode == ContactSpec::Mode::TwoContactsSwGas;
    const double h = *cell_hcpv(fixed, v, poro[c], ntg[c], sw[c], spec.sw_gas);
    PhaseTotals& phase = gas_cap ? gas : oil;
    phase.grv_m3 += v;
    phase.hcpv_m3 += h;
    ++phase.cells;
    cube[c] = h;
  }
  InPlace result;
  result.grv_m3 = gas.grv_m3 + oil.grv_m3;
  result.hcpv_m3 = gas.hcpv_m3 + oil.hcpv_m3;
  result.cells = gas.cells + oil.cells;
  result.gas = gas;
  result.oil = oil;
  result.hcpv_cells = std::move(cube);
  return result;
}

// A grid from its pillars and corner depths, with PORO, NTG and SW in that order.
Grid populated_grid(Dims dims, std::vector<Pillar> pillars, std::vector<double> zcorn,
                    const std::array<std::vector<double>, 3>& cubes) {
  Grid grid{CornerPointGeom(dims, std::move(pillars), std::move(zcorn)),
            {},
            Properties(dims.cell_count())};
  for (std::size_t n = 0; n < 3; ++n) {
    EXPECT_TRUE(grid.properties.set({std::array{"PORO", "NTG", "SW"}[n], cubes[n]}));
  }
  return grid;
}

// A warped grid whose rows cross the contacts, with zero-thickness cells, random values
// (out-of-range ones below 2040 m, where no cell contributes) and vertical or leaning pillars.
Grid warped_grid(bool vertical) {
  const std::size_t ni = 21, nj = 4, nk = 6;
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Pillar> pillars;
  for (std::size_t pj = 0; pj <= nj; ++pj) {
    for (std::size_t pi = 0; pi <= ni; ++pi) {
      const double x = 50.0 * static_cast<double>(pi) + 5 * unit(random);
      const double y = 50.0 * static_cast<double>(pj) + 5 * unit(random);
      const double lean = vertical ? 0.0 : 3.0;
      pillars.push_back({{x, y, 1900}, {x + lean, y, 2200}});
    }
  }
  std::vector<double> zcorn;
  std::vector<double> poro, ntg, sw;
  for (std::size_t k = 0; k < nk; ++k) {
    for (std::size_t j = 0; j < nj; ++j) {
      for (std::size_t i = 0; i < ni; ++i) {
        // Rows dip one way or the other, so that either end of a row may be the shallow one.
        const double along = static_cast<double>(j % 2 == 0 ? i : ni - 1 - i);
        const double top = 1990 + 10.0 * static_cast<double>(k) + 1.5 * along;
        const double thickness = (i + j + k) % 7 == 0 ? 0.0 : 10.0;
        double z[8];
        for (int n = 0; n < 4; ++n) z[n] = top + unit(random);
        for (int n = 4; n < 8; ++n) z[n] = z[n - 4] + thickness;
        zcorn.insert(zcorn.end(), z, z + 8);
        const double depth = (z[0] + z[1] + z[2] + z[3] + z[4] + z[5] + z[6] + z[7]) * 0.125;
        poro.push_back(depth >= 2040 ? 1.5 : unit(random));
        ntg.push_back(unit(random));
        sw.push_back(unit(random));
      }
    }
  }
  return populated_grid(Dims{ni, nj, nk}, std::move(pillars), std::move(zcorn), {poro, ntg, sw});
}

TEST(Volumetrics, RowWiseSumsAreTheCellByCellSumsBitForBit) {
  for (const bool vertical : {true, false}) {
    const Grid grid = warped_grid(vertical);
    ASSERT_EQ(grid.geom.vertical(), vertical);
    for (const ContactSpec& spec :
         {ContactSpec::single(2030), ContactSpec::two_contacts(2010, 2040),
          ContactSpec::two_contacts_sw_gas(0.2, 2010, 2040), ContactSpec::single(1900)}) {
      ASSERT_OK_AND_ASSIGN(InPlace rows, grid_volumetrics(grid, spec, 0, 6, true));
      const InPlace literal = literal_volumetrics(grid, spec);
      EXPECT_EQ(rows.grv_m3, literal.grv_m3) << vertical;
      EXPECT_EQ(rows.hcpv_m3, literal.hcpv_m3) << vertical;
      EXPECT_EQ(rows.cells, literal.cells);
      EXPECT_EQ(rows.hcpv_cells, literal.hcpv_cells);
      if (spec.has_phases()) {
        EXPECT_EQ(rows.gas->grv_m3, literal.gas->grv_m3);
        EXPECT_EQ(rows.oil->hcpv_m3, literal.oil->hcpv_m3);
      }
    }
  }
}

// Rows on vertical pillars that the one-pass kernel must hand back to the general volume rule:
// cells too thin for its division (row 0), and a contributing cell whose volume overflows, where
// the general rule's terms give NaN (row 1). Their neighbours, ordinary cells, go with them.
TEST(Volumetrics, RowsTheShortcutCannotTakeGiveTheCellByCellSums) {
  const std::size_t ni = 11, nj = 2, nk = 2;
  std::vector<Pillar> pillars;
  for (std::size_t pj = 0; pj <= nj; ++pj) {
    for (std::size_t pi = 0; pi <= ni; ++pi) {
      const double x = 30.0 * static_cast<double>(pi), y = 30.0 * static_cast<double>(pj);
      pillars.push_back({{x, y, 0}, {x, y, 100}});
    }
  }
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> zcorn, poro, ntg, sw;
  for (std::size_t k = 0; k < nk; ++k) {
    for (std::size_t j = 0; j < nj; ++j) {
      for (std::size_t i = 0; i < ni; ++i) {
        const double top = 5.0 * static_cast<double>(k);
        double thickness = 5.0;
        if (k == 0 && j == 0 && i % 3 == 0) {
          thickness = std::ldexp(1.0 + unit(random), -1030 - static_cast<int>(i));
        }
        double z[8];
        for (int n = 0; n < 4; ++n) z[n] = top;
        for (int n = 4; n < 8; ++n) z[n] = top + thickness;
        // Below the contacts: its overflowing volume leaves the row to the general rule.
        if (k == 0 && j == 1 && i == 6) z[2] = 1e306;
        zcorn.insert(zcorn.end(), z, z + 8);
        poro.push_back(unit(random));
        ntg.push_back(unit(random));
        sw.push_back(unit(random));
      }
    }
  }
  const Grid grid =
      populated_grid(Dims{ni, nj, nk}, std::move(pillars), std::move(zcorn), {poro, ntg, sw});
  ASSERT_TRUE(grid.geom.vertical());
  for (const ContactSpec& spec : {ContactSpec::single(100), ContactSpec::two_contacts(2.5, 100)}) {
    ASSERT_OK_AND_ASSIGN(InPlace rows, grid_volumetrics(grid, spec, 0, nk, true));
    const InPlace literal = literal_volumetrics(grid, spec);
    EXPECT_EQ(rows.grv_m3, literal.grv_m3);
    EXPECT_EQ(rows.hcpv_m3, literal.hcpv_m3);
    EXPECT_EQ(rows.cells, literal.cells);
    EXPECT_EQ(rows.hcpv_cells, literal.hcpv_cells);
  }
}

TEST(Volumetrics, FirstInvalidValueInTraversalOrderWithinARow) {
  Grid grid = box_grid(12, 1, 1);
  std::vector<double> poro(12, 0.2), ntg(12, 0.8), sw(12, 0.3);
  sw[4] = 1.5;
  poro[9] = -0.5;
  ASSERT_OK(grid.properties.set({"PORO", poro}));
  ASSERT_OK(grid.properties.set({"NTG", ntg}));
  ASSERT_OK(grid.properties.set({"SW", sw}));
  EXPECT_ERROR_TEXT(grid_volumetrics(grid, ContactSpec::single(2100), 0, 1, false),
                    "invalid input: SW must be a fraction in [0,1], got 1.5");
}

TEST(ComputeClipped, SlabsGiveTheInMemoryResultInEveryMode) {
  Grid grid = flat_model(0.2, 0.7, 0.35);
  const GridSlabSource source(grid);
  for (const ContactSpec& spec :
       {ContactSpec::single(2033), ContactSpec::two_contacts(2012, 2044),
        ContactSpec::two_contacts_sw_gas(0.15, 2012, 2044), ContactSpec::no_contact()}) {
    ASSERT_OK_AND_ASSIGN(InPlace memory, grid_volumetrics(grid, spec, 1, 5, true));
    ASSERT_OK_AND_ASSIGN(InPlace slabs, compute_clipped(source, spec, 1, 5, true));
    expect_same(memory, slabs);
    EXPECT_EQ(memory.hcpv_cells.has_value(), slabs.hcpv_cells.has_value());
  }
}

TEST(ComputeClipped, MissingCubesAreReportedBySource) {
  Grid grid = box_grid(2, 2, 1);
  ASSERT_OK(grid.properties.set({"PORO", std::vector<double>(4, 0.2)}));
  const GridSlabSource source(grid);
  EXPECT_ERROR_TEXT(compute_clipped(source, ContactSpec::single(3000), 0, 1, false),
                    "invalid input: spilled grid is missing required property 'NTG'");
  EXPECT_TRUE(compute_clipped(source, ContactSpec::no_contact(), 0, 1, false));
}

TEST(ContactSpecFrom, FallbacksAndModes) {
  using K = ContactKind;
  EXPECT_FALSE(contact_spec_from({}, std::nullopt).has_value());
  const auto inverted = contact_spec_from({{2000, K::Goc}, {1990, K::Owc}}, std::nullopt);
  EXPECT_EQ(inverted->mode, ContactSpec::Mode::SingleContact);
  EXPECT_EQ(inverted->depth, 2000);
  const auto gwc = contact_spec_from({{2100, K::Gwc}}, std::nullopt);
  EXPECT_EQ(gwc->mode, ContactSpec::Mode::SingleContact);
  EXPECT_EQ(gwc->depth, 2100);
  const auto two = contact_spec_from(
      {{2100, K::Owc}, {2050, K::Goc}, {std::nan(""), K::Gwc}, {2120, K::Gwc}}, std::nullopt);
  EXPECT_EQ(two->mode, ContactSpec::Mode::TwoContacts);
  EXPECT_EQ(two->goc, 2050);
  EXPECT_EQ(two->owc, 2120);
  const auto sw_gas = contact_spec_from({{2050, K::Goc}, {2050, K::Owc}}, 0.2);
  EXPECT_EQ(sw_gas->mode, ContactSpec::Mode::TwoContactsSwGas);
  EXPECT_EQ(sw_gas->sw_gas, 0.2);
  const auto only_goc = contact_spec_from({{2050, K::Goc}}, std::nullopt);
  EXPECT_EQ(only_goc->mode, ContactSpec::Mode::SingleContact);
}

TEST(Fvf, GasAndOilBounds) {
  EXPECT_ERROR_TEXT(GasFvf::create(0.0),
                    "invalid input: gas FVF (Bgi) must be finite and in (0,1) Rm³/Sm³, got 0");
  EXPECT_ERROR_TEXT(GasFvf::create(1.0),
                    "invalid input: gas FVF (Bgi) must be finite and in (0,1) Rm³/Sm³, got 1");
  EXPECT_EQ(GasFvf::create(0.004)->value(), 0.004);
  EXPECT_ERROR_TEXT(require_oil_fvf(0.9),
                    "invalid input: oil FVF (Boi) must be finite and >= 1.0 Rm³/Sm³, got 0.9");
  EXPECT_TRUE(require_oil_fvf(1.0));
  EXPECT_FALSE(require_oil_fvf(INFINITY));
}

}  // namespace
}  // namespace zorvastatic
