"""One entry point that reads a corner-point grid from GRDECL or EGRID, whichever the file is."""

from __future__ import annotations

import os
from collections.abc import Iterable

import numpy as np

from ._arrays import CornerPointArrays
from ._files import PathLike

_GRID_KEYWORDS = frozenset(
    {
        "SPECGRID",
        "DIMENS",
        "COORD",
        "ZCORN",
        "ACTNUM",
        "MAPAXES",
        "MAPUNITS",
        "GRIDUNIT",
        "GDORIENT",
    }
)
_RECORD_START = b"\x00\x00\x00\x10"  # a binary record header opens with its length, 16


def read_arrays(path: PathLike, property_files: Iterable[PathLike] = ()) -> CornerPointArrays:
    """A corner-point grid and its cell properties from a GRDECL or EGRID file.

    The format is recognised from the content (binary or formatted EGRID, else GRDECL text).
    Coordinates come back in world metres, depth positive down, float64; ``MAPAXES`` and
    ``FEET``/``CM`` units are applied. GRDECL keywords with one value per cell become properties;
    ``property_files`` adds the numeric keywords of further GRDECL files (as simulators
    ``INCLUDE`` them beside an EGRID), geometry keywords there being skipped.

    Parameters
    ----------
    path : str or os.PathLike
        The grid file.
    property_files : iterable of path, optional
        GRDECL files of cell properties for the same grid.

    Returns
    -------
    CornerPointArrays
        No zones: grid files do not name them.

    Raises
    ------
    ValueError
        The file is not a readable Cartesian corner-point grid, or a property file's keyword does
        not have one value per cell.
    OSError
        The file cannot be read.

    Examples
    --------
    >>> import os, tempfile
    >>> import numpy as np
    >>> from zorvastatic.io import CornerPointArrays, read_arrays, write_egrid, write_grdecl
    >>> folder = tempfile.mkdtemp()
    >>> box = CornerPointArrays.box((3, 2, 2), top=1000.0)
    >>> write_egrid(os.path.join(folder, "g.egrid"), box)
    >>> poro = CornerPointArrays(box.dims, box.coord, box.zcorn, box.actnum,
    ...                          {"PORO": np.full((3, 2, 2), 0.3)})
    >>> write_grdecl(os.path.join(folder, "p.grdecl"), poro)
    >>> grid = read_arrays(os.path.join(folder, "g.egrid"), [os.path.join(folder, "p.grdecl")])
    >>> sorted(grid.properties), float(grid.properties["PORO"].max())
    (['PORO'], 0.3)
    """
    from .egrid import read_egrid
    from .grdecl import read_grdecl, read_grdecl_keywords

    source = os.fspath(path)
    with open(source, "rb") as stream:
        start = stream.read(4096)
    if (
        start[:4] == _RECORD_START
        and start[4:12] == b"FILEHEAD"
        or start.lstrip().startswith(b"'FILEHEAD'")
    ):
        grid = read_egrid(source)
    else:
        grid = read_grdecl(source)
    extra = {}
    ni, nj, nk = grid.dims
    for property_file in property_files:
        for name, values in read_grdecl_keywords(property_file).items():
            if name in _GRID_KEYWORDS or not isinstance(values, np.ndarray):
                continue  # geometry, or a keyword of words: not a cell property
            if values.size != ni * nj * nk:
                raise ValueError(
                    f"{name} in {os.fspath(property_file)} has {values.size} values, "
                    f"expected {ni * nj * nk} (one per cell)"
                )
            extra[name] = values.reshape(nk, nj, ni).transpose(2, 1, 0)
    if not extra:
        return grid
    properties: dict[str, np.ndarray] = {**grid.properties, **extra}
    return CornerPointArrays(grid.dims, grid.coord, grid.zcorn, grid.actnum, properties, grid.zones)
