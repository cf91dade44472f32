"""Layout conversions against xtgeo's own grids, and the arrays' checks."""

from __future__ import annotations

import numpy as np
import pytest

from io_grids import GRIDS, planar_grid
from zorvastatic.io import CornerPointArrays, from_xtgeo, to_xtgeo
from zorvastatic.io._layout import (
    corner_points,
    grdecl_layer,
    zcorn_from_grdecl,
    zcorn_from_xtgeo,
    zcorn_to_xtgeo,
)

xtgeo = pytest.importorskip("xtgeo")


def xtgeo_box():
    box = xtgeo.create_box_grid(
        (5, 4, 6),
        increment=(40.0, 25.0, 3.0),
        origin=(430_000.0, 6_700_000.0, 1800.0),
        rotation=35.0,
    )
    box._actnumsv[3, 1, 2] = 0
    box.subgrids = {"TOP": range(1, 3), "BASE": range(3, 7)}
    box.append_prop(
        xtgeo.GridProperty(box, values=np.linspace(0.1, 0.3, 120).reshape(5, 4, 6), name="PORO")
    )
    return box


@pytest.mark.parametrize("name", sorted(GRIDS))
def test_corners_agree_with_xtgeo(name):
    grid = planar_grid(**GRIDS[name])
    theirs = to_xtgeo(grid)
    ni, nj, nk = grid.dims
    for i, j, k in [(0, 0, 0), (ni - 1, nj - 1, nk - 1), (2, 3, 1), (4, 1, 3)]:
        expected = np.array(
            theirs.get_xyz_cell_corners((i, j, k), activeonly=False, zerobased=True)
        )
        ours = corner_points(grid.coord, grid.zcorn[k])[j, i]
        np.testing.assert_allclose(ours, expected.reshape(8, 3), rtol=0, atol=2e-4)


def test_an_xtgeo_grid_goes_there_and_back_unchanged():
    box = xtgeo_box()
    arrays = from_xtgeo(box)
    assert arrays.zones == (("TOP", 0, 2), ("BASE", 2, 6))
    assert arrays.actnum[3, 1, 2] == 0 and arrays.actnum.sum() == 119
    np.testing.assert_array_equal(
        arrays.properties["PORO"][arrays.actnum == 1], box.props[0].values.compressed()
    )
    again = to_xtgeo(arrays)
    np.testing.assert_array_equal(again._coordsv, box._coordsv)
    np.testing.assert_array_equal(again._zcornsv, box._zcornsv)
    np.testing.assert_array_equal(again._actnumsv, box._actnumsv)
    assert {k: list(v) for k, v in again.subgrids.items()} == {"TOP": [1, 2], "BASE": [3, 4, 5, 6]}
    np.testing.assert_array_equal(again.get_prop_by_name("PORO").values, box.props[0].values)


def test_node_layouts_round_trip_a_faulted_grid():
    grid = planar_grid(fault_throw=6.0)
    nodes, gaps = zcorn_to_xtgeo(grid.zcorn)
    assert gaps == 0
    np.testing.assert_array_equal(zcorn_from_xtgeo(nodes), grid.zcorn.astype(np.float32))


def test_grdecl_layout_round_trips_and_runs_k_outermost():
    z = np.random.default_rng(7).random((3, 4, 5, 8))
    flat = np.concatenate([grdecl_layer(z[k]) for k in range(3)])
    np.testing.assert_array_equal(zcorn_from_grdecl(flat, (5, 4, 3)), z)
    # The first two values are the near top corners of cell (0, 0, 0); the next two those of
    # (1, 0, 0).
    assert flat[:4].tolist() == [z[0, 0, 0, 0], z[0, 0, 0, 1], z[0, 0, 1, 0], z[0, 0, 1, 1]]
    # After the first row's near corners come its far corners.
    assert flat[10] == z[0, 0, 0, 2]


@pytest.mark.parametrize(
    ("change", "error", "message"),
    [
        ({"coord": np.zeros((3, 3, 6))}, ValueError, r"coord must have shape \(3, 4, 6\)"),
        (
            {"zcorn": np.zeros((2, 2, 3, 8), dtype=np.int64)},
            ValueError,
            "zcorn must have dtype f8 or f4",
        ),
        ({"actnum": np.ones((3, 2, 2), dtype=np.int64)}, ValueError, "actnum must have dtype i4"),
        ({"actnum": [[1]]}, TypeError, "actnum must be a numpy array"),
        (
            {"properties": {"PORO": np.zeros((2, 3, 2))}},
            ValueError,
            r"property 'PORO' must have shape",
        ),
        (
            {"zones": [("A", 0, 3)]},
            ValueError,
            r"zone 'A' covers layers \[0, 3\), outside \[0, 2\)",
        ),
        ({"dims": (3, 0, 2)}, ValueError, r"dims must be positive, got \(3, 0, 2\)"),
    ],
)
def test_arrays_of_the_wrong_shape_or_type_are_refused(change, error, message):
    box = CornerPointArrays.box((3, 2, 2))
    fields = {"dims": box.dims, "coord": box.coord, "zcorn": box.zcorn, "actnum": box.actnum}
    with pytest.raises(error, match=message):
        CornerPointArrays(**{**fields, **change})
