"""ROFF: the tagged grid file of geomodelling tools, grid and properties in one file, via roffio."""

from __future__ import annotations

import math
import re
import warnings
from collections.abc import Iterable

import numpy as np

from ._arrays import CornerPointArrays
from ._files import (
    NaNCounter,
    PathLike,
    atomic_output,
    check_finite_geometry,
    require,
    select_properties,
)
from ._layout import zcorn_to_xtgeo

UNDEFINED = -999.0  # the format's stand-in for a missing float value
_F4_EXACT = 2**24
_NAME = re.compile(r"[^\s\"]+")


def write_roff(
    path: PathLike,
    grid: CornerPointArrays,
    properties: Iterable[str] | None = None,
    nan_value: float = UNDEFINED,
) -> None:
    """Write the grid and its properties as one binary ROFF file.

    The grid tags follow the layout geomodelling tools read: pillars (``cornerLines``) and node
    depths (``zvalues``) as float32 relative to a whole-metre offset near the grid (``translate``)
    so that world coordinates keep their precision, z negated (``scale``), k counted from the
    bottom, one depth per node where the four cells around it agree and four where a fault splits
    them; layer counts of the zones as ``subgrids``. Each property follows as a ``parameter`` tag
    (float32, or int32 for integer cubes). The format keeps one depth per layer boundary: a gap or
    overlap between a layer's bottom and the next layer's top is closed onto the lower layer's top,
    with a warning that counts the corners moved. The whole file is assembled in memory first.

    Parameters
    ----------
    path : str or os.PathLike
        Output file (``.roff``).
    grid : CornerPointArrays
        The grid.
    properties : iterable of str, optional
        Names of the properties to write; all of them when omitted.
    nan_value : float
        Written in place of NaN values (default -999, the format's undefined value); a
        `NaNWrittenWarning` counts them per property.

    Raises
    ------
    ImportError
        roffio is not installed.
    KeyError
        A requested property does not exist.
    ValueError
        A property name holds white space or quotes, a property holds an infinite value, or the
        geometry holds a non-finite value. Nothing is written.
    OSError
        The file cannot be created (the OS error, naming ``path``).

    Examples
    --------
    >>> import os, tempfile
    >>> import roffio
    >>> from zorvastatic.io import CornerPointArrays, write_roff
    >>> path = os.path.join(tempfile.mkdtemp(), "box.roff")
    >>> write_roff(path, CornerPointArrays.box((3, 2, 2), top=1000.0))
    >>> {key: int(n) for key, n in roffio.read(path)["dimensions"].items()}
    {'nX': 3, 'nY': 2, 'nZ': 2}
    """
    roffio = require("roffio", "io", "write_roff()")
    chosen = select_properties(grid, properties)
    for name, _ in chosen:
        if not _NAME.fullmatch(name):
            raise ValueError(f"ROFF cannot hold property name {name!r}: no white space or quotes")
    ni, nj, nk = grid.dims
    check_finite_geometry(grid.coord, None)
    for k in range(nk):
        check_finite_geometry(grid.coord, np.asarray(grid.zcorn[k]), k)
    offset = _offsets(grid)
    nodes, gaps = zcorn_to_xtgeo(grid.zcorn)  # (ni+1, nj+1, nk+1, 4), depth down
    if gaps:
        warnings.warn(
            f"ROFF keeps one depth per layer boundary: {gaps} cell corner(s) whose bottom differs "
            "from the top of the layer below by more than 1 mm were written at that top",
            UserWarning,
            stacklevel=2,
        )
    # Local z = -depth - zoffset, k from the bottom, cornerLines bottom point first.
    zlocal = (-nodes.astype(np.float64) - offset[2])[:, :, ::-1, :].astype(np.float32)
    split, zvalues = _split_nodes(zlocal)
    lines = np.swapaxes(np.asarray(grid.coord, dtype=np.float64), 0, 1).reshape(
        ni + 1, nj + 1, 2, 3
    )
    lines = lines[:, :, ::-1, :] * np.array([1.0, 1.0, -1.0]) - np.array(offset)
    active = np.asarray(grid.actnum)[:, :, ::-1] != 0
    tags: list[tuple[str, dict[str, object]]] = [
        ("filedata", {"filetype": "grid"}),
        ("dimensions", {"nX": ni, "nY": nj, "nZ": nk}),
        (
            "translate",
            {
                "xoffset": np.float32(offset[0]),
                "yoffset": np.float32(offset[1]),
                "zoffset": np.float32(offset[2]),
            },
        ),
        (
            "scale",
            {"xscale": np.float32(1.0), "yscale": np.float32(1.0), "zscale": np.float32(-1.0)},
        ),
    ]
    if grid.zones and _zones_cover(grid):
        tags.append(
            ("subgrids", {"nLayers": np.array([k1 - k0 for _, k0, k1 in grid.zones], np.int32)})
        )
    tags += [
        ("cornerLines", {"data": lines.reshape(-1).astype(np.float32)}),
        ("zvalues", {"splitEnz": split.tobytes(), "data": zvalues}),
        ("active", {"data": active.reshape(-1)}),
    ]
    counter = NaNCounter(nan_value, "ROFF")
    for name, values in chosen:
        cube = np.asarray(values)[:, :, ::-1]
        kind = np.int32 if cube.dtype.kind == "i" else np.float32
        data = counter.clean(name, np.ascontiguousarray(cube).reshape(-1)).astype(kind)
        tags.append(("parameter", {"name": name, "data": data}))
    with atomic_output(path) as out:
        roffio.write(out, tags, roff_format=roffio.Format.BINARY)
    counter.warn()


def _offsets(grid: CornerPointArrays) -> tuple[float, float, float]:
    """Whole-number offsets near the grid's minimum x, y and depth, exact in float32."""
    coord = np.asarray(grid.coord)
    result = []
    for axis in (0, 1):
        low = math.floor(float(min(coord[..., axis].min(), coord[..., axis + 3].min())))
        result.append(float(low) if abs(low) < _F4_EXACT else 0.0)
    shallowest = math.floor(float(min(np.min(grid.zcorn[k]) for k in range(grid.dims[2]))))
    result.append(float(-shallowest) if abs(shallowest) < _F4_EXACT else 0.0)
    return result[0], result[1], result[2]


def _split_nodes(zlocal: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """One value for a node whose four sub-corners agree, else all four (SW, SE, NW, NE)."""
    flat = zlocal.reshape(-1, 4)
    same = (flat == flat[:, :1]).all(axis=1)
    split = np.where(same, 1, 4).astype(np.uint8)
    starts = np.concatenate(([0], np.cumsum(split[:-1], dtype=np.int64)))
    data = np.empty(int(split.sum(dtype=np.int64)), dtype=np.float32)
    data[starts[same]] = flat[same, 0]
    four = starts[~same][:, None] + np.arange(4)
    data[four] = flat[~same]
    return split, data


def _zones_cover(grid: CornerPointArrays) -> bool:
    edges = [grid.zones[0][1]] + [k1 for _, _, k1 in grid.zones]
    starts = [k0 for _, k0, _ in grid.zones]
    return edges[0] == 0 and edges[-1] == grid.dims[2] and starts == edges[:-1]
