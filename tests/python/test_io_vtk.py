"""VTK files and pyvista grids: read by pyvista, cells positively oriented, values in place."""

from __future__ import annotations

import numpy as np
import pytest

from io_grids import GRIDS, cell_volumes, planar_grid
from zorvastatic.io import CornerPointArrays, to_pyvista, write_grdecl, write_vtk
from zorvastatic.io._layout import areal_handedness, corner_points

pv = pytest.importorskip("pyvista")


@pytest.fixture(params=sorted(GRIDS))
def grid(request):
    return planar_grid(**GRIDS[request.param])


@pytest.mark.parametrize("elevation", [True, False])
def test_pyvista_reads_cells_in_our_order_with_positive_volumes(grid, elevation, tmp_path):
    path = tmp_path / "g.vtk"
    write_vtk(path, grid, elevation=elevation)
    theirs = pv.read(path)
    ni, nj, nk = grid.dims
    assert theirs.n_cells == ni * nj * nk
    for name, values in [("ACTNUM", grid.actnum), *grid.properties.items()]:
        np.testing.assert_array_equal(theirs.cell_data[name], values.ravel(order="F"))
    volumes = theirs.compute_cell_sizes().cell_data["Volume"]
    np.testing.assert_allclose(volumes, cell_volumes(grid).ravel(order="F"), rtol=1e-9)
    centre = corner_points(grid.coord, grid.zcorn[2])[3, 4].mean(axis=0)  # cell (4, 3, 2)
    if elevation:
        centre[2] *= -1.0
    their_centre = theirs.extract_cells([4 + ni * (3 + nj * 2)]).points.mean(axis=0)
    np.testing.assert_allclose(their_centre, centre, rtol=1e-12)


def test_points_converted_a_few_rows_at_a_time_land_in_place(tmp_path, monkeypatch):
    import zorvastatic.io.vtk as vtk_module

    grid = planar_grid(rotation=30.0, lean=(0.1, 0.2))
    write_vtk(tmp_path / "whole.vtk", grid)
    monkeypatch.setattr(vtk_module, "_BLOCK_CELLS", 7)  # one row of six cells at a time
    write_vtk(tmp_path / "rows.vtk", grid)
    np.testing.assert_array_equal(
        pv.read(tmp_path / "rows.vtk").points, pv.read(tmp_path / "whole.vtk").points
    )
    assert (tmp_path / "rows.vtk").read_bytes() == (tmp_path / "whole.vtk").read_bytes()


def test_nan_is_kept_and_names_with_spaces_are_refused(tmp_path):
    base = planar_grid(dims=(3, 2, 2))
    poro = base.properties["PORO"].copy()
    poro[1, 0, 1] = np.nan
    grid = CornerPointArrays(base.dims, base.coord, base.zcorn, base.actnum, {"PORO": poro})
    write_vtk(tmp_path / "g.vtk", grid)
    read = pv.read(tmp_path / "g.vtk").cell_data["PORO"]
    assert np.isnan(read[1 + 3 * 2 * 1]) and np.count_nonzero(np.isnan(read)) == 1
    spaced = CornerPointArrays(base.dims, base.coord, base.zcorn, base.actnum, {"NET GROSS": poro})
    with pytest.raises(ValueError, match="white space"):
        write_vtk(tmp_path / "h.vtk", spaced)


@pytest.mark.parametrize("elevation", [True, False])
def test_to_pyvista_carries_properties_and_volumes(grid, elevation):
    theirs = to_pyvista(grid, elevation=elevation)
    flip = slice(None, None, -1) if elevation else slice(None)
    for name, values in grid.properties.items():
        np.testing.assert_array_equal(theirs.cell_data[name], values[:, :, flip].ravel(order="F"))
    np.testing.assert_array_equal(
        theirs.cell_data["ACTNUM"], grid.actnum[:, :, flip].ravel(order="F")
    )
    hidden = theirs.cell_data["vtkGhostType"] != 0
    np.testing.assert_array_equal(hidden, grid.actnum[:, :, flip].ravel(order="F") == 0)
    theirs.cell_data.remove("vtkGhostType")
    volumes = theirs.compute_cell_sizes().cell_data["Volume"]
    if areal_handedness(grid.coord) > 0:  # j anticlockwise of i: positively oriented cells
        assert (volumes > 0).all()
    np.testing.assert_allclose(
        np.abs(volumes), cell_volumes(grid)[:, :, flip].ravel(order="F"), rtol=1e-9
    )


def test_to_pyvista_matches_pyvista_reading_our_grdecl(tmp_path):
    grid = planar_grid(rotation=15.0, fault_throw=4.0)
    write_grdecl(tmp_path / "g.grdecl", grid)
    theirs = pv.read(tmp_path / "g.grdecl")
    ours = to_pyvista(grid)
    np.testing.assert_allclose(ours.points, theirs.points, rtol=1e-12)
    np.testing.assert_array_equal(ours.cell_data["PORO"], theirs.cell_data["PORO"])


def test_to_pyvista_refuses_huge_grids_unless_forced():
    grid = CornerPointArrays.box((10, 10, 10))
    with pytest.raises(ValueError, match="1000 cells exceed max_cells=999"):
        to_pyvista(grid, max_cells=999)
    assert to_pyvista(grid, max_cells=999, force=True).n_cells == 1000
