"""The in-place table: hand sums on a flat model with its contacts on layer boundaries, exact
agreement with in_place_by_zone, regions that add up, and the table's refusals."""

import dataclasses
import sys

import numpy as np
import pytest

import zorvastatic as zv
from model_grids import spilled, two_zone_spec

# 3 x 2 columns of 100 m x 100 m, three 10 m layers from 2000 m: mean depths 2005, 2015, 2025.
FLAT = zv.Lattice(ncol=4, nrow=3, xinc=100.0, yinc=100.0)


def flat_spec(contacts, sw_gas=None):
    horizons = [
        zv.Horizon("Top", zv.Surface(FLAT, np.full(FLAT.shape, 2000.0))),
        zv.Horizon("Base", zv.Surface(FLAT, np.full(FLAT.shape, 2030.0))),
    ]
    return zv.ModelSpec(
        FLAT,
        horizons,
        [zv.Zone("RES", zv.Proportional(3), contacts)],
        priors=zv.Priors(porosity=0.25, net_to_gross=0.8, water_saturation=0.3),
        options=zv.BuildOptions(sw_gas=sw_gas),
    )


def rows(table):
    return {
        (z, r, f): i
        for i, (z, r, f) in enumerate(
            zip(table["ZONE"], table["REGION"], table["FLUID"], strict=True)
        )
    }


def test_flat_model_equals_hand_sums():
    model = zv.build(flat_spec(zv.Contacts(goc=2010.0, owc=2020.0), sw_gas=0.1))
    fluids = zv.Fluids(bo=1.25, bg=0.005, rs=100.0, rv=2e-4)
    table = model.volumetrics(fluids, as_frame=False)
    assert list(table) == list(zv._volumetrics.COLUMNS)
    where = rows(table)
    assert list(where) == [("RES", "ALL", "oil"), ("RES", "ALL", "gas"), ("RES", "ALL", "water")]
    bulk = 6 * 100.0 * 100.0 * 10.0  # six cells per layer
    net, porv = bulk * 0.8, bulk * 0.8 * 0.25
    expected = {
        "oil": dict(BULK=bulk, NET=net, PORV=porv, HCPV=porv * 0.7),
        "gas": dict(BULK=bulk, NET=net, PORV=porv, HCPV=porv * 0.9),  # sw_gas in the gas cap
        "water": dict(BULK=bulk, NET=net, PORV=porv),
    }
    for fluid, sums in expected.items():
        row = where[("RES", "ALL", fluid)]
        for column, value in sums.items():
            assert table[column][row] == pytest.approx(value, rel=1e-14), (fluid, column)
    oil, gas, water = (where[("RES", "ALL", f)] for f in ("oil", "gas", "water"))
    assert table["STOIIP"][oil] == pytest.approx(porv * 0.7 / 1.25, rel=1e-14)
    assert table["ASSOCIATEDGAS"][oil] == pytest.approx(porv * 0.7 / 1.25 * 100.0, rel=1e-14)
    assert table["GIIP"][gas] == pytest.approx(porv * 0.9 / 0.005, rel=1e-14)
    assert table["ASSOCIATEDOIL"][gas] == pytest.approx(porv * 0.9 / 0.005 * 2e-4, rel=1e-14)
    for column in ("GIIP", "ASSOCIATEDOIL"):
        assert np.isnan(table[column][oil])
    for column in ("STOIIP", "ASSOCIATEDGAS"):
        assert np.isnan(table[column][gas])
    for column in ("HCPV", "STOIIP", "GIIP", "ASSOCIATEDGAS", "ASSOCIATEDOIL"):
        assert np.isnan(table[column][water])


@pytest.mark.parametrize(
    ("contacts", "fluids"),
    [
        (zv.Contacts(owc=2020.0), ["oil", "water"]),
        (zv.Contacts(gwc=2010.0), ["gas", "water"]),  # a gas zone: no oil
        (None, ["water"]),
    ],
)
def test_the_contacts_decide_the_fluids(contacts, fluids):
    model = zv.build(flat_spec(contacts or zv.Contacts(owc=2020.0)))
    if contacts is None:  # a grid read without contacts
        model = zv.model_from_arrays(model._arrays())
    table = model.volumetrics(as_frame=False)
    assert table["FLUID"].tolist() == fluids
    assert float(table["BULK"].sum()) == pytest.approx(18 * 1e5, rel=1e-14)


def test_oil_and_gas_add_up_to_in_place_by_zone_bit_for_bit():
    model = zv.build(two_zone_spec())
    table = model.volumetrics(zv.Fluids(bo=1.3, bg=0.004), as_frame=False)
    for zone in model.in_place_by_zone():
        mine = (table["ZONE"] == zone.zone) & (table["FLUID"] != "water")
        assert mine.any()
        assert float(table["HCPV"][mine].sum()) == zone.hcpv_m3  # exact, not approximate
        assert float(table["BULK"][mine].sum()) == pytest.approx(zone.grv_m3, rel=1e-14)
    # every cell of positive volume is in one row
    assert float(table["BULK"].sum()) == pytest.approx(model.raw.bulk_volume(), rel=1e-12)


@pytest.mark.parametrize("per_cell", [False, True])
def test_regions_add_up_to_the_region_free_totals(per_cell):
    model = zv.build(two_zone_spec())
    ni, nj, nk = model.dims
    i, j, k = np.meshgrid(np.arange(ni), np.arange(nj), np.arange(nk), indexing="ij")
    ids = (i % 2 + 10 * (j > 1) + 5 * (k > 3)) if per_cell else (i % 2 + 10 * (j > 1))[:, :, 0]
    names = {0: "West", 11: "NorthEast"}
    whole = model.volumetrics(as_frame=False)
    split = model.volumetrics(regions=ids, region_names=names, as_frame=False)
    assert set(split["REGION"]) == (
        {"West", 1, 10, "NorthEast", 5, 6, 15, 16} if per_cell else {"West", 1, 10, "NorthEast"}
    )
    for row, (zone, fluid) in enumerate(zip(whole["ZONE"], whole["FLUID"], strict=True)):
        mine = (split["ZONE"] == zone) & (split["FLUID"] == fluid)
        for column in ("BULK", "NET", "PORV", "HCPV"):
            total = whole[column][row]
            if np.isnan(total):
                assert np.isnan(split[column][mine]).all()
            else:
                assert float(split[column][mine].sum()) == pytest.approx(total, rel=1e-12)


def test_a_dataframe_per_zone_fluids_and_a_spilled_model(tmp_path):
    pandas = pytest.importorskip("pandas")
    spec = two_zone_spec()
    fluids = {"A": zv.Fluids(bo=1.2, bg=0.005), "B": zv.Fluids(bo=1.4)}
    frame = zv.build(spec).volumetrics(fluids)
    assert isinstance(frame, pandas.DataFrame)
    assert frame.columns.tolist() == list(zv._volumetrics.COLUMNS)
    oil = frame[frame.FLUID == "oil"].set_index("ZONE")
    assert oil.loc["B", "STOIIP"] == pytest.approx(oil.loc["B", "HCPV"] / 1.4, rel=1e-15)
    stored = spilled(spec, tmp_path).volumetrics(fluids)
    assert stored[["ZONE", "REGION", "FLUID"]].equals(frame[["ZONE", "REGION", "FLUID"]])
    numbers = ["BULK", "NET", "PORV", "HCPV", "STOIIP", "GIIP"]
    np.testing.assert_allclose(stored[numbers], frame[numbers], rtol=1e-5)  # float32 store


def test_without_pandas_the_table_asks_for_the_extra(monkeypatch):
    model = zv.build(flat_spec(zv.Contacts(owc=2020.0)))
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError, match=r"pip install zorvastatic\[tables\]"):
        model.volumetrics()
    assert model.volumetrics(as_frame=False)["FLUID"].tolist() == ["oil", "water"]


@pytest.mark.parametrize(
    ("arguments", "error", "message"),
    [
        (
            dict(fluids=zv.Fluids(bo=0.9)),
            zv.InvalidInputError,
            "oil FVF (Boi) must be finite and >= 1.0 Rm³/Sm³, got 0.9",
        ),
        (
            dict(fluids=zv.Fluids(bg=1.0)),
            zv.InvalidInputError,
            "gas FVF (Bgi) must be finite and in (0,1) Rm³/Sm³, got 1",
        ),
        (dict(fluids={"A": zv.Fluids()}), KeyError, "no entry for zone(s): B"),
        (dict(fluids={"C": zv.Fluids()}), KeyError, "zones the model does not have: C"),
        (dict(regions=np.zeros((3, 3), dtype=int)), ValueError, "regions must have shape"),
        (dict(regions=np.full((6, 4), -1)), ValueError, "must not be negative, got -1"),
        (dict(regions=np.zeros((6, 4))), ValueError, "must hold integers"),
    ],
)
def test_refusals(arguments, error, message):
    model = zv.build(two_zone_spec())
    with pytest.raises(error) as caught:
        model.volumetrics(as_frame=False, **arguments)
    assert message in str(caught.value)


def test_an_invalid_value_in_a_hydrocarbon_cell_is_refused_as_in_place_refuses_it():
    priors = zv.Priors(porosity=0.25, net_to_gross=0.8, water_saturation=0.3)
    spec = dataclasses.replace(flat_spec(zv.Contacts(owc=2020.0)), priors=priors)
    model = zv.build(spec)
    arrays = model._arrays()
    poro = arrays.properties["PORO"].copy()
    poro[0, 0, 0] = 1.5  # above the OWC
    changed = zv.io.CornerPointArrays(
        arrays.dims,
        arrays.coord,
        arrays.zcorn,
        arrays.actnum,
        {**arrays.properties, "PORO": poro},
        arrays.zones,
    )
    other = zv.model_from_arrays(changed, contacts=zv.Contacts(owc=2020.0))
    with pytest.raises(zv.InvalidInputError, match=r"PORO must be a fraction in \[0,1\], got 1.5"):
        other.volumetrics(as_frame=False)
    poro[0, 0, 0], poro[0, 0, 2] = 0.25, np.nan  # below the OWC: a water cell
    other = zv.model_from_arrays(
        dataclasses.replace(changed, properties={**arrays.properties, "PORO": poro}),
        contacts=zv.Contacts(owc=2020.0),
    )
    table = other.volumetrics(as_frame=False)
    assert np.isnan(table["PORV"][table["FLUID"] == "water"]).all()
    assert not np.isnan(table["PORV"][table["FLUID"] == "oil"]).any()


def test_an_exception_from_the_progress_callback_stops_the_table_and_the_volumes():
    import _zorvastatic as zs

    lattice = zv.Lattice(ncol=201, nrow=201, xinc=50.0, yinc=50.0)
    spec = zv.ModelSpec(
        lattice,
        [
            zv.Horizon("Top", zv.Surface(lattice, np.full(lattice.shape, 2000.0))),
            zv.Horizon("Base", zv.Surface(lattice, np.full(lattice.shape, 2050.0))),
        ],
        [zv.Zone("Z", zv.Proportional(50), zv.Contacts(owc=2030.0))],
    )
    model = zv.build(spec)  # two million cells

    class Cancelled(Exception):
        pass

    stages = []

    def cancel(stage, done, total, fraction):
        stages.append(stage)
        raise Cancelled(stage)

    previous = zs._set_progress_callback(cancel)
    try:
        with pytest.raises(Cancelled, match="computing the volumes table"):
            model.volumetrics(as_frame=False)
        with pytest.raises(Cancelled, match="computing cell volumes"):
            model.cell_volumes()
    finally:
        zs._set_progress_callback(previous)
    table = model.volumetrics(as_frame=False)  # the model is untouched
    assert table["FLUID"].tolist() == ["oil", "water"]
    assert float(table["BULK"].sum()) == pytest.approx(200 * 200 * 50 * 50.0 * 50.0, rel=1e-12)
