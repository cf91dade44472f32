"""xtgeo: a ``Grid`` with ``GridProperty`` objects from the arrays, and the arrays from a Grid."""

from __future__ import annotations

import warnings
from collections.abc import Iterable
from typing import Any

import numpy as np

from ._arrays import CornerPointArrays
from ._files import require, select_properties
from ._layout import coord_from_xtgeo, coord_to_xtgeo, zcorn_from_xtgeo, zcorn_to_xtgeo


def to_xtgeo(grid: CornerPointArrays, properties: Iterable[str] | None = None) -> Any:
    """An ``xtgeo.Grid`` of the grid, its properties appended as ``xtgeo.GridProperty``.

    xtgeo keeps one depth per layer boundary (float32): a gap or overlap between a layer's bottom
    and the next layer's top is closed onto the lower layer's top, with a warning that counts the
    corners moved. Zones become xtgeo subgrids. Every xtgeo writer then applies (ROFF, GRDECL,
    EGRID, ...).

    Parameters
    ----------
    grid : CornerPointArrays
        The grid.
    properties : iterable of str, optional
        Names of the properties to append; all of them when omitted.

    Returns
    -------
    xtgeo.Grid
        With ``get_prop_by_name(name)`` giving each property (inactive cells masked).

    Raises
    ------
    ImportError
        xtgeo is not installed.
    KeyError
        A requested property does not exist.

    Examples
    --------
    >>> import numpy as np
    >>> from zorvastatic.io import CornerPointArrays, to_xtgeo
    >>> box = CornerPointArrays.box((4, 3, 2), increments=(10.0, 10.0, 1.0), top=1000.0)
    >>> grid = to_xtgeo(CornerPointArrays(box.dims, box.coord, box.zcorn, box.actnum,
    ...                                   {"PORO": np.full((4, 3, 2), 0.2)}))
    >>> grid.dimensions, float(grid.get_prop_by_name("PORO").values.max())
    (Dimensions(ncol=4, nrow=3, nlay=2), 0.2)
    """
    xtgeo = require("xtgeo", "xtgeo", "to_xtgeo()")
    chosen = select_properties(grid, properties)
    zcornsv, gaps = zcorn_to_xtgeo(grid.zcorn)
    if gaps:
        warnings.warn(
            f"xtgeo keeps one depth per layer boundary: {gaps} cell corner(s) whose bottom differs "
            "from the top of the layer below by more than 1 mm were moved to that top",
            UserWarning,
            stacklevel=2,
        )
    subgrids = {name: range(k0 + 1, k1 + 1) for name, k0, k1 in grid.zones} or None
    result = xtgeo.Grid(
        coordsv=coord_to_xtgeo(grid.coord),
        zcornsv=zcornsv,
        actnumsv=np.ascontiguousarray(grid.actnum, dtype=np.int32),
        subgrids=subgrids,
    )
    for name, values in chosen:
        discrete = np.asarray(values).dtype.kind == "i"
        cube = np.ascontiguousarray(values, dtype=np.int32 if discrete else np.float64)
        result.append_prop(xtgeo.GridProperty(result, values=cube, name=name, discrete=discrete))
    return result


def from_xtgeo(grid: Any, properties: Iterable[str] | None = None) -> CornerPointArrays:
    """The arrays of an ``xtgeo.Grid`` and of the properties it holds.

    Masked property values (inactive cells) become NaN for float properties, 0 for integer ones.

    Parameters
    ----------
    grid : xtgeo.Grid
        The grid, with its properties in ``grid.props`` (if any).
    properties : iterable of str, optional
        Names of the properties to take; all of them when omitted.

    Returns
    -------
    CornerPointArrays

    Examples
    --------
    >>> import xtgeo
    >>> from zorvastatic.io import from_xtgeo
    >>> box = xtgeo.create_box_grid(
    ...     (3, 2, 4), increment=(50.0, 50.0, 5.0), origin=(0.0, 0.0, 1500.0)
    ... )
    >>> arrays = from_xtgeo(box)
    >>> arrays.dims, float(arrays.zcorn[3, 0, 0, 4])
    ((3, 2, 4), 1520.0)
    """
    grid._set_xtgformat2()
    ni, nj, nk = (int(n) for n in grid.dimensions)
    wanted = None if properties is None else set(properties)
    cubes = {}
    for prop in grid.props or []:
        if wanted is not None and prop.name not in wanted:
            continue
        values = np.ma.asarray(prop.values)
        fill = 0 if values.dtype.kind == "i" else np.nan
        dtype = np.int32 if values.dtype.kind == "i" else np.float64
        cubes[prop.name] = np.asfortranarray(values.astype(dtype).filled(fill))
    if wanted is not None and wanted - set(cubes):
        raise KeyError(f"the xtgeo grid has no property {min(wanted - set(cubes))!r}")
    zones = []
    for name, layers in (grid.subgrids or {}).items():
        layers = list(layers)
        zones.append((name, int(layers[0]) - 1, int(layers[-1])))
    return CornerPointArrays(
        (ni, nj, nk),
        coord_from_xtgeo(grid._coordsv),
        zcorn_from_xtgeo(grid._zcornsv),
        np.asfortranarray(np.asarray(grid._actnumsv, dtype=np.int32).reshape(ni, nj, nk)),
        cubes,
        zones,
    )
