"""A model's files opened by the peer libraries (xtgeo, pyvista, roffio, resfo), and grids made
elsewhere read back into models that report on them."""

import json
import warnings

import numpy as np
import pytest

import zorvastatic as zv
from model_grids import LAT, spilled, two_zone_spec


@pytest.fixture(scope="module")
def model():
    return zv.build(two_zone_spec())


def test_grdecl_opened_by_xtgeo(model, tmp_path):
    xtgeo = pytest.importorskip("xtgeo")
    path = tmp_path / "model.grdecl"
    model.to_grdecl(path)
    grid = xtgeo.grid_from_file(path, fformat="grdecl")
    assert tuple(grid.dimensions) == model.dims
    np.testing.assert_array_equal(grid.get_actnum().values.filled(0), model.actnum())
    # planar cells: xtgeo's volumes are ours
    theirs = float(grid.get_bulk_volume().values.sum())
    assert theirs == pytest.approx(model.raw.bulk_volume(), rel=1e-6)  # float32 inside xtgeo
    for name in ("PORO", "NTG", "SW"):
        prop = xtgeo.gridproperty_from_file(path, fformat="grdecl", name=name, grid=grid)
        np.testing.assert_array_equal(prop.values.filled(np.nan), model.property(name))


def test_grdecl_opened_by_pyvista(model, tmp_path):
    pv = pytest.importorskip("pyvista")
    path = tmp_path / "model.grdecl"
    model.to_grdecl(path, properties=["PORO"])
    grid = pv.read(path)
    assert grid.n_cells == np.prod(model.dims)
    # pyvista's reader gives elevation and counts k upward
    expected = model.property("PORO")[:, :, ::-1].ravel(order="F")
    np.testing.assert_array_equal(grid.cell_data["PORO"], expected)


def test_roff_opened_by_xtgeo_and_roffio(model, tmp_path):
    xtgeo = pytest.importorskip("xtgeo")
    roffio = pytest.importorskip("roffio")
    path = tmp_path / "model.roff"
    model.to_roff(path)
    tags = roffio.read(path)
    assert [int(tags["dimensions"][n]) for n in ("nX", "nY", "nZ")] == list(model.dims)
    assert tags["subgrids"]["nLayers"].tolist() == [z.nk for z in model.zones]
    grid = xtgeo.grid_from_file(path, fformat="roff")
    assert tuple(grid.dimensions) == model.dims
    assert [len(layers) for layers in grid.subgrids.values()] == [4, 3]  # ROFF keeps no names
    assert float(grid.get_bulk_volume().values.sum()) == pytest.approx(
        model.raw.bulk_volume(), rel=1e-5
    )
    poro = xtgeo.gridproperty_from_file(path, fformat="roff", name="PORO", grid=grid)
    np.testing.assert_allclose(poro.values, model.property("PORO"), rtol=1e-7)  # float32


def test_egrid_opened_by_xtgeo_and_resfo(model, tmp_path):
    xtgeo = pytest.importorskip("xtgeo")
    resfo = pytest.importorskip("resfo")
    path = tmp_path / "model.egrid"
    model.to_egrid(path)
    records = {kw.strip(): values for kw, values in resfo.read(path)}
    assert records["GRIDHEAD"][1:4].tolist() == list(model.dims)
    zcorn = model.zcorn("eclipse").astype(np.float32)
    np.testing.assert_array_equal(records["ZCORN"], zcorn)
    grid = xtgeo.grid_from_file(path, fformat="egrid")
    assert tuple(grid.dimensions) == model.dims
    assert float(grid.get_bulk_volume().values.sum()) == pytest.approx(
        model.raw.bulk_volume(), rel=1e-5
    )


def test_vtk_and_to_pyvista(model, tmp_path):
    pv = pytest.importorskip("pyvista")
    path = tmp_path / "model.vtk"
    model.to_vtk(path)
    grid = pv.read(path)
    assert grid.n_cells == np.prod(model.dims)
    np.testing.assert_array_equal(grid.cell_data["SW"], model.property("SW").ravel(order="F"))
    assert grid.volume == pytest.approx(model.raw.bulk_volume(), rel=1e-9)
    up = model.to_pyvista()
    np.testing.assert_array_equal(
        up.cell_data["PORO"], model.property("PORO")[:, :, ::-1].ravel(order="F")
    )
    down = model.to_pyvista(elevation=False)
    np.testing.assert_array_equal(down.cell_data["PORO"], model.property("PORO").ravel(order="F"))


def test_to_xtgeo_keeps_zones_and_properties(model):
    pytest.importorskip("xtgeo")
    grid = model.to_xtgeo(properties=["NTG"])
    assert {name: list(r) for name, r in grid.subgrids.items()} == {
        "A": [1, 2, 3, 4],
        "B": [5, 6, 7],
    }
    np.testing.assert_array_equal(grid.get_prop_by_name("NTG").values, model.property("NTG"))


@pytest.mark.parametrize("writer", ["to_grdecl", "to_egrid"])
def test_a_file_read_back_is_the_same_model(model, tmp_path, writer):
    path = tmp_path / "model.file"
    getattr(model, writer)(path)
    files = [tmp_path / "props.grdecl"] if writer == "to_egrid" else []
    if files:
        model.to_grdecl(files[0])
    contacts = {"A": zv.Contacts(goc=2008.0, owc=2016.0), "B": zv.Contacts(owc=2028.0)}
    zones = [(z.name, z.k_start, z.k_end) for z in model.zones]
    back = zv.read_grid(path, contacts=contacts, zones=zones, property_files=files)
    assert back.spec is None and back.dims == model.dims
    assert back.lattice.rotation == pytest.approx(LAT.rotation) and back.lattice.yflip
    exact = writer == "to_grdecl"  # EGRID keeps 32-bit corners
    compare = (
        np.testing.assert_array_equal
        if exact
        else (lambda a, b: np.testing.assert_allclose(a, b, rtol=1e-7))
    )
    compare(back.zcorn(), model.zcorn())
    np.testing.assert_allclose(back.coord(), model.coord(), rtol=0, atol=1e-6 if exact else 1e-4)
    np.testing.assert_array_equal(back.actnum(), model.actnum())
    for name in ("PORO", "NTG", "SW"):
        np.testing.assert_array_equal(back.property(name), model.property(name))
    if exact:  # the pillars land on the same lattice nodes: the same volumes, bit for bit
        np.testing.assert_array_equal(back.cell_volumes(), model.cell_volumes())
    else:
        np.testing.assert_allclose(back.cell_volumes(), model.cell_volumes(), rtol=1e-4)
    ours, theirs = model.volumetrics(as_frame=False), back.volumetrics(as_frame=False)
    assert theirs["FLUID"].tolist() == ours["FLUID"].tolist()
    if exact:
        np.testing.assert_array_equal(theirs["HCPV"], ours["HCPV"])
    else:
        np.testing.assert_allclose(theirs["HCPV"], ours["HCPV"], rtol=1e-4)


def test_a_spilled_model_writes_the_same_grdecl(model, tmp_path):
    stored = spilled(two_zone_spec(), tmp_path)
    stored.to_grdecl(tmp_path / "stored.grdecl")
    back = zv.read_grid(tmp_path / "stored.grdecl")
    np.testing.assert_array_equal(back.actnum(), model.actnum())
    # 32-bit values are written in their own shortest text
    as_stored = np.float32
    np.testing.assert_array_equal(back.zcorn().astype(as_stored), model.zcorn().astype(as_stored))
    np.testing.assert_array_equal(
        back.property("PORO").astype(as_stored), model.property("PORO").astype(as_stored)
    )


def test_a_grid_made_by_xtgeo_is_reported_on(tmp_path):
    xtgeo = pytest.importorskip("xtgeo")
    box = xtgeo.create_box_grid(
        (5, 4, 3),
        increment=(50.0, 80.0, 4.0),
        origin=(461_000.0, 6_781_000.0, 1800.0),
        rotation=20.0,
    )
    actnum = box.get_actnum()
    actnum.values[1, 2, 0] = 0
    box.set_actnum(actnum)
    poro = xtgeo.GridProperty(box, values=0.2, name="PORO")
    box.append_prop(poro)
    path = tmp_path / "box.grdecl"
    box.to_file(path, fformat="grdecl")
    poro.to_file(tmp_path / "poro.grdecl", fformat="grdecl", name="PORO")
    model = zv.read_grid(path, property_files=[tmp_path / "poro.grdecl"])
    assert model.dims == (5, 4, 3) and model.zones[0].name == "RESERVOIR"
    assert model.lattice.rotation == pytest.approx(20.0)
    assert model.actnum()[1, 2, 0] == 0 and model.cell_volumes()[1, 2, 0] == 0.0
    expected = box.get_bulk_volume().values.filled(0.0)
    np.testing.assert_allclose(model.cell_volumes(), expected, rtol=1e-6)
    # the views place it where xtgeo does
    frame = json.loads(model.raw.map_bundle())["frame"]
    assert frame["rotation_deg"] == pytest.approx(20.0)
    x, y = box.get_xyz(asmasked=False)[:2]
    np.testing.assert_allclose(model.cell_centers()[..., 0], x.values, atol=1e-3)
    np.testing.assert_allclose(model.cell_centers()[..., 1], y.values, atol=1e-3)


def test_what_a_format_cannot_hold(tmp_path):
    box = zv.io.CornerPointArrays.box((2, 2, 1), increments=(10.0, 10.0, 1.0), top=1000.0)
    values = np.full((2, 2, 1), 0.2)
    values[1, 1, 0] = np.nan
    regions = np.arange(4, dtype=np.int32).reshape(2, 2, 1)
    arrays = zv.io.CornerPointArrays(
        box.dims,
        box.coord,
        box.zcorn,
        box.actnum,
        {"PORO": values, "LONG_NAME_9": values, "FIPNUM": regions},
    )
    model = zv.model_from_arrays(arrays)
    # integer cubes go back to the file as integers
    model.to_grdecl(tmp_path / "fip.grdecl", properties=["FIPNUM"])
    assert "0 2 1 3" in (tmp_path / "fip.grdecl").read_text()
    with pytest.raises(ValueError, match="GRDECL cannot hold property name 'LONG_NAME_9'"):
        model.to_grdecl(tmp_path / "a.grdecl", properties=["LONG_NAME_9"])
    with pytest.raises(KeyError, match="no property 'PERMX'"):
        model.to_grdecl(tmp_path / "a.grdecl", properties=["PERMX"])
    with pytest.raises(FileNotFoundError):
        model.to_grdecl(tmp_path / "missing" / "a.grdecl", properties=["PORO"])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        model.to_grdecl(tmp_path / "a.grdecl", properties=["PORO"], nan_value=-1.0)
    assert [str(w.message) for w in caught] == ["1 NaN value(s) of PORO written to GRDECL as -1.0"]
    assert zv.read_grid(tmp_path / "a.grdecl").property("PORO")[1, 1, 0] == -1.0


@pytest.mark.parametrize("dtype", [np.float64, np.float32, np.int32, np.int64])
def test_keyword_text_reads_back_value_for_value(dtype):
    from zorvastatic.io.grdecl import format_values, parse_numbers

    rng = np.random.default_rng(5)
    if np.dtype(dtype).kind == "f":
        values = np.concatenate(
            [rng.normal(2000.0, 300.0, 5000), np.repeat([0.1, -0.0, 1e16, 1e-5, 5e-324], 7)]
        ).astype(dtype)
    else:
        values = rng.integers(-(2**31), 2**31, 5000).astype(dtype)
    values = np.repeat(values, rng.integers(1, 4, values.size))  # runs of equal values
    text = format_values(values).decode()
    assert text.endswith("\n") and max(map(len, text.splitlines())) <= 128
    back = parse_numbers(text.split(), "test")
    np.testing.assert_array_equal(back.astype(dtype), values)  # shortest text of own precision


def test_the_files_example_runs_end_to_end():
    import pathlib
    import subprocess
    import sys

    pytest.importorskip("pandas")
    for peer in ("xtgeo", "pyvista", "roffio", "resfo"):
        pytest.importorskip(peer)
    example = pathlib.Path(__file__).parents[2] / "examples" / "grid_files.py"
    out = subprocess.run(
        [sys.executable, "-W", "error", str(example)], capture_output=True, text=True, check=True
    ).stdout
    assert "xtgeo GRDECL Dimensions(ncol=30, nrow=20, nlay=18)" in out
    assert "roffio ROFF {'nX': 30, 'nY': 20, 'nZ': 18}" in out
    assert [line.split(":")[0] for line in out.splitlines() if line.startswith("read back")] == [
        "read back",
        "read back",
    ]
