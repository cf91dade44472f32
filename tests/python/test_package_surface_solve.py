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
