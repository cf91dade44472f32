"""Top surfaces solved from a few scattered wells on lattices too wide for the banded solve."""

import math

import numpy as np

import zorvastatic as zv


def wells_only(lat, count, seed):
    """A depth map known only at `count` random nodes: a tilted plane with a bump."""
    rng = np.random.default_rng(seed)
    depth = np.full((lat.ncol, lat.nrow), np.nan)
    i = rng.integers(0, lat.ncol, count)
    j = rng.integers(0, lat.nrow, count)
    depth[i, j] = (
        2000.0 + 0.05 * i - 0.03 * j + 8.0 * np.exp(-((i - 150) ** 2 + (j - 120) ** 2) / 2e3)
    )
    return depth


def test_a_top_from_fifty_wells_on_301_by_301_nodes_builds():
    lat = zv.Lattice(ncol=301, nrow=301, xinc=30.0, yinc=30.0)
    spec = zv.ModelSpec(
        lat,
        [
            zv.Horizon("Top", zv.Surface(lat, wells_only(lat, 50, 7))),
            zv.Horizon("Base", zv.Surface(lat, np.full((301, 301), 2200.0))),
        ],
        [zv.Zone("Z", zv.Proportional(2), zv.Contacts(owc=2100.0))],
    )
    model = zv.build(spec)
    assert model.dims == (300, 300, 2)
    (zone,) = model.in_place_by_zone()
    # Rock above the contact: about 100 m under 9 km x 9 km, give or take the relief of the top.
    assert math.isfinite(zone.grv_m3)
    assert 0.9 * 9000.0**2 * 100.0 < zone.grv_m3 < 1.1 * 9000.0**2 * 100.0


def free_edge_stencil(z):
    """The 13-tap minimum-curvature stencil at every node, the lattice extended by two nodes on
    each side by linear extrapolation (along the first axis, then the second)."""
    for axis in (0, 1):
        z = np.moveaxis(z, axis, 0)
        before = np.stack([3 * z[0] - 2 * z[1], 2 * z[0] - z[1]])
        after = np.stack([2 * z[-1] - z[-2], 3 * z[-1] - 2 * z[-2]])
        z = np.moveaxis(np.concatenate([before, z, after]), 0, axis)
    c = z[2:-2, 2:-2]

    def tap(di, dj):
        return z[2 + di : z.shape[0] - 2 + di, 2 + dj : z.shape[1] - 2 + dj]

    axis = tap(0, 1) + tap(0, -1) + tap(1, 0) + tap(-1, 0)
    diagonal = tap(1, 1) + tap(-1, 1) + tap(1, -1) + tap(-1, -1)
    far = tap(0, 2) + tap(0, -2) + tap(2, 0) + tap(-2, 0)
    return 16 * c - 6.25 * axis + 1.5 * diagonal + 0.75 * far


def test_a_top_from_fifty_wells_on_1001_by_1001_nodes_meets_its_equations():
    # A 25 km map at 25 m: every free node satisfies the stencil, every well's node its depth.
    n = 1001
    lat = zv.Lattice(ncol=n, nrow=n, xinc=25.0, yinc=25.0)
    rng = np.random.default_rng(11)
    i, j = rng.integers(0, n, 50), rng.integers(0, n, 50)
    x, y = lat.node_xy(i, j)
    z = 2000.0 + 0.004 * x - 0.003 * y + 30.0 * np.exp(-((x - 9e3) ** 2 + (y - 15e3) ** 2) / 2e7)
    surface = zv.Surface.from_points(lat, x, y, z, "TOP", solve=True)
    values = np.asarray(surface.values)
    assert values.shape == (n, n)
    wells = np.zeros((n, n), bool)
    wells[i, j] = True
    np.testing.assert_allclose(values[i, j], z, rtol=0, atol=1e-9)
    residual = np.abs(free_edge_stencil(values))[~wells].max()
    assert residual < 1e-12 * np.abs(values).max()  # a micrometre off at one node: 8e-9
