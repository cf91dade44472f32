"""The arrays every file writer and reader works on: one corner-point grid in the engine's
layout."""

from __future__ import annotations

import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field

import numpy as np

Zone = tuple[str, int, int]


@dataclass(frozen=True, eq=False)
class CornerPointArrays:
    """A corner-point grid with its cell properties, as plain numpy arrays.

    Parameters
    ----------
    dims : tuple of int
        ``(ni, nj, nk)`` cells.
    coord : numpy.ndarray
        ``(nj+1, ni+1, 6)`` float64: per pillar the top ``x, y, z`` then the bottom ``x, y, z``,
        world frame, depth positive down. Pillar ``(pi, pj)`` is ``coord[pj, pi]``.
    zcorn : numpy.ndarray
        ``(nk, nj, ni, 8)`` float64 or float32 corner depths, cell by cell (i fastest, then j, then
        k). Corners 0-3 are the top face at pillars ``(i, j), (i+1, j), (i, j+1), (i+1, j+1)``,
        corners 4-7 the bottom face in the same order. May be a read-only memory map: writers read
        it one k-layer at a time.
    actnum : numpy.ndarray
        ``(ni, nj, nk)`` int32, 1 for an active cell, 0 otherwise, indexed ``[i, j, k]``.
    properties : mapping of str to numpy.ndarray
        Cell values ``(ni, nj, nk)`` indexed ``[i, j, k]`` (float64, float32 or integer).
    zones : sequence of (name, k_start, k_end)
        Named layer ranges, ``k_start`` inclusive, ``k_end`` exclusive, top first.

    Examples
    --------
    >>> from zorvastatic.io import CornerPointArrays
    >>> grid = CornerPointArrays.box((4, 3, 2), increments=(100.0, 50.0, 10.0), top=2000.0)
    >>> grid.dims, grid.zcorn.shape, grid.coord.shape
    ((4, 3, 2), (2, 3, 4, 8), (4, 5, 6))
    >>> float(grid.zcorn[1, 0, 0, 4])  # bottom of layer 1
    2020.0
    """

    dims: tuple[int, int, int]
    coord: np.ndarray
    zcorn: np.ndarray
    actnum: np.ndarray
    properties: Mapping[str, np.ndarray] = field(default_factory=dict)
    zones: Sequence[Zone] = ()

    def __post_init__(self) -> None:
        ni, nj, nk = (int(n) for n in self.dims)
        if min(ni, nj, nk) < 1:
            raise ValueError(f"dims must be positive, got {tuple(self.dims)}")
        object.__setattr__(self, "dims", (ni, nj, nk))
        _check_array("coord", self.coord, (nj + 1, ni + 1, 6), ("f8",))
        _check_array("zcorn", self.zcorn, (nk, nj, ni, 8), ("f8", "f4"))
        _check_array("actnum", self.actnum, (ni, nj, nk), ("i4",))
        for name, values in self.properties.items():
            if not isinstance(name, str) or not name:
                raise ValueError(f"property names must be non-empty strings, got {name!r}")
            _check_array(f"property {name!r}", values, (ni, nj, nk), ("f8", "f4", "i4", "i8"))
        object.__setattr__(self, "properties", dict(self.properties))
        zones = tuple((str(name), int(k0), int(k1)) for name, k0, k1 in self.zones)
        for name, k0, k1 in zones:
            if not 0 <= k0 < k1 <= nk:
                raise ValueError(f"zone {name!r} covers layers [{k0}, {k1}), outside [0, {nk})")
        object.__setattr__(self, "zones", zones)

    @property
    def cell_count(self) -> int:
        """Number of cells, ``ni * nj * nk``.

        Examples
        --------
        >>> from zorvastatic.io import CornerPointArrays
        >>> CornerPointArrays.box((4, 3, 2)).cell_count
        24
        """
        ni, nj, nk = self.dims
        return ni * nj * nk

    @classmethod
    def box(
        cls,
        dims: tuple[int, int, int],
        increments: tuple[float, float, float] = (1.0, 1.0, 1.0),
        origin: tuple[float, float] = (0.0, 0.0),
        top: float = 0.0,
        rotation: float = 0.0,
    ) -> CornerPointArrays:
        """A regular block of vertical pillars and flat layers, all cells active.

        Parameters
        ----------
        dims : tuple of int
            ``(ni, nj, nk)`` cells.
        increments : tuple of float
            Cell sizes along i, j (metres, areal) and k (metres, depth).
        origin : tuple of float
            World ``x, y`` of pillar ``(0, 0)``.
        top : float
            Depth of the block's top.
        rotation : float
            Anticlockwise angle of the i axis from east, degrees.

        Returns
        -------
        CornerPointArrays

        Examples
        --------
        >>> from zorvastatic.io import CornerPointArrays
        >>> grid = CornerPointArrays.box((2, 2, 1), increments=(10.0, 10.0, 5.0), rotation=90.0)
        >>> [round(float(v), 6) for v in grid.coord[0, 1, :2]]  # pillar (1, 0) lies north
        [0.0, 10.0]
        """
        ni, nj, nk = dims
        dx, dy, dz = increments
        angle = math.radians(rotation)
        cos, sin = math.cos(angle), math.sin(angle)
        pj, pi = np.mgrid[0 : nj + 1, 0 : ni + 1].astype(np.float64)
        u, v = pi * dx, pj * dy
        x = origin[0] + u * cos - v * sin
        y = origin[1] + u * sin + v * cos
        coord = np.stack(
            [x, y, np.full_like(x, top), x, y, np.full_like(x, top + nk * dz)], axis=-1
        )
        tops = top + dz * np.arange(nk, dtype=np.float64)
        zcorn = np.empty((nk, nj, ni, 8))
        zcorn[..., :4] = tops[:, None, None, None]
        zcorn[..., 4:] = (tops + dz)[:, None, None, None]
        actnum = np.ones((ni, nj, nk), dtype=np.int32, order="F")
        return cls((ni, nj, nk), coord, zcorn, actnum)


def _check_array(what: str, array: object, shape: tuple[int, ...], dtypes: tuple[str, ...]) -> None:
    if not isinstance(array, np.ndarray):
        raise TypeError(f"{what} must be a numpy array, got {type(array).__name__}")
    if array.shape != shape:
        raise ValueError(f"{what} must have shape {shape}, got {array.shape}")
    if not any(array.dtype == np.dtype(d) for d in dtypes):
        raise ValueError(f"{what} must have dtype {' or '.join(dtypes)}, got {array.dtype}")
