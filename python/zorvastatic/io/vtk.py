"""VTK: a legacy binary unstructured-grid file, and a pyvista explicit structured grid."""

from __future__ import annotations

import re
from collections.abc import Iterable

import numpy as np

from ._arrays import CornerPointArrays
from ._files import PathLike, atomic_output, check_finite_geometry, require, select_properties
from ._layout import VTK_HEXAHEDRON, areal_handedness, corner_points, layer_values

_VTK_HEXAHEDRON_TYPE = 12
_BLOCK_CELLS = 1 << 15  # cells whose points are converted at a time
_NAME = re.compile(r"\S+")
_SCALAR_TYPES = {
    "f8": ("double", ">f8"),
    "f4": ("float", ">f4"),
    "i4": ("int", ">i4"),
    "i8": ("vtktypeint64", ">i8"),
}


def write_vtk(
    path: PathLike,
    grid: CornerPointArrays,
    properties: Iterable[str] | None = None,
    elevation: bool = True,
) -> None:
    """Write the grid as a legacy binary VTK unstructured grid of hexahedra.

    Cells keep the grid's order (i fastest, then j, then k), each with its own eight points, so
    faults and gaps stay as they are. Cell data holds ``ACTNUM`` and the properties; NaN values
    are kept (VTK readers show them as missing). Points are converted a few thousand cells at a
    time and everything is written layer by layer, so memory stays small whatever the grid.

    Parameters
    ----------
    path : str or os.PathLike
        Output file (``.vtk``).
    grid : CornerPointArrays
        The grid.
    properties : iterable of str, optional
        Names of the properties to write; all of them when omitted.
    elevation : bool
        Write ``z = -depth`` (default) or the depth itself.

    Raises
    ------
    KeyError
        A requested property does not exist.
    ValueError
        A property name holds white space, or the geometry holds a non-finite value.
    OSError
        The file cannot be created (the OS error, naming ``path``).

    Examples
    --------
    >>> import os, tempfile
    >>> from zorvastatic.io import CornerPointArrays, write_vtk
    >>> path = os.path.join(tempfile.mkdtemp(), "box.vtk")
    >>> write_vtk(path, CornerPointArrays.box((3, 2, 2), top=1000.0))
    >>> with open(path, "rb") as stream:
    ...     stream.read(26)
    b'# vtk DataFile Version 4.2'
    """
    chosen = select_properties(grid, properties)
    for name, _ in chosen:
        if not _NAME.fullmatch(name):
            raise ValueError(f"VTK cannot hold property name {name!r}: names carry no white space")
    check_finite_geometry(grid.coord, None)
    ni, nj, nk = grid.dims
    cells = ni * nj * nk
    if 9 * cells >= 2**31:
        raise ValueError(f"{cells} cells exceed what a legacy VTK file can index")
    # Each face walked anticlockwise as seen from the other face: VTK's positive orientation.
    top_first = (areal_handedness(grid.coord) > 0) != elevation
    order = np.array(VTK_HEXAHEDRON if top_first else VTK_HEXAHEDRON[4:] + VTK_HEXAHEDRON[:4])
    with atomic_output(path) as out:
        out.write(
            b"# vtk DataFile Version 4.2\nzorvastatic corner-point grid\nBINARY\n"
            b"DATASET UNSTRUCTURED_GRID\n"
        )
        out.write(f"POINTS {8 * cells} double\n".encode())
        rows = max(1, _BLOCK_CELLS // ni)  # rows of cells converted at a time
        for k in range(nk):
            layer = np.asarray(grid.zcorn[k])
            check_finite_geometry(grid.coord, layer, k)
            for j in range(0, nj, rows):
                points = corner_points(grid.coord[j : j + rows + 1], layer[j : j + rows])
                if elevation:
                    points[..., 2] *= -1.0
                out.write(points.astype(">f8").tobytes())
        out.write(f"\nCELLS {cells} {9 * cells}\n".encode())
        per_layer = ni * nj
        for k in range(nk):
            first = 8 * per_layer * k
            connectivity = np.empty((per_layer, 9), dtype=">i4")
            connectivity[:, 0] = 8
            connectivity[:, 1:] = first + 8 * np.arange(per_layer)[:, None] + order
            out.write(connectivity.tobytes())
        out.write(f"\nCELL_TYPES {cells}\n".encode())
        out.write(np.full(cells, _VTK_HEXAHEDRON_TYPE, dtype=">i4").tobytes())
        out.write(f"\nCELL_DATA {cells}\n".encode())
        for name, values in [("ACTNUM", grid.actnum), *chosen]:
            vtk_type, dtype = _SCALAR_TYPES[values.dtype.str[1:]]
            out.write(f"SCALARS {name} {vtk_type} 1\nLOOKUP_TABLE default\n".encode())
            for k in range(nk):
                out.write(layer_values(values, k).astype(dtype).tobytes())
            out.write(b"\n")


def to_pyvista(
    grid: CornerPointArrays,
    properties: Iterable[str] | None = None,
    elevation: bool = True,
    max_cells: int = 20_000_000,
    force: bool = False,
):
    """The grid as a ``pyvista.ExplicitStructuredGrid`` with its properties as cell data.

    With ``elevation`` (the default) ``z = -depth`` and the k axis runs upward, as pyvista's own
    GRDECL reader lays it: cell ``(i, j, k)`` of the grid is pyvista cell ``(i, j, nk - 1 - k)``
    and ``cell_data[name]`` equals ``values[:, :, ::-1].ravel(order="F")``. Without it the cells
    keep the grid's order and ``cell_data[name]`` equals ``values.ravel(order="F")``. Either way
    the hexahedra are positively oriented (positive volumes) when the j axis lies anticlockwise
    of the i axis in the map; on a grid turned the other way VTK sees them inverted, as it does
    for such grids read from GRDECL. Inactive cells are hidden (still present, ``ACTNUM`` 0).

    Parameters
    ----------
    grid : CornerPointArrays
        The grid.
    properties : iterable of str, optional
        Names of the properties to attach; all of them when omitted.
    elevation : bool
        Elevation, k upward (default), or depth, k downward.
    max_cells, force : int, bool
        VTK holds every corner in memory (about 200 bytes a cell): grids above ``max_cells`` are
        refused unless ``force``.

    Returns
    -------
    pyvista.ExplicitStructuredGrid

    Raises
    ------
    ImportError
        pyvista is not installed.
    ValueError
        The grid exceeds ``max_cells`` without ``force``, or its geometry holds a non-finite value.

    Examples
    --------
    >>> import numpy as np
    >>> from zorvastatic.io import CornerPointArrays, to_pyvista
    >>> grid = to_pyvista(CornerPointArrays.box((3, 2, 2), increments=(10.0, 10.0, 2.0)))
    >>> grid.n_cells, round(float(grid.volume), 6)
    (12, 2400.0)
    """
    pv = require("pyvista", "vtk", "to_pyvista()")
    chosen = select_properties(grid, properties)
    ni, nj, nk = grid.dims
    if ni * nj * nk > max_cells and not force:
        raise ValueError(
            f"{ni * nj * nk} cells exceed max_cells={max_cells} "
            "(VTK keeps about 200 bytes a cell in memory); pass force=True to build it anyway"
        )
    check_finite_geometry(grid.coord, None)
    # Corner (t, dj, di) of cell (i, j, k) sits at structured point (2i+di, 2j+dj, 2k+t).
    corners = np.empty((nk, 2, nj, 2, ni, 2, 3))
    for k in range(nk):
        layer = np.asarray(grid.zcorn[k])
        check_finite_geometry(grid.coord, layer, k)
        points = corner_points(grid.coord, layer).reshape(nj, ni, 2, 2, 2, 3)
        corners[k] = points.transpose(2, 0, 3, 1, 4, 5)
    if elevation:
        corners[..., 2] *= -1.0
        corners = corners[::-1, ::-1]  # k and the top/bottom of each cell run upward
    structured = pv.ExplicitStructuredGrid((ni + 1, nj + 1, nk + 1), corners.reshape(-1, 3))
    flip = slice(None, None, -1) if elevation else slice(None)
    actnum = np.asarray(grid.actnum)[:, :, flip]
    structured.cell_data["ACTNUM"] = actnum.ravel(order="F")
    for name, values in chosen:
        structured.cell_data[name] = np.asarray(values)[:, :, flip].ravel(order="F")
    inactive = np.flatnonzero(actnum.ravel(order="F") == 0)
    if inactive.size:
        structured.hide_cells(inactive, inplace=True)
    return structured
