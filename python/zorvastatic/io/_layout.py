"""Conversions between the engine's corner layout and the layouts of the peer formats.

Engine: ``zcorn[k, j, i, n]`` with corner ``n = 4*bottom + 2*dj + di`` (top face first, i fastest);
``coord[pj, pi]`` six values per pillar.

GRDECL/EGRID: ZCORN is one flat run, k outermost; inside a layer the top face then the bottom face;
inside a face the rows j with their near (dj=0) then far (dj=1) corners; inside those the cells i
with their left (di=0) then right (di=1) corners. COORD is the engine's coord flattened.

xtgeo: ``coordsv[pi, pj]`` and ``zcornsv[pi, pj, kb, s]`` with one depth per layer boundary ``kb``
and per sub-corner ``s`` = SW, SE, NW, NE: the corner at that node of the cell lying south-west,
south-east, north-west, north-east of the node.
"""

from __future__ import annotations

from collections.abc import Iterator

import numpy as np

# Engine corner of each VTK hexahedron point: each face walked round, top face first.
VTK_HEXAHEDRON = (0, 1, 3, 2, 4, 5, 7, 6)


def grdecl_layer(zlayer: np.ndarray) -> np.ndarray:
    """One k-layer ``(nj, ni, 8)`` of engine corners in GRDECL order, flat.

    Examples
    --------
    >>> import numpy as np
    >>> from zorvastatic.io._layout import grdecl_layer
    >>> grdecl_layer(np.arange(8.0).reshape(1, 1, 8)).tolist()
    [0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0]
    """
    nj, ni, _ = zlayer.shape
    return zlayer.reshape(nj, ni, 2, 2, 2).transpose(2, 0, 3, 1, 4).reshape(-1)


FACE_BLOCK = 1 << 17  # corner depths per piece of a layer converted at a time


def grdecl_face_blocks(
    zlayer: np.ndarray, block: int | None = None
) -> Iterator[tuple[int, np.ndarray]]:
    """`grdecl_layer` in pieces of about ``block`` values (default `FACE_BLOCK`): ``(face, values)``
    with face 0 the top, 1 the bottom.

    The pieces, concatenated, are the layer in GRDECL order; each is a few rows of one face, so
    a large layer is never copied whole.

    Examples
    --------
    >>> import numpy as np
    >>> from zorvastatic.io._layout import grdecl_face_blocks, grdecl_layer
    >>> z = np.random.default_rng(2).random((5, 3, 8))
    >>> pieces = list(grdecl_face_blocks(z, block=20))
    >>> joined = np.concatenate([v for _, v in pieces])
    >>> [face for face, _ in pieces], bool((joined == grdecl_layer(z)).all())
    ([0, 0, 0, 0, 0, 1, 1, 1, 1, 1], True)
    """
    nj, ni, _ = zlayer.shape
    rows = max(1, (block or FACE_BLOCK) // (4 * ni))
    for face in (0, 1):
        for j in range(0, nj, rows):
            part = np.asarray(zlayer[j : j + rows, :, 4 * face : 4 * face + 4])
            yield face, part.reshape(-1, ni, 2, 2).transpose(0, 2, 1, 3).reshape(-1)


def zcorn_from_grdecl(flat: np.ndarray, dims: tuple[int, int, int]) -> np.ndarray:
    """Engine corners ``(nk, nj, ni, 8)`` from a flat GRDECL/EGRID ZCORN run.

    Examples
    --------
    >>> import numpy as np
    >>> from zorvastatic.io._layout import grdecl_layer, zcorn_from_grdecl
    >>> z = np.random.default_rng(1).random((2, 3, 4, 8))
    >>> flat = np.concatenate([grdecl_layer(z[k]) for k in range(2)])
    >>> bool(np.array_equal(zcorn_from_grdecl(flat, (4, 3, 2)), z))
    True
    """
    ni, nj, nk = dims
    z = np.asarray(flat).reshape(nk, 2, nj, 2, ni, 2).transpose(0, 2, 4, 1, 3, 5)
    return np.ascontiguousarray(z).reshape(nk, nj, ni, 8)


def coord_to_xtgeo(coord: np.ndarray) -> np.ndarray:
    """xtgeo's ``coordsv`` ``(ni+1, nj+1, 6)`` float64 from the engine's coord."""
    return np.ascontiguousarray(np.swapaxes(coord, 0, 1), dtype=np.float64)


def coord_from_xtgeo(coordsv: np.ndarray) -> np.ndarray:
    """The engine's coord ``(nj+1, ni+1, 6)`` float64 from xtgeo's ``coordsv``."""
    return np.ascontiguousarray(np.swapaxes(np.asarray(coordsv), 0, 1), dtype=np.float64)


def zcorn_to_xtgeo(zcorn: np.ndarray) -> tuple[np.ndarray, int]:
    """xtgeo's ``zcornsv`` ``(ni+1, nj+1, nk+1, 4)`` float32 from engine corners.

    xtgeo keeps one depth per layer boundary: boundary k < nk takes the top of layer k, boundary nk
    the bottom of the last layer. Returns the array and the number of cell corners whose bottom
    differs from the top of the layer below (by more than 1 mm), which that layout cannot hold.
    Sub-corners outside the grid repeat their neighbour inside, as xtgeo fills them.
    """
    nk, nj, ni, _ = zcorn.shape
    out = np.empty((ni + 1, nj + 1, nk + 1, 4), dtype=np.float32)
    gaps = 0
    # Sub-corner s of node (pi, pj) and the cell corner n it comes from: the cell lies SW of node
    # (i+1, j+1), SE of (i, j+1), NW of (i+1, j) and NE of (i, j).
    placements = ((0, 1, 1, 3), (1, 0, 1, 2), (2, 1, 0, 1), (3, 0, 0, 0))  # (s, di, dj, n)
    for kb in range(nk + 1):
        layer = zcorn[min(kb, nk - 1)]
        face = np.asarray(layer[..., 4:] if kb == nk else layer[..., :4])
        if 0 < kb < nk:
            above = np.asarray(zcorn[kb - 1][..., 4:])
            gaps += int(np.count_nonzero(np.abs(above - face) > 1e-3))
        for s, di, dj, n in placements:
            out[di : di + ni, dj : dj + nj, kb, s] = face[:, :, n].T
        _fill_outer_subcorners(out[:, :, kb, :])
    return out, gaps


def _fill_outer_subcorners(z: np.ndarray) -> None:
    """Sub-corners with no cell behind them repeat the nearest one that has (xtgeo's own fill)."""
    nx, ny = z.shape[0] - 1, z.shape[1] - 1
    z[1:nx, 0, 0], z[1:nx, 0, 1] = z[1:nx, 0, 2], z[1:nx, 0, 3]
    z[1:nx, ny, 2], z[1:nx, ny, 3] = z[1:nx, ny, 0], z[1:nx, ny, 1]
    z[0, 1:ny, 0], z[0, 1:ny, 2] = z[0, 1:ny, 1], z[0, 1:ny, 3]
    z[nx, 1:ny, 1], z[nx, 1:ny, 3] = z[nx, 1:ny, 0], z[nx, 1:ny, 2]
    z[0, 0, :3] = z[0, 0, 3]
    z[nx, 0, [0, 1, 3]] = z[nx, 0, 2]
    z[0, ny, [0, 2, 3]] = z[0, ny, 1]
    z[nx, ny, 1:] = z[nx, ny, 0]


def zcorn_from_xtgeo(zcornsv: np.ndarray) -> np.ndarray:
    """Engine corners ``(nk, nj, ni, 8)`` float64 from xtgeo's ``zcornsv``.

    Examples
    --------
    >>> from zorvastatic.io import CornerPointArrays
    >>> from zorvastatic.io._layout import zcorn_from_xtgeo, zcorn_to_xtgeo
    >>> z = CornerPointArrays.box((3, 2, 2), top=1000.0).zcorn
    >>> zcornsv, gaps = zcorn_to_xtgeo(z)
    >>> bool((zcorn_from_xtgeo(zcornsv) == z).all()), gaps
    (True, 0)
    """
    z = np.asarray(zcornsv, dtype=np.float64)
    ni, nj, nk = z.shape[0] - 1, z.shape[1] - 1, z.shape[2] - 1
    out = np.empty((nk, nj, ni, 8))
    # Corner (dj, di) of cell (i, j) is sub-corner NE, NW, SE, SW of node (i+di, j+dj).
    for di, dj, s in ((0, 0, 3), (1, 0, 2), (0, 1, 1), (1, 1, 0)):
        node = z[di : di + ni, dj : dj + nj, :, s]  # (ni, nj, nk+1)
        side = node.transpose(2, 1, 0)  # (nk+1, nj, ni)
        out[..., 2 * dj + di] = side[:nk]
        out[..., 4 + 2 * dj + di] = side[1:]
    return out


def corner_points(coord: np.ndarray, zlayer: np.ndarray) -> np.ndarray:
    """World ``x, y, depth`` of every corner of one k-layer: ``(nj, ni, 8, 3)`` float64.

    Each depth is placed on its pillar's straight line, extrapolating beyond the pillar's ends; a
    pillar without vertical extent places every corner at its top ``x, y``.

    Examples
    --------
    >>> import numpy as np
    >>> from zorvastatic.io._layout import corner_points
    >>> coord = np.zeros((2, 2, 6))
    >>> coord[..., 2], coord[..., 5] = 1000.0, 2000.0
    >>> coord[:, :, 3] += 100.0  # every pillar leans 100 m east over 1000 m
    >>> z = np.full((1, 1, 8), 2500.0)
    >>> corner_points(coord, z)[0, 0, 0].tolist()  # below the pillar's bottom
    [150.0, 0.0, 2500.0]
    """
    nj, ni, _ = zlayer.shape
    z = np.asarray(zlayer, dtype=np.float64)
    out = np.empty((nj, ni, 8, 3))
    out[..., 2] = z
    for n in range(4):
        di, dj = n % 2, n // 2
        pillar = coord[dj : dj + nj, di : di + ni]  # (nj, ni, 6)
        top, bottom = pillar[..., :3], pillar[..., 3:]
        span = bottom[..., 2] - top[..., 2]
        flat = np.abs(span) < np.finfo(np.float64).eps
        for corner in (n, n + 4):
            with np.errstate(divide="ignore", invalid="ignore"):
                t = (z[..., corner] - top[..., 2]) / np.where(flat, 1.0, span)
            for axis in (0, 1):
                along = top[..., axis] + (bottom[..., axis] - top[..., axis]) * t
                out[..., corner, axis] = np.where(flat, top[..., axis], along)
    return out


def areal_handedness(coord: np.ndarray) -> float:
    """Sign of the turn from the i axis to the j axis in the map (+1 anticlockwise, -1 clockwise).

    Examples
    --------
    >>> from zorvastatic.io import CornerPointArrays
    >>> from zorvastatic.io._layout import areal_handedness
    >>> areal_handedness(CornerPointArrays.box((2, 2, 1)).coord)
    1.0
    """
    top = coord[..., :2]
    along_i = top[0, -1] - top[0, 0]
    along_j = top[-1, 0] - top[0, 0]
    cross = along_i[0] * along_j[1] - along_i[1] * along_j[0]
    return 1.0 if cross >= 0 else -1.0


def layer_values(values: np.ndarray, k: int) -> np.ndarray:
    """Cell values of layer k from an ``[i, j, k]`` cube, flat with i fastest."""
    return np.ascontiguousarray(values[:, :, k].T).reshape(-1)
