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
