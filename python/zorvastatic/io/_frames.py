"""Map axes and length units of GRDECL and EGRID files, turned into world metres."""

from __future__ import annotations

import numpy as np

_METRES_PER_UNIT = {"METRES": 1.0, "METERS": 1.0, "FEET": 0.3048, "CM": 0.01}


def unit_factor(unit: str | None, source: str) -> float:
    """Metres per grid unit; a blank or missing unit means metres."""
    name = (unit or "METRES").strip().upper() or "METRES"
    if name not in _METRES_PER_UNIT:
        raise ValueError(f"{source} uses length unit {name!r}; known units are METRES, FEET, CM")
    return _METRES_PER_UNIT[name]


def world_from_file(
    coord: np.ndarray,
    zcorn: np.ndarray,
    mapaxes: np.ndarray | None,
    grid_unit: list[str],
    source: str,
    map_unit: str | None = None,
) -> tuple[np.ndarray, np.ndarray]:
    """World metres from a file's pillars and depths.

    Lengths are scaled from the grid unit to metres. When the file gives map axes and does not
    mark its coordinates as map-relative (second ``GRIDUNIT`` item ``MAP``), pillar ``x, y`` are
    local to those axes: ``world = origin + x * x_axis + y * y_axis`` with unit axes.
    """
    factor = unit_factor(grid_unit[0] if grid_unit else None, source)
    map_relative = len(grid_unit) > 1 and grid_unit[1].strip().upper() == "MAP"
    coord = np.array(coord, dtype=np.float64)
    zcorn = np.asarray(zcorn, dtype=np.float64)
    if factor != 1.0:
        coord *= factor
        zcorn = zcorn * factor
    if mapaxes is not None and not map_relative:
        if mapaxes.size != 6:
            raise ValueError(f"MAPAXES in {source} has {mapaxes.size} values, expected 6")
        axes = mapaxes.astype(np.float64) * unit_factor(
            map_unit or (grid_unit or [None])[0], source
        )
        y_point, origin, x_point = axes[0:2], axes[2:4], axes[4:6]
        x_axis, y_axis = x_point - origin, y_point - origin
        if np.linalg.norm(x_axis) == 0.0 or np.linalg.norm(y_axis) == 0.0:
            raise ValueError(f"MAPAXES in {source} has a zero-length axis")
        x_axis, y_axis = x_axis / np.linalg.norm(x_axis), y_axis / np.linalg.norm(y_axis)
        for at in (0, 3):
            x, y = coord[..., at].copy(), coord[..., at + 1].copy()
            coord[..., at] = origin[0] + x * x_axis[0] + y * y_axis[0]
            coord[..., at + 1] = origin[1] + x * x_axis[1] + y * y_axis[1]
    return coord, zcorn


_F4_EXACT = float(2**24)  # whole numbers below this are exact in float32
_F4_COARSE = 1.0e4  # beyond this a float32 coordinate is coarser than a millimetre


def local_origin(coord: np.ndarray) -> tuple[float, float] | None:
    """A whole-metre map origin at the grid's south-west corner, when world coordinates need one.

    Files that store coordinates as float32 (and readers that parse them so) resolve only about
    0.5 m at a northing of 6,000 km. Coordinates relative to this origin keep millimetre
    precision; the origin itself is exact in float32. None when the coordinates are small enough
    to be stored as they are.
    """
    corner = []
    for axis in (0, 1):
        low = float(min(coord[..., axis].min(), coord[..., axis + 3].min()))
        corner.append(float(np.floor(low)))
    largest = float(np.abs(coord[..., [0, 1, 3, 4]]).max())
    if largest < _F4_COARSE or max(abs(c) + 1.0 for c in corner) >= _F4_EXACT:
        return None
    return corner[0], corner[1]


def to_local(coord: np.ndarray, origin: tuple[float, float] | None) -> np.ndarray:
    """Pillars relative to ``origin`` (a copy); unchanged when there is none."""
    local = np.array(coord, dtype=np.float64)
    if origin is not None:
        local[..., [0, 3]] -= origin[0]
        local[..., [1, 4]] -= origin[1]
    return local


def mapaxes_values(origin: tuple[float, float]) -> list[float]:
    """MAPAXES for unit axes at ``origin``: a point on the y axis, the origin, a point on x."""
    ox, oy = origin
    return [ox, oy + 1.0, ox, oy, ox + 1.0, oy]
