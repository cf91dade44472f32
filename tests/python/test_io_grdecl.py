"""GRDECL files: read back by xtgeo, by pyvista and by read_arrays; errors and streaming."""

from __future__ import annotations

import os
import tracemalloc
import warnings

import numpy as np
import pytest

from io_grids import GRIDS, cell_volumes, planar_grid
from zorvastatic.io import (
    CornerPointArrays,
    NaNWrittenWarning,
    from_xtgeo,
    read_arrays,
    write_egrid,
    write_grdecl,
)
from zorvastatic.io._layout import corner_points
from zorvastatic.io.grdecl import format_values

xtgeo = pytest.importorskip("xtgeo")


@pytest.fixture(params=sorted(GRIDS))
def grid(request):
    return planar_grid(**GRIDS[request.param])


def test_xtgeo_reads_geometry_actnum_properties_and_volumes(grid, tmp_path):
    path = tmp_path / "grid.grdecl"
    write_grdecl(path, grid)
    theirs = xtgeo.grid_from_file(path, fformat="grdecl")
    assert theirs.dimensions == grid.dims
    back = from_xtgeo(theirs)
    np.testing.assert_array_equal(back.actnum, grid.actnum)
    # xtgeo reads GRDECL coordinates and depths as float32
    np.testing.assert_allclose(back.coord, grid.coord, rtol=1e-7)
    np.testing.assert_allclose(back.zcorn, grid.zcorn, rtol=1e-7)
    bulk = theirs.get_bulk_volume(asmasked=False).values
    ours = cell_volumes(grid)
    np.testing.assert_allclose(bulk, ours, rtol=1e-6)  # local coordinates keep float32 exact enough
    assert float(bulk.sum()) == pytest.approx(float(ours.sum()), rel=1e-6)
    for name in ("PORO", "NTG", "SW"):
        prop = xtgeo.gridproperty_from_file(path, fformat="grdecl", name=name, grid=theirs)
        ours = grid.properties[name]  # float32 text is the shortest that reads back as float32
        np.testing.assert_array_equal(np.ma.getdata(prop.values).astype(ours.dtype), ours)


def test_xtgeo_bulk_volume_of_the_engines_flat_box_equals_the_engines(tmp_path):
    engine = pytest.importorskip("_zorvastatic")
    model = engine.build_flat_model(n=9, depth_m=1800.0, area_m2=2.5e5, gross_height_m=40.0, nk=4)
    side = 500.0 / 8  # the flat model lays n x n nodes over a square of the given area
    grid = CornerPointArrays.box((8, 8, 4), increments=(side, side, 10.0), top=1800.0)
    write_grdecl(tmp_path / "flat.grdecl", grid)
    theirs = xtgeo.grid_from_file(tmp_path / "flat.grdecl", fformat="grdecl")
    assert float(theirs.get_bulk_volume().values.sum()) == pytest.approx(
        model.bulk_volume(), rel=1e-12
    )
    assert float(cell_volumes(grid).sum()) == pytest.approx(model.bulk_volume(), rel=1e-12)


def test_pyvista_reads_cells_properties_and_volumes(grid, tmp_path):
    pv = pytest.importorskip("pyvista")
    path = tmp_path / "grid.grdecl"
    write_grdecl(path, grid)
    theirs = pv.read(path)
    ni, nj, nk = grid.dims
    assert theirs.n_cells == ni * nj * nk
    # pyvista's reader turns depth into elevation and counts k upward.
    expected = grid.properties["PORO"][:, :, ::-1].ravel(order="F")
    np.testing.assert_array_equal(theirs.cell_data["PORO"], expected)
    # pyvista adds the MAPAXES origin back: its corners lie where ours do
    world = np.concatenate(
        [corner_points(grid.coord, grid.zcorn[k]).reshape(-1, 3) for k in range(nk)]
    )
    np.testing.assert_allclose(theirs.bounds[0:4:2], world[:, :2].min(axis=0), rtol=1e-12)
    np.testing.assert_allclose(theirs.bounds[1:4:2], world[:, :2].max(axis=0), rtol=1e-12)
    # pyvista hides cells by ACTNUM without turning k upward; unhide all to measure every cell.
    theirs.cell_data.remove("vtkGhostType")
    volumes = theirs.compute_cell_sizes().cell_data["Volume"]
    ours = cell_volumes(grid)[:, :, ::-1].ravel(order="F")
    np.testing.assert_allclose(np.abs(volumes), ours, rtol=1e-9)


def test_read_grid_gives_back_identical_arrays(grid, tmp_path):
    path = tmp_path / "grid.grdecl"
    write_grdecl(path, grid)
    back = read_arrays(path)
    assert back.dims == grid.dims
    np.testing.assert_array_equal(back.coord, grid.coord)
    np.testing.assert_array_equal(back.zcorn, grid.zcorn)
    np.testing.assert_array_equal(back.actnum, grid.actnum)
    assert set(back.properties) == set(grid.properties)
    for name, values in grid.properties.items():  # float32 text reads back as that float32
        np.testing.assert_array_equal(back.properties[name].astype(values.dtype), values)
    np.testing.assert_array_equal(cell_volumes(back), cell_volumes(grid))


def test_xtgeo_written_grids_read_back_as_xtgeo_holds_them(tmp_path):
    box = xtgeo.create_box_grid(
        (5, 4, 3), increment=(30.0, 20.0, 4.0), origin=(1000.0, 2000.0, 1500.0), rotation=25.0
    )
    box._actnumsv[1, 2, 0] = 0
    poro = xtgeo.GridProperty(
        box, values=np.arange(60, dtype=np.float64).reshape(5, 4, 3) / 100, name="PORO"
    )
    box.append_prop(poro)
    box.to_file(tmp_path / "theirs.grdecl", fformat="grdecl")
    poro.to_file(tmp_path / "poro.grdecl", fformat="grdecl", name="PORO")
    ours = read_arrays(tmp_path / "theirs.grdecl", property_files=[tmp_path / "poro.grdecl"])
    expected = from_xtgeo(box)
    np.testing.assert_allclose(ours.coord, expected.coord, rtol=0, atol=1e-6)
    np.testing.assert_array_equal(ours.zcorn, expected.zcorn)
    np.testing.assert_array_equal(ours.actnum, expected.actnum)
    np.testing.assert_allclose(ours.properties["PORO"][ours.actnum == 1], poro.values.compressed())


def test_reader_handles_the_format_as_written_by_hand(tmp_path):
    (tmp_path / "zcorn.inc").write_text("ZCORN\n 4*1000 4*1010 -- top and bottom\n /\n")
    (tmp_path / "main.grdecl").write_text(
        "-- one cell, feet, local to map axes\nNOECHO\nSPECGRID\n 1 1 1 1 F /\n"
        "MAPUNITS\n 'METRES' /\nGRIDUNIT\n 'FEET' ' ' /\n"
        "MAPAXES\n 500.0 601.0 500.0 600.0 501.0 600.0 /\n"
        "COORD\n 0 0 1000 0 0 1010  10 0 1000 10 0 1010\n"
        " 0 10 1000 0 10 1010   10 10 1000 10 10 1010 /\n"
        "INCLUDE\n 'zcorn.inc' /\nPERMX\n 1.5D2 / trailing text\nACTNUM\n 1 /\nECHO\n"
    )
    grid = read_arrays(tmp_path / "main.grdecl")
    foot = 0.3048
    assert grid.dims == (1, 1, 1)
    np.testing.assert_allclose(
        grid.coord[1, 1],
        [
            500 + 10 * foot,
            600 + 10 * foot,
            1000 * foot,
            500 + 10 * foot,
            600 + 10 * foot,
            1010 * foot,
        ],
    )
    np.testing.assert_allclose(grid.zcorn[0, 0, 0], [1000 * foot] * 4 + [1010 * foot] * 4)
    assert grid.properties["PERMX"][0, 0, 0] == 150.0


@pytest.mark.parametrize(
    "values",
    [
        np.array(
            [0.1, 0.1, 0.1, 1e-300, -0.0, 5e-324, 1.7976931348623157e308, -2.5, 2000.000000000001]
        ),
        np.random.default_rng(3).uniform(1900.0, 2100.0, 5000),
        np.random.default_rng(4).uniform(0.0, 1.0, 3000).astype(np.float32),
        np.array([1, 1, 1, 0, 0, 1], dtype=np.int32),
        np.repeat(np.random.default_rng(5).uniform(0.0, 1.0, 100_000), [1, 2, 3, 4] * 25_000),
    ],
    ids=["extremes", "depths", "float32", "ints", "runs-over-several-chunks"],
)
def test_values_read_back_exactly_and_lines_stay_short(values, tmp_path):
    text = format_values(values).decode()
    assert max(map(len, text.splitlines())) <= 128
    path = tmp_path / "v.grdecl"
    path.write_text(f"VALUES\n{text}/\n")
    from zorvastatic.io.grdecl import read_grdecl_keywords

    back = read_grdecl_keywords(path)["VALUES"].astype(values.dtype)
    np.testing.assert_array_equal(back, values)


@pytest.mark.parametrize(
    ("name", "message"),
    [
        ("POROSITY1", "1 to 8 characters"),
        ("poro", "1 to 8 characters"),
        ("PO RO", "1 to 8 characters"),
        ("ZCORN", "grid keyword"),
    ],
)
def test_names_the_format_cannot_hold_are_refused(name, message, tmp_path):
    base = planar_grid(dims=(2, 2, 1), inactive=())
    grid = CornerPointArrays(
        base.dims, base.coord, base.zcorn, base.actnum, {name: base.properties["PORO"]}
    )
    with pytest.raises(ValueError, match=message):
        write_grdecl(tmp_path / "g.grdecl", grid)
    assert os.listdir(tmp_path) == []


def test_unknown_property_lists_the_known_names(tmp_path):
    with pytest.raises(KeyError, match="NTG, PORO, SW"):
        write_grdecl(
            tmp_path / "g.grdecl", planar_grid(dims=(2, 2, 1), inactive=()), properties=["PERMX"]
        )


def test_nan_values_are_written_as_the_stand_in_and_counted(tmp_path):
    grid = planar_grid(dims=(3, 2, 2), inactive=())
    grid.properties["PORO"][0, 0, 0] = grid.properties["PORO"][2, 1, 1] = np.nan
    grid.properties["SW"][1, 1, 0] = np.nan
    with pytest.warns(NaNWrittenWarning) as caught:
        write_grdecl(tmp_path / "g.grdecl", grid, nan_value=-1.0)
    assert sorted(str(w.message) for w in caught) == [
        "1 NaN value(s) of SW written to GRDECL as -1.0",
        "2 NaN value(s) of PORO written to GRDECL as -1.0",
    ]
    back = read_arrays(tmp_path / "g.grdecl")
    assert back.properties["PORO"][0, 0, 0] == back.properties["PORO"][2, 1, 1] == -1.0
    assert back.properties["SW"][1, 1, 0] == -1.0


def test_infinite_property_values_are_refused_and_nothing_is_written(tmp_path):
    grid = planar_grid(dims=(3, 2, 3))
    grid.properties["NTG"][2, 0, 2] = -np.inf
    with pytest.raises(ValueError, match="property NTG holds 1 infinite value.s. in layer k=2"):
        write_grdecl(tmp_path / "g.grdecl", grid)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize(
    ("target", "error"),
    [("missing/g.grdecl", FileNotFoundError), ("folder", IsADirectoryError)],
)
def test_unwritable_path_raises_the_os_error_naming_it(target, error, tmp_path):
    (tmp_path / "folder").mkdir()
    path = tmp_path / target
    with pytest.raises(error) as raised:
        write_grdecl(path, planar_grid(dims=(2, 2, 1)))
    assert raised.value.filename == str(path)
    assert sorted(os.listdir(tmp_path)) == ["folder"] and os.listdir(tmp_path / "folder") == []


def test_a_failure_midway_leaves_no_file_and_keeps_the_old_one(tmp_path):
    grid = planar_grid(dims=(3, 3, 4))
    grid.zcorn[2, 1, 1, 5] = np.inf
    target = tmp_path / "g.grdecl"
    target.write_text("previous")
    with pytest.raises(ValueError, match=r"non-finite depth at cell \(i=1, j=1, k=2\), corner 5"):
        write_grdecl(target, grid)
    assert os.listdir(tmp_path) == ["g.grdecl"]
    assert target.read_text() == "previous"


def test_a_float32_memory_map_is_streamed_a_layer_at_a_time(tmp_path):
    ni, nj, nk = 30, 30, 480
    store = np.memmap(tmp_path / "zcorn.bin", dtype=np.float32, mode="w+", shape=(nk, nj, ni, 8))
    tops = 2000.0 + np.arange(nk, dtype=np.float32)
    store[..., :4] = tops[:, None, None, None]
    store[..., 4:] = (tops + 1.0)[:, None, None, None]
    store.flush()
    del store
    zcorn = np.memmap(tmp_path / "zcorn.bin", dtype=np.float32, mode="r", shape=(nk, nj, ni, 8))
    base = CornerPointArrays.box((ni, nj, nk), top=2000.0)
    grid = CornerPointArrays(base.dims, base.coord, zcorn, base.actnum)
    tracemalloc.start()
    try:
        write_grdecl(tmp_path / "big.grdecl", grid)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < zcorn.nbytes / 4, f"peak {peak} bytes for a {zcorn.nbytes}-byte zcorn"
    back = read_arrays(tmp_path / "big.grdecl")
    np.testing.assert_array_equal(back.zcorn, zcorn)


def test_layers_written_a_few_rows_at_a_time_give_the_same_grid(tmp_path, monkeypatch):
    import zorvastatic.io._layout as layout

    grid = planar_grid(dims=(7, 9, 4), rotation=12.0, fault_throw=2.0)
    grid.zcorn[2, 4, 3, :4] -= 0.25  # a top face that differs from the bottom above in one piece
    write_grdecl(tmp_path / "whole.grdecl", grid)
    write_egrid(tmp_path / "whole.egrid", grid)
    monkeypatch.setattr(layout, "FACE_BLOCK", 2 * 4 * 7)  # two rows of cells per piece
    write_grdecl(tmp_path / "rows.grdecl", grid)
    write_egrid(tmp_path / "rows.egrid", grid)
    assert (tmp_path / "rows.egrid").read_bytes() == (tmp_path / "whole.egrid").read_bytes()
    # Text pieces end their own lines and runs, so only the values must agree.
    assert (tmp_path / "rows.grdecl").read_bytes() != (tmp_path / "whole.grdecl").read_bytes()
    np.testing.assert_array_equal(read_arrays(tmp_path / "rows.grdecl").zcorn, grid.zcorn)


def test_no_warning_from_the_peers_on_our_files(tmp_path):
    grid = planar_grid()
    write_grdecl(tmp_path / "g.grdecl", grid)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        xtgeo.grid_from_file(tmp_path / "g.grdecl", fformat="grdecl")
