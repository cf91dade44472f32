"""Lattices and surfaces of the zorvastatic package, against xtgeo where it is the oracle."""

import pickle
import warnings

import numpy as np
import pytest

import zorvastatic as zv

xtgeo = pytest.importorskip("xtgeo")

FRAMES = [(rotation, yflip) for rotation in (0.0, 30.0, -115.5) for yflip in (False, True)]


def lattice(rotation=0.0, yflip=False, **changes):
    fields = dict(ncol=7, nrow=5, xori=456_000.0, yori=6_780_000.0, xinc=25.0, yinc=40.0)
    fields.update(changes)
    return zv.Lattice(rotation=rotation, yflip=yflip, **fields)


@pytest.mark.parametrize(("rotation", "yflip"), FRAMES)
def test_node_positions_match_xtgeo_and_invert(rotation, yflip):
    lat = lattice(rotation, yflip)
    oracle = xtgeo.RegularSurface(
        ncol=lat.ncol,
        nrow=lat.nrow,
        xori=lat.xori,
        yori=lat.yori,
        xinc=lat.xinc,
        yinc=lat.yinc,
        rotation=rotation,
        yflip=-1 if yflip else 1,
        values=0.0,
    )
    ox, oy = oracle.get_xy_values()
    x, y = lat.node_coordinates()
    np.testing.assert_allclose(x, ox, rtol=0, atol=1e-6)
    np.testing.assert_allclose(y, oy, rtol=0, atol=1e-6)
    fi, fj = lat.xy_to_ij(x, y)
    i, j = np.meshgrid(np.arange(lat.ncol), np.arange(lat.nrow), indexing="ij")
    np.testing.assert_allclose(fi, i, atol=1e-9)
    np.testing.assert_allclose(fj, j, atol=1e-9)


@pytest.mark.parametrize(("rotation", "yflip"), FRAMES)
def test_xtgeo_surface_round_trips(rotation, yflip):
    values = np.ma.masked_invalid(np.arange(35, dtype=np.float64).reshape(7, 5) * 1.5 + 1700.0)
    values[2, 3] = np.ma.masked
    original = xtgeo.RegularSurface(
        ncol=7,
        nrow=5,
        xori=1000.0,
        yori=2000.0,
        xinc=12.5,
        yinc=30.0,
        rotation=rotation,
        yflip=-1 if yflip else 1,
        values=values,
        name="TopA",
    )
    ours = zv.Surface.from_xtgeo(original)
    assert ours.name == "TopA"
    assert np.isnan(ours.values[2, 3]) and ours.defined == 34
    back = ours.to_xtgeo()
    for key in ("ncol", "nrow", "xori", "yori", "xinc", "yinc", "rotation", "yflip"):
        assert getattr(back, key) == getattr(original, key), key
    np.testing.assert_array_equal(back.values.mask, original.values.mask)
    np.testing.assert_array_equal(back.values.filled(0.0), original.values.filled(0.0))
    np.testing.assert_allclose(back.get_xy_values()[0], original.get_xy_values()[0])


def test_surface_values_are_copied_read_only_and_pickle():
    lat = lattice()
    source = np.full(lat.shape, 2000.0)
    surface = zv.Surface(lat, source, "Top")
    source[0, 0] = -1.0
    assert surface.values[0, 0] == 2000.0
    with pytest.raises(ValueError, match="read-only"):
        surface.values[0, 0] = 1.0
    again = pickle.loads(pickle.dumps(surface))
    assert again == surface and again is not surface
    assert not again.values.flags.writeable
    assert zv.Surface(lat, np.full(lat.shape, np.nan)) == zv.Surface(
        lat, np.full(lat.shape, np.nan)
    )
    assert surface != zv.Surface(lat, np.full(lat.shape, 2000.5), "Top")


def test_points_land_on_nearest_nodes_and_share_by_averaging():
    lat = lattice(30.0, True)
    x, y = lat.node_xy([1.2, 4.0, 3.9, 6.0], [0.4, 2.0, 2.3, 4.0])
    with pytest.warns(zv.InputWarning, match="2 points of 'B' share a node"):
        surface = zv.Surface.from_points(lat, x, y, [1000.0, 1010.0, 1020.0, 1030.0], "B")
    assert surface.defined == 3
    assert surface.values[1, 0] == 1000.0
    assert surface.values[4, 2] == 1015.0
    assert surface.values[6, 4] == 1030.0

    far_x, far_y = lat.node_xy([8.0, 1.0], [1.0, -0.4])  # the second snaps to node (1, 0)
    with pytest.raises(ValueError, match=r"1 points of 'B' fall outside the lattice; first at"):
        zv.Surface.from_points(lat, far_x, far_y, [1.0, 2.0], "B")
    kept = zv.Surface.from_points(lat, far_x[1:], far_y[1:], [2.0], "B", outside="drop")
    assert kept.defined == 1


def test_solved_surface_reproduces_a_plane_through_scattered_nodes():
    lat = lattice(-115.5, False)
    i, j = np.meshgrid(np.arange(lat.ncol), np.arange(lat.nrow), indexing="ij")
    plane = 1800.0 + 2.5 * i - 1.25 * j
    holes = plane.copy()
    holes[1:-1, 1:-1] = np.nan
    holes[3, 2] = plane[3, 2]
    solved = zv.Surface(lat, holes).solved()
    np.testing.assert_allclose(solved.values, plane, atol=1e-6)
    tapered = zv.Surface(lat, holes).solved(zv.Taper(start=1.0, width=2.0))
    assert tapered.defined == lat.ncol * lat.nrow


@pytest.mark.parametrize(
    ("make", "message"),
    [
        (lambda: zv.Lattice(ncol=3, nrow=3, xinc=0.0), "Lattice.xinc must be > 0, got 0.0"),
        (
            lambda: zv.Lattice(ncol=3, nrow=3, yinc=float("nan")),
            "Lattice.yinc must be finite, got nan",
        ),
        (lambda: zv.Lattice(ncol=0, nrow=3), "Lattice.ncol must be >= 1, got 0"),
        (
            lambda: zv.Surface(lattice(), np.zeros((5, 7)), "Top"),
            r"Surface 'Top' values has shape \(5, 7\), expected \(7, 5\)",
        ),
        (
            lambda: zv.Surface(lattice(), np.where(np.eye(7, 5) > 0, np.inf, 1.0), "Top"),
            r"Surface 'Top' values\[0, 0\] is inf; values must be finite or NaN \(undefined\)",
        ),
    ],
)
def test_bad_geometry_is_refused_with_the_argument_named(make, message):
    with pytest.raises(ValueError, match=f"^{message}$"):
        make()


def test_masked_values_become_undefined():
    lat = zv.Lattice(ncol=2, nrow=2)
    masked = np.ma.masked_array([[1.0, 2.0], [3.0, 4.0]], mask=[[False, True], [False, False]])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        surface = zv.Surface(lat, masked)
    assert np.isnan(surface.values[0, 1]) and surface.defined == 3
