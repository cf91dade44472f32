"""ROFF files: read back by xtgeo (grid and properties) and by roffio (the tags themselves)."""

from __future__ import annotations

import numpy as np
import pytest

from io_grids import GRIDS, cell_volumes, planar_grid
from zorvastatic.io import CornerPointArrays, NaNWrittenWarning, from_xtgeo, write_roff

xtgeo = pytest.importorskip("xtgeo")
roffio = pytest.importorskip("roffio")


@pytest.fixture(params=sorted(GRIDS))
def grid(request):
    return planar_grid(**GRIDS[request.param])


def test_xtgeo_reads_grid_zones_properties_and_volumes(grid, tmp_path):
    path = tmp_path / "g.roff"
    write_roff(path, grid)
    theirs = xtgeo.grid_from_file(path, fformat="roff")
    assert theirs.dimensions == grid.dims
    back = from_xtgeo(theirs)
    np.testing.assert_array_equal(back.actnum, grid.actnum)
    np.testing.assert_allclose(back.coord, grid.coord, rtol=0, atol=2e-4)
    np.testing.assert_allclose(back.zcorn, grid.zcorn, rtol=0, atol=2e-4)
    assert [k1 - k0 for _, k0, k1 in back.zones] == [k1 - k0 for _, k0, k1 in grid.zones]
    bulk = theirs.get_bulk_volume(asmasked=False).values
    np.testing.assert_allclose(bulk, cell_volumes(grid), rtol=1e-6)
    for name, values in grid.properties.items():
        prop = xtgeo.gridproperty_from_file(path, fformat="roff", name=name, grid=theirs)
        np.testing.assert_array_equal(np.ma.getdata(prop.values), values.astype(np.float32))


def test_roffio_reads_the_tags(tmp_path):
    grid = planar_grid(dims=(4, 3, 2), fault_throw=3.0)
    path = tmp_path / "g.roff"
    write_roff(path, grid, properties=["PORO"])
    tags = roffio.read(path)
    assert tags["filedata"]["filetype"] == "grid"
    assert [int(tags["dimensions"][k]) for k in ("nX", "nY", "nZ")] == [4, 3, 2]
    assert tags["parameter"]["name"] == "PORO"
    np.testing.assert_array_equal(
        tags["parameter"]["data"], grid.properties["PORO"][:, :, ::-1].ravel().astype(np.float32)
    )
    np.testing.assert_array_equal(tags["active"]["data"], grid.actnum[:, :, ::-1].ravel() == 1)
    split = np.frombuffer(tags["zvalues"]["splitEnz"], dtype=np.uint8)
    assert set(split.tolist()) == {1, 4}  # whole nodes, and the split ones along the fault
    assert tags["zvalues"]["data"].size == int(split.sum())
    assert tags["subgrids"]["nLayers"].tolist() == [1, 1]


def test_a_gap_between_layers_is_closed_with_a_counted_warning(tmp_path):
    grid = planar_grid(dims=(3, 2, 3))
    grid.zcorn[0, 1, 2, 4:] -= 0.5  # the bottom of one cell stops half a metre above the next top
    with pytest.warns(UserWarning, match="4 cell corner"):
        write_roff(tmp_path / "g.roff", grid)
    back = from_xtgeo(xtgeo.grid_from_file(tmp_path / "g.roff", fformat="roff"))
    np.testing.assert_allclose(back.zcorn[0, 1, 2, 4:], grid.zcorn[1, 1, 2, :4], atol=2e-4)


def test_nan_values_become_the_undefined_value(tmp_path):
    grid = planar_grid(dims=(3, 2, 2), inactive=())
    grid.properties["PORO"][1, 1, 0] = np.nan
    with pytest.warns(NaNWrittenWarning, match="1 NaN value"):
        write_roff(tmp_path / "g.roff", grid, properties=["PORO"])
    tags = roffio.read(tmp_path / "g.roff")
    cube = tags["parameter"]["data"].reshape(3, 2, 2)[:, :, ::-1]
    assert cube[1, 1, 0] == -999.0
    assert np.count_nonzero(cube == -999.0) == 1


def test_integer_cubes_stay_integers(tmp_path):
    base = planar_grid(dims=(3, 2, 2))
    region = np.asfortranarray(np.arange(12, dtype=np.int32).reshape(3, 2, 2) % 3)
    grid = CornerPointArrays(base.dims, base.coord, base.zcorn, base.actnum, {"REGION": region})
    write_roff(tmp_path / "g.roff", grid)
    assert roffio.read(tmp_path / "g.roff")["parameter"]["data"].dtype == np.int32
    back = xtgeo.gridproperty_from_file(tmp_path / "g.roff", fformat="roff", name="REGION")
    np.testing.assert_array_equal(np.ma.getdata(back.values), region)


def test_names_with_white_space_are_refused(tmp_path):
    base = planar_grid(dims=(2, 2, 1))
    grid = CornerPointArrays(
        base.dims, base.coord, base.zcorn, base.actnum, {"NET GROSS": base.properties["NTG"]}
    )
    with pytest.raises(ValueError, match="ROFF cannot hold property name 'NET GROSS'"):
        write_roff(tmp_path / "g.roff", grid)
