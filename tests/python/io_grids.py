"""Test grids for the file tests, built in numpy, and the cell-volume rule to check volumes by."""

from __future__ import annotations

import numpy as np

from zorvastatic.io import CornerPointArrays
from zorvastatic.io._layout import corner_points

# Ring of the six tetrahedra around the diagonal from corner 0 to corner 7.
_RING = ((1, 3), (3, 2), (2, 6), (6, 4), (4, 5), (5, 1))


def cell_volumes(grid: CornerPointArrays) -> np.ndarray:
    """Six-tetrahedra volume of every cell, ``(ni, nj, nk)``: exact for planar faces."""
    ni, nj, nk = grid.dims
    out = np.empty((nk, nj, ni))
    for k in range(nk):
        c = corner_points(grid.coord, np.asarray(grid.zcorn[k], dtype=np.float64))
        d0 = c[..., 0, :] - c[..., 7, :]
        total = np.zeros((nj, ni))
        for a, b in _RING:
            cross = np.cross(c[..., a, :] - c[..., 7, :], c[..., b, :] - c[..., 7, :])
            total += np.einsum("...i,...i->...", d0, cross) / 6.0
        out[k] = np.abs(total)
    return out.transpose(2, 1, 0)


def planar_grid(
    dims=(6, 5, 4),
    rotation=0.0,
    lean=(0.0, 0.0),
    dip=(0.02, -0.01),
    origin=(456_000.0, 6_780_000.0),
    inactive=((1, 2, 0), (5, 4, 3)),
    fault_throw=0.0,
    yflip=False,
) -> CornerPointArrays:
    """Layers on dipping planes over a rotated lattice; every cell face is planar.

    ``lean`` tilts every pillar by the same horizontal offset per metre of depth (parallel
    pillars keep faces planar); ``fault_throw`` drops the cells with ``i >= ni // 2`` (a vertical
    fault along a pillar row); ``yflip`` turns the j axis clockwise of the i axis.
    """
    ni, nj, nk = dims
    box = CornerPointArrays.box(
        dims, increments=(50.0, 40.0, 1.0), origin=origin, rotation=rotation
    )
    coord = box.coord.copy()
    if yflip:
        coord = coord[::-1].copy()
    top, thickness = 2000.0, 8.0
    # Node depths on planes in lattice coordinates, one plane per layer boundary.
    pj, pi = np.mgrid[0 : nj + 1, 0 : ni + 1].astype(np.float64)
    boundaries = np.stack(
        [top + dip[0] * 50.0 * pi + dip[1] * 40.0 * pj + thickness * kb for kb in range(nk + 1)]
    )  # (nk+1, nj+1, ni+1)
    ztop, zbottom = top - 100.0, top + thickness * nk + 200.0
    coord[..., 2], coord[..., 5] = ztop, zbottom
    coord[..., 3] = coord[..., 0] + lean[0] * (zbottom - ztop)
    coord[..., 4] = coord[..., 1] + lean[1] * (zbottom - ztop)
    zcorn = np.empty((nk, nj, ni, 8))
    for n in range(4):
        di, dj = n % 2, n // 2
        zcorn[..., n] = boundaries[:-1, dj : dj + nj, di : di + ni]
        zcorn[..., n + 4] = boundaries[1:, dj : dj + nj, di : di + ni]
    zcorn[:, :, ni // 2 :, :] += fault_throw
    actnum = np.ones((ni, nj, nk), dtype=np.int32, order="F")
    for i, j, k in inactive:
        if i < ni and j < nj and k < nk:
            actnum[i, j, k] = 0
    rng = np.random.default_rng(sum(dims))
    properties = {
        "PORO": np.asfortranarray(rng.uniform(0.05, 0.35, (ni, nj, nk))),
        "NTG": np.asfortranarray(rng.uniform(0.4, 1.0, (ni, nj, nk))),
        "SW": np.asfortranarray(rng.uniform(0.1, 0.9, (ni, nj, nk)).astype(np.float32)),
    }
    zones = (("UPPER", 0, nk // 2), ("LOWER", nk // 2, nk)) if nk > 1 else (("ALL", 0, nk),)
    return CornerPointArrays(dims, coord, zcorn, actnum, properties, zones)


# The grids every file is checked on: name -> keyword arguments of planar_grid.
GRIDS = {
    "dipping": {},
    "rotated": {"rotation": 30.0},
    "leaning": {"rotation": -20.0, "lean": (0.3, -0.2)},
    "yflip": {"rotation": 10.0, "yflip": True},
    "faulted": {"fault_throw": 7.5},
}
