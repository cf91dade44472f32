"""A model's arrays as numpy: views of the engine's own memory where it holds the data.

Per-cell arrays are laid i fastest, then j, then k in the engine. They come out indexed
``[i, j, k]`` (shape ``(ni, nj, nk)``, a zero-copy transposed view), or in the engine's own
``(nk, nj, ni)`` order with ``layout="kji"``. Views are read-only and keep the memory they show
alive: they outlive `Model.close` and the model itself. A spilled model's views are float32 and
read straight from its store file, which then lives until the last view is gone.
"""

from __future__ import annotations

import os
import tempfile
from typing import Any

import numpy as np

from ._geom import Lattice
from .io import CornerPointArrays
from .io._layout import corner_points, zcorn_to_xtgeo

_PROPERTY_LAYOUTS = ("ijk", "kji")
_ZCORN_LAYOUTS = ("cells", "eclipse", "xtgeo")


def local_to_world(frame: Lattice | None, coord: np.ndarray) -> np.ndarray:
    """World pillars from pillars in a lattice's local frame (node ``(fi, fj)`` at
    ``(fi * xinc, fj * yinc)``); a copy, unchanged without a frame."""
    world = np.array(coord, dtype=np.float64)
    if frame is None:
        return world
    for at in (0, 3):
        x, y = frame.node_xy(world[..., at] / frame.xinc, world[..., at + 1] / frame.yinc)
        world[..., at], world[..., at + 1] = x, y
    return world


class ArraysMixin:
    """Array accessors of `Model` (see the module's notes on order and lifetime)."""

    raw: Any
    _dims: tuple[int, int, int]
    _frame: Lattice | None
    _integer_properties: frozenset[str] = frozenset()  # cubes read from a file as integers

    def property_names(self) -> list[str]:
        """Names of the model's property cubes, sorted.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().property_names()
        ['NTG', 'PORO', 'SW']
        """
        return list(self.raw.property_names())

    def property(self, name: str, layout: str = "ijk") -> np.ndarray:
        """A property cube as a read-only view of the engine's values.

        Parameters
        ----------
        name : str
            The cube, e.g. ``"PORO"``.
        layout : {"ijk", "kji"}
            ``"ijk"``: shape ``(ni, nj, nk)`` indexed ``[i, j, k]`` (F-contiguous); ``"kji"``:
            the engine's ``(nk, nj, ni)`` (C-contiguous). Both share the same memory.

        Returns
        -------
        numpy.ndarray
            float64, or float32 for a spilled model.

        Raises
        ------
        KeyError
            No cube of that name; the message lists the names.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> model = _example()
        >>> poro = model.property("PORO")
        >>> poro.shape, float(poro[1, 0, 1]), poro.flags.writeable
        ((2, 2, 2), 0.25, False)
        """
        if layout not in _PROPERTY_LAYOUTS:
            raise ValueError(f"layout must be one of {_PROPERTY_LAYOUTS}, got {layout!r}")
        cube = self.raw._cube(name)
        if cube is None:
            known = ", ".join(self.property_names()) or "none"
            raise KeyError(f"the model has no property {name!r}; it has: {known}")
        values = np.asarray(cube)
        return values if layout == "kji" else values.transpose(2, 1, 0)

    def zcorn(self, layout: str = "cells") -> np.ndarray:
        """Corner depths of every cell (depth positive down).

        Parameters
        ----------
        layout : {"cells", "eclipse", "xtgeo"}
            ``"cells"``: the engine's ``(nk, nj, ni, 8)`` read-only view, corners 0-3 the top
            face at pillars ``(i, j), (i+1, j), (i, j+1), (i+1, j+1)``, 4-7 the bottom face.
            ``"eclipse"``: a flat copy in GRDECL/EGRID ZCORN order. ``"xtgeo"``: a float32 copy
            ``(ni+1, nj+1, nk+1, 4)`` with one depth per layer boundary and sub-corner (SW, SE,
            NW, NE), as ``xtgeo.Grid(zcornsv=...)`` takes it.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> model = _example()
        >>> z = model.zcorn()
        >>> z.shape, float(z[1, 0, 0, 4]), model.zcorn("eclipse").shape
        ((2, 2, 2, 8), 2010.0, (64,))
        """
        if layout not in _ZCORN_LAYOUTS:
            raise ValueError(f"layout must be one of {_ZCORN_LAYOUTS}, got {layout!r}")
        z = np.asarray(self.raw._zcorn())
        if layout == "cells":
            return z
        if layout == "eclipse":
            nk, nj, ni, _ = z.shape
            flat = z.reshape(nk, nj, ni, 2, 2, 2).transpose(0, 3, 1, 4, 2, 5)
            return np.ascontiguousarray(flat).reshape(-1)
        return zcorn_to_xtgeo(z)[0]

    def coord(self, world: bool = True) -> np.ndarray:
        """The pillars ``(nj+1, ni+1, 6)``: top ``x, y, z`` then bottom ``x, y, z`` of pillar
        ``(pi, pj)`` at ``[pj, pi]``.

        Parameters
        ----------
        world : bool
            World coordinates (a copy; default), or the engine's own local frame (a read-only
            view), in which the lattice's node ``(fi, fj)`` lies at ``(fi * xinc, fj * yinc)``.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> model = _example()
        >>> model.coord().shape, model.coord(world=False)[1, 2, :2].tolist()
        ((3, 3, 6), [200.0, 100.0])
        """
        local = np.asarray(self.raw._coord())
        return local_to_world(self._frame, local) if world else local

    def cell_volumes(self) -> np.ndarray:
        """Bulk volume of every cell (m³) by the engine's one volume rule: ``(ni, nj, nk)``.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> float(_example().cell_volumes().sum())
        400000.0
        """
        return np.asarray(self.raw._cell_volumes()).transpose(2, 1, 0)

    def actnum(self) -> np.ndarray:
        """1 where a cell has a positive volume (the cells volumetrics can count), else 0:
        int32 ``(ni, nj, nk)``.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> int(_example().actnum().sum())
        8
        """
        ni, nj, nk = self._dims
        return self._fill_actnum(np.empty((nk, nj, ni), dtype=np.int32)).transpose(2, 1, 0)

    def _fill_actnum(self, out: np.ndarray) -> np.ndarray:
        """ACTNUM in the engine's order, a few million cells' volumes at a time."""
        nk, nj, ni = out.shape
        step = max(1, (1 << 22) // max(1, ni * nj))
        for k in range(0, nk, step):
            volumes = np.asarray(self.raw._cell_volumes(k, min(nk, k + step)))
            out[k : k + step] = volumes > 0
        return out

    def _actnum_for_writers(self) -> np.ndarray:
        """`actnum`, held in an unnamed file beside the store for a spilled model, so that
        writing its files keeps no per-cell array in the process's own memory."""
        store = getattr(self, "_store_path", None)
        if store is None:
            return self.actnum()
        ni, nj, nk = self._dims
        with tempfile.TemporaryFile(dir=os.path.dirname(store)) as backing:
            on_disk = np.memmap(backing, dtype=np.int32, mode="w+", shape=(nk, nj, ni))
        return self._fill_actnum(on_disk).transpose(2, 1, 0)

    def cell_centers(self) -> np.ndarray:
        """World ``x, y`` and depth of every cell's centre, the mean of its eight corners:
        ``(ni, nj, nk, 3)``.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().cell_centers()[1, 0, 1].tolist()
        [150.0, 50.0, 2007.5]
        """
        ni, nj, nk = self._dims
        coord = self.coord()
        z = np.asarray(self.raw._zcorn())
        out = np.empty((nk, nj, ni, 3))
        for k in range(nk):
            out[k] = corner_points(coord, z[k]).mean(axis=2)
        return out.transpose(2, 1, 0, 3)

    def _arrays(self, properties: Any = None) -> CornerPointArrays:
        """The grid as the file layer takes it: world pillars, the engine's corners (a view),
        `actnum`, properties as views (region and other integer cubes of a grid read from a
        file go back to integers), the zones."""
        names = self.property_names() if properties is None else properties
        if isinstance(names, str):
            names = [names]
        cubes = {
            name: self.property(name).astype(np.int32)
            if name in self._integer_properties
            else self.property(name)
            for name in names
        }
        zones = [(z.name, z.k_start, z.k_end) for z in getattr(self, "zones", ())]
        return CornerPointArrays(
            self._dims,
            self.coord(),
            np.asarray(self.raw._zcorn()),
            self._actnum_for_writers(),
            cubes,
            zones,
        )
