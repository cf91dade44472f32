"""Models on grids made elsewhere: a GRDECL or EGRID file, or corner-point arrays."""

from __future__ import annotations

import math
from collections.abc import Iterable, Mapping, Sequence
from typing import Any

import numpy as np

import _zorvastatic

from ._geom import Lattice
from ._model import Model
from ._spec import Contacts
from .io import CornerPointArrays, read_arrays
from .io._files import PathLike

__all__ = ["model_from_arrays", "read_grid"]

_SINGLE_ZONE = "RESERVOIR"


def _nice(value: float) -> float:
    """The value at ten significant digits when that is within 1e-9 of it: increments and
    angles written with a few digits come back as written."""
    rounded = float(f"{value:.10g}")
    return rounded if abs(rounded - value) <= 1e-9 * max(abs(value), 1.0) else value


def fitted_frame(coord: np.ndarray) -> tuple[Lattice | None, bool]:
    """The lattice through the grid's corner pillars, and whether every pillar top stands on it
    (within 1e-6 of a spacing).

    Its origin is pillar (0, 0), its i axis runs to pillar (ni, 0), its j axis (taken square to
    the i axis) has the spacing of the first pillar column. None when an axis has no length.
    """
    nj, ni = coord.shape[0] - 1, coord.shape[1] - 1
    origin = coord[0, 0, :2]
    along_i = (coord[0, ni, :2] - origin) / ni
    along_j = (coord[nj, 0, :2] - origin) / nj
    xinc, yinc = _nice(float(np.hypot(*along_i))), _nice(float(np.hypot(*along_j)))
    if not (xinc > 0 and yinc > 0):
        return None, False
    flip = bool(along_i[0] * along_j[1] - along_i[1] * along_j[0] < 0)
    rotation = _nice(math.degrees(math.atan2(along_i[1], along_i[0])))
    frame = Lattice(ni + 1, nj + 1, float(origin[0]), float(origin[1]), xinc, yinc, rotation, flip)
    pi, pj = np.meshgrid(np.arange(ni + 1), np.arange(nj + 1))
    x, y = frame.node_xy(pi, pj)
    tolerance = 1e-6 * min(xinc, yinc)
    regular = bool(
        np.all(np.abs(x - coord[..., 0]) <= tolerance)
        and np.all(np.abs(y - coord[..., 1]) <= tolerance)
    )
    return frame, regular


def _local(frame: Lattice, coord: np.ndarray, regular: bool) -> np.ndarray:
    """Pillars in the frame's local coordinates. Vertical pillars of a grid that stands on the
    frame are placed on its nodes exactly, as a grid built on that lattice has them."""
    local = np.array(coord, dtype=np.float64)
    vertical = np.array_equal(coord[..., 0], coord[..., 3]) and np.array_equal(
        coord[..., 1], coord[..., 4]
    )
    if regular and vertical:
        pj, pi = np.mgrid[0 : coord.shape[0], 0 : coord.shape[1]].astype(np.float64)
        local[..., 0] = local[..., 3] = pi * frame.xinc
        local[..., 1] = local[..., 4] = pj * frame.yinc
        return local
    for at in (0, 3):
        fi, fj = frame.xy_to_ij(coord[..., at], coord[..., at + 1])
        local[..., at], local[..., at + 1] = fi * frame.xinc, fj * frame.yinc
    return local


def _zone_contacts(
    contacts: Contacts | Mapping[str, Contacts] | None, zones: list[str]
) -> list[list[tuple[str, float]]]:
    if contacts is None:
        return [[] for _ in zones]
    if isinstance(contacts, Contacts):
        return [contacts.pairs() for _ in zones]
    unknown = sorted(set(contacts) - set(zones))
    if unknown:
        raise KeyError(f"contacts name zones the grid does not have: {', '.join(unknown)}")
    return [contacts[zone].pairs() if zone in contacts else [] for zone in zones]


def _engine_order(values: np.ndarray) -> np.ndarray:
    """An ``[i, j, k]`` cube as float64, i fastest."""
    return np.ascontiguousarray(np.asarray(values).transpose(2, 1, 0), dtype=np.float64).reshape(-1)


def model_from_arrays(
    arrays: CornerPointArrays,
    contacts: Contacts | Mapping[str, Contacts] | None = None,
    zones: Sequence[tuple[str, int, int]] | None = None,
    sw_gas: float | None = None,
) -> Model:
    """A `Model` on an existing corner-point grid, its cubes copied into the engine.

    Every model method then works on it: the volumetrics table, `in_place_by_zone`, the arrays,
    the file writers and the bundles. Inactive cells (ACTNUM 0) have no volume: the engine
    holds them collapsed onto their top corners, so no volume, table or bundle counts them
    (`zcorn` shows them so). Pillars are kept in the frame of the lattice through the grid's
    corner pillars, which is `Model.lattice` when every pillar top stands on it within 1e-6 of a
    spacing; vertical pillars of such a grid are then placed on the lattice's nodes exactly.

    Parameters
    ----------
    arrays : CornerPointArrays
        The grid (world coordinates, depth down), e.g. from `zorvastatic.io.read_arrays` or
        `zorvastatic.io.from_xtgeo`.
    contacts : Contacts or dict of str to Contacts, optional
        Fluid contacts of every zone, or per zone name; zones without any report only water.
    zones : sequence of (name, k_start, k_end), optional
        Layer ranges, top first, covering every layer; default the arrays' zones, else one
        zone "RESERVOIR".
    sw_gas : float, optional
        Water saturation of gas-cap cells.

    Raises
    ------
    InvalidInputError
        Arrays that do not make a grid (non-finite corners, zones that do not tile the layers).

    Examples
    --------
    >>> import numpy as np
    >>> import zorvastatic as zv
    >>> box = zv.io.CornerPointArrays.box((3, 2, 2), increments=(100.0, 100.0, 5.0), top=1000.0)
    >>> cubes = {"PORO": np.full((3, 2, 2), 0.2), "NTG": np.ones((3, 2, 2)),
    ...          "SW": np.full((3, 2, 2), 0.5)}
    >>> grid = zv.io.CornerPointArrays(box.dims, box.coord, box.zcorn, box.actnum, cubes)
    >>> model = zv.model_from_arrays(grid, contacts=zv.Contacts(owc=1005.0))
    >>> model.in_place_by_zone()[0].hcpv_m3
    30000.0
    """
    if not isinstance(arrays, CornerPointArrays):
        raise TypeError(f"arrays must be a CornerPointArrays, got {type(arrays).__name__}")
    ni, nj, nk = arrays.dims
    layers = list(zones if zones is not None else arrays.zones) or [(_SINGLE_ZONE, 0, nk)]
    layers = [(str(name), int(k0), int(k1)) for name, k0, k1 in layers]
    names = [name for name, _, _ in layers]
    per_zone = _zone_contacts(contacts, names)
    coord = np.asarray(arrays.coord, dtype=np.float64)
    frame, regular = fitted_frame(coord)
    georef = None
    if frame is not None:
        coord = _local(frame, coord, regular)
        ox, oy = frame.node_xy(0.5, 0.5)
        georef = (ox, oy, frame.xinc, frame.yinc, frame.rotation, frame.yflip)
    corners = [(0, 0), (ni, 0), (ni, nj), (0, nj), (0, 0)]
    outline = [tuple(float(v) for v in arrays.coord[pj, pi, :2]) for pi, pj in corners]
    raw = _zorvastatic._model_from_arrays(
        ni,
        nj,
        nk,
        coord.reshape(-1),
        np.ascontiguousarray(arrays.zcorn, dtype=np.float64).reshape(-1),
        _engine_order(arrays.actnum),
        [(name, _engine_order(values)) for name, values in arrays.properties.items()],
        [(name, k0, k1, pairs) for (name, k0, k1), pairs in zip(layers, per_zone, strict=True)],
        sw_gas,
        georef,
        outline,
    )
    model = Model(raw, frame=frame, lattice=frame if regular else None, road="file")
    # The engine holds every cube as float64; integer cubes are written back as integers.
    model._integer_properties = frozenset(
        name for name, values in arrays.properties.items() if np.asarray(values).dtype.kind in "iu"
    )
    return model


def read_grid(
    path: PathLike,
    contacts: Contacts | Mapping[str, Contacts] | None = None,
    zones: Sequence[tuple[str, int, int]] | None = None,
    property_files: Iterable[PathLike] = (),
    sw_gas: float | None = None,
) -> Model:
    """A `Model` on the corner-point grid of a GRDECL or EGRID file, with its cell properties.

    The format is recognised from the content. GRDECL keywords with one value per cell become
    properties (``property_files`` adds those of further GRDECL files, as beside an EGRID);
    ``MAPAXES`` and ``FEET`` units are converted to world metres. See `model_from_arrays` for
    zones, contacts and inactive cells.

    Parameters
    ----------
    path : str or os.PathLike
        The grid file.
    contacts, zones, sw_gas
        As for `model_from_arrays`.
    property_files : iterable of path, optional
        GRDECL files of cell properties on the same grid.

    Returns
    -------
    Model
        ``model.spec`` is None.

    Examples
    --------
    >>> import os, tempfile
    >>> import zorvastatic as zv
    >>> from zorvastatic._model import _example
    >>> path = os.path.join(tempfile.mkdtemp(), "model.grdecl")
    >>> _example().to_grdecl(path)
    >>> model = zv.read_grid(path, contacts=zv.Contacts(owc=2100.0))
    >>> model.dims, model.property_names(), model.in_place_by_zone()[0].grv_m3
    ((2, 2, 2), ['NTG', 'PORO', 'SW'], 400000.0)
    """
    arrays: Any = read_arrays(path, property_files)
    return model_from_arrays(arrays, contacts=contacts, zones=zones, sw_gas=sw_gas)
