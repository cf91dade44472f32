"""Standard grid files from the engine's arrays, and grids read back from them.

Every writer takes a `CornerPointArrays` (the engine's own layout) and writes one k-layer at a
time where the format allows, to a temporary file renamed into place once complete.

Examples
--------
>>> import os, tempfile
>>> from zorvastatic.io import CornerPointArrays, read_arrays, write_grdecl
>>> path = os.path.join(tempfile.mkdtemp(), "box.grdecl")
>>> write_grdecl(path, CornerPointArrays.box((2, 2, 2), top=1000.0))
>>> read_arrays(path).dims
(2, 2, 2)
"""

from ._arrays import CornerPointArrays
from ._files import NaNWrittenWarning
from ._read import read_arrays
from .egrid import write_egrid
from .grdecl import write_grdecl
from .roff import write_roff
from .vtk import to_pyvista, write_vtk
from .xtgeo import from_xtgeo, to_xtgeo

__all__ = [
    "CornerPointArrays",
    "NaNWrittenWarning",
    "from_xtgeo",
    "read_arrays",
    "to_pyvista",
    "to_xtgeo",
    "write_egrid",
    "write_grdecl",
    "write_roff",
    "write_vtk",
]
