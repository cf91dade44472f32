"""EGRID files: read back by resfo record by record, by xtgeo, and by read_arrays."""

from __future__ import annotations

import os
import tracemalloc

import numpy as np
import pytest

from io_grids import GRIDS, cell_volumes, planar_grid
from zorvastatic.io import CornerPointArrays, from_xtgeo, read_arrays, write_egrid
from zorvastatic.io._layout import grdecl_layer

resfo = pytest.importorskip("resfo")


@pytest.fixture(params=sorted(GRIDS))
def grid(request):
    return planar_grid(**GRIDS[request.param])


def records(path):
    return [(kw.strip(), np.asarray(values)) for kw, values in resfo.read(path)]


@pytest.mark.parametrize("dims", [(6, 5, 4), (25, 20, 3), (1, 1, 1)])
def test_resfo_reads_every_record(dims, tmp_path):
    # 25 x 20 x 3 cells: ZCORN of 12,000 values spans whole blocks, and ACTNUM ends mid-block.
    grid = planar_grid(dims=dims)
    path = tmp_path / "g.egrid"
    write_egrid(path, grid)
    found = records(path)
    names = [kw for kw, _ in found]
    assert names == [
        "FILEHEAD",
        "MAPUNITS",
        "MAPAXES",
        "GRIDUNIT",
        "GRIDHEAD",
        "COORD",
        "ZCORN",
    ] + [
        "ACTNUM",
        "ENDGRID",
    ]
    by_name = dict(found)
    ni, nj, nk = dims
    assert by_name["GRIDHEAD"][:4].tolist() == [1, ni, nj, nk]
    assert by_name["ZCORN"].dtype == np.dtype(">f4")
    zcorn = np.concatenate([grdecl_layer(grid.zcorn[k]) for k in range(nk)])
    np.testing.assert_array_equal(by_name["ZCORN"], zcorn.astype(np.float32))
    np.testing.assert_array_equal(by_name["ACTNUM"], grid.actnum.ravel(order="F"))
    axes = by_name["MAPAXES"].astype(np.float64)
    local = by_name["COORD"].astype(np.float64).reshape(nj + 1, ni + 1, 6)
    world = local.copy()
    world[..., [0, 3]] += axes[2]
    world[..., [1, 4]] += axes[3]
    np.testing.assert_allclose(world, grid.coord, rtol=0, atol=2e-4)  # float32 of local metres
    assert float(np.abs(local[..., [0, 1, 3, 4]]).max()) < 1e4


def test_xtgeo_reads_dims_actnum_geometry_and_volumes(grid, tmp_path):
    xtgeo = pytest.importorskip("xtgeo")
    path = tmp_path / "g.egrid"
    write_egrid(path, grid)
    theirs = xtgeo.grid_from_file(path, fformat="egrid")
    assert theirs.dimensions == grid.dims
    back = from_xtgeo(theirs)
    np.testing.assert_array_equal(back.actnum, grid.actnum)
    np.testing.assert_allclose(back.coord, grid.coord, rtol=0, atol=2e-4)
    np.testing.assert_allclose(back.zcorn, grid.zcorn, rtol=0, atol=2e-4)
    bulk = theirs.get_bulk_volume(asmasked=False).values
    np.testing.assert_allclose(bulk, cell_volumes(grid), rtol=1e-6)


def test_read_grid_gives_back_the_float32_arrays(grid, tmp_path):
    path = tmp_path / "g.egrid"
    write_egrid(path, grid)
    back = read_arrays(path)
    assert back.dims == grid.dims and back.properties == {}
    np.testing.assert_array_equal(back.zcorn, grid.zcorn.astype(np.float32))
    np.testing.assert_array_equal(back.actnum, grid.actnum)
    np.testing.assert_allclose(back.coord, grid.coord, rtol=0, atol=2e-4)
    np.testing.assert_allclose(cell_volumes(back), cell_volumes(grid), rtol=1e-6)


def test_world_coordinates_without_map_origin(tmp_path):
    grid = planar_grid(origin=(1000.0, 2000.0))
    path = tmp_path / "g.egrid"
    write_egrid(path, grid, map_origin=False)
    assert "MAPAXES" not in dict(records(path))
    np.testing.assert_array_equal(read_arrays(path).coord, grid.coord.astype(np.float32))


@pytest.mark.parametrize("fformat", ["egrid", "fegrid"])
def test_xtgeo_written_egrid_reads_back_as_xtgeo_holds_it(fformat, tmp_path):
    xtgeo = pytest.importorskip("xtgeo")
    box = xtgeo.create_box_grid(
        (4, 3, 5), increment=(20.0, 30.0, 2.0), origin=(50.0, 70.0, 900.0), rotation=40.0
    )
    box._actnumsv[2, 1, 4] = 0
    box.to_file(tmp_path / f"theirs.{fformat}", fformat=fformat)
    ours, expected = read_arrays(tmp_path / f"theirs.{fformat}"), from_xtgeo(box)
    np.testing.assert_allclose(ours.coord, expected.coord, rtol=1e-6)
    np.testing.assert_array_equal(ours.zcorn, expected.zcorn)
    np.testing.assert_array_equal(ours.actnum, expected.actnum)


def test_a_memory_mapped_grid_is_streamed(tmp_path):
    ni, nj, nk = 40, 40, 300
    zcorn = np.memmap(tmp_path / "z.bin", dtype=np.float32, mode="w+", shape=(nk, nj, ni, 8))
    zcorn[..., :4] = (1000.0 + np.arange(nk, dtype=np.float32))[:, None, None, None]
    zcorn[..., 4:] = zcorn[..., :4] + 1.0
    base = CornerPointArrays.box((ni, nj, nk), top=1000.0)
    grid = CornerPointArrays(base.dims, base.coord, zcorn, base.actnum)
    tracemalloc.start()
    try:
        write_egrid(tmp_path / "g.egrid", grid)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < zcorn.nbytes / 4, f"peak {peak} bytes for a {zcorn.nbytes}-byte zcorn"
    np.testing.assert_array_equal(read_arrays(tmp_path / "g.egrid").zcorn, zcorn)


def test_failure_leaves_no_file(tmp_path):
    grid = planar_grid(dims=(3, 3, 3))
    grid.zcorn[1, 0, 2, 0] = np.nan
    with pytest.raises(ValueError, match=r"cell \(i=2, j=0, k=1\)"):
        write_egrid(tmp_path / "g.egrid", grid)
    assert os.listdir(tmp_path) == []
