"""EGRID: the binary corner-point grid file of reservoir simulators, through resfo.

The small records go through resfo; ZCORN and ACTNUM, the two records that grow with the cell
count, are streamed one k-layer at a time in the same record layout (big-endian values in blocks
of 1000, each block framed by its byte count), so a memory-mapped grid is never read whole.
"""

from __future__ import annotations

import os
import struct
from typing import IO

import numpy as np

from ._arrays import CornerPointArrays
from ._files import PathLike, atomic_output, check_finite_geometry, require
from ._frames import local_origin, mapaxes_values, to_local, world_from_file
from ._layout import grdecl_face_blocks, layer_values, zcorn_from_grdecl

_BLOCK = 1000  # values per block of a numeric record


def write_egrid(path: PathLike, grid: CornerPointArrays, map_origin: bool = True) -> None:
    """Write the grid's geometry and ACTNUM as an EGRID file.

    EGRID stores coordinates as 32-bit floats, which resolve only about 0.5 m at a northing of
    6,000 km. With ``map_origin`` (the default) pillars of a grid far from the map's origin are
    written relative to a whole-metre origin at its south-west corner, given by ``MAPAXES``
    (readers add it back), so they keep millimetre precision; without it the world coordinates
    are written as they are. The file holds no properties: write those with `write_grdecl`.

    Parameters
    ----------
    path : str or os.PathLike
        Output file.
    grid : CornerPointArrays
        The grid.
    map_origin : bool
        Write local coordinates and ``MAPAXES`` (default) or world coordinates.

    Raises
    ------
    ImportError
        resfo is not installed.
    ValueError
        The geometry holds a non-finite value.
    OSError
        The file cannot be created (the OS error, naming ``path``).

    Examples
    --------
    >>> import os, tempfile
    >>> from zorvastatic.io import CornerPointArrays, read_arrays, write_egrid
    >>> grid = CornerPointArrays.box((3, 2, 2), increments=(25.0, 25.0, 2.0),
    ...                             origin=(456000.5, 6780000.25), top=1800.0)
    >>> path = os.path.join(tempfile.mkdtemp(), "box.egrid")
    >>> write_egrid(path, grid)
    >>> back = read_arrays(path)
    >>> float(back.coord[2, 3, 0]), float(back.coord[2, 3, 1])
    (456075.5, 6780050.25)
    """
    resfo = require("resfo", "io", "write_egrid()")
    ni, nj, nk = grid.dims
    check_finite_geometry(grid.coord, None)
    origin = local_origin(grid.coord) if map_origin else None
    coord = to_local(grid.coord, origin)
    head: list[tuple[str, object]] = [("FILEHEAD", _filehead()), ("MAPUNITS", ["METRES"])]
    if origin is not None:
        head.append(("MAPAXES ", np.array(mapaxes_values(origin), dtype=np.float32)))
    head += [
        ("GRIDUNIT", ["METRES", ""]),
        ("GRIDHEAD", _gridhead(ni, nj, nk)),
        ("COORD   ", coord.reshape(-1).astype(np.float32)),
    ]
    with atomic_output(path) as out:
        resfo.write(out, head)
        zcorn = _Record(out, "ZCORN   ", b"REAL", 8 * ni * nj * nk)
        for k in range(nk):
            layer = np.asarray(grid.zcorn[k])
            check_finite_geometry(grid.coord, layer, k)
            for _, values in grdecl_face_blocks(layer):
                zcorn.feed(values.astype(">f4"))
        zcorn.close()
        actnum = _Record(out, "ACTNUM  ", b"INTE", ni * nj * nk)
        for k in range(nk):
            actnum.feed(layer_values(grid.actnum, k).astype(">i4"))
        actnum.close()
        resfo.write(out, [("ENDGRID ", np.array([], dtype=np.int32))])


def _filehead() -> np.ndarray:
    head = np.zeros(100, dtype=np.int32)
    head[0], head[1], head[3] = 3, 2007, 3  # format version, year, version bound
    head[4], head[5], head[6] = 0, 0, 1  # corner-point grid, single porosity, irregular grid
    return head


def _gridhead(ni: int, nj: int, nk: int) -> np.ndarray:
    head = np.zeros(100, dtype=np.int32)
    head[0:5] = (1, ni, nj, nk, 1)  # corner-point grid, dimensions, grid number
    head[24], head[25], head[26] = 1, 1, 0  # one reservoir, one segment, Cartesian
    return head


class _Record:
    """One numeric record written as its values arrive, in whole blocks."""

    def __init__(self, out: IO[bytes], keyword: str, kind: bytes, size: int) -> None:
        self.out, self.size, self.written = out, size, 0
        self.carry = np.empty(0, dtype=">i4")
        if size > 2**31:  # a count beyond 32 bits takes an extra header first
            self._header(keyword, b"X231", -(size // 2**31))
            size %= 2**31
        self._header(keyword, kind, size)

    def _header(self, keyword: str, kind: bytes, size: int) -> None:
        self.out.write(struct.pack(">i8si4si", 16, keyword.encode("ascii"), size, kind, 16))

    def feed(self, values: np.ndarray) -> None:
        # Values travel as big-endian 32-bit words whatever their type.
        words = np.concatenate((self.carry, values.view(">i4"))).astype(">i4", copy=False)
        whole = words.size // _BLOCK
        if whole:
            blocks = np.empty((whole, _BLOCK + 2), dtype=">i4")
            blocks[:, 0] = blocks[:, -1] = 4 * _BLOCK
            blocks[:, 1:-1] = words[: whole * _BLOCK].reshape(whole, _BLOCK)
            self.out.write(memoryview(blocks).cast("B"))
        self.carry = words[whole * _BLOCK :]
        self.written += values.size

    def close(self) -> None:
        if self.written != self.size:
            raise AssertionError(f"record expected {self.size} values, got {self.written}")
        if self.carry.size:
            marker = struct.pack(">i", 4 * self.carry.size)
            self.out.write(marker + self.carry.tobytes() + marker)


def read_egrid(path: PathLike) -> CornerPointArrays:
    """The global grid of an EGRID file (binary or formatted); local refinements are skipped.

    ``MAPAXES`` and ``FEET``/``CM`` units are converted to world metres as in `read_grdecl`.

    Parameters
    ----------
    path : str or os.PathLike
        The EGRID file.

    Returns
    -------
    CornerPointArrays
        Float64 coord and zcorn, ACTNUM (all active when absent), no properties.

    Examples
    --------
    >>> import os, tempfile
    >>> from zorvastatic.io import CornerPointArrays, write_egrid
    >>> from zorvastatic.io.egrid import read_egrid
    >>> path = os.path.join(tempfile.mkdtemp(), "g.egrid")
    >>> write_egrid(path, CornerPointArrays.box((2, 3, 1), top=1000.0))
    >>> read_egrid(path).dims
    (2, 3, 1)
    """
    resfo = require("resfo", "io", "read_egrid()")
    found: dict[str, np.ndarray] = {}
    wanted = {"MAPUNITS", "MAPAXES", "GRIDUNIT", "GRIDHEAD", "COORD", "ZCORN", "ACTNUM"}
    for entry in resfo.lazy_read(os.fspath(path)):
        keyword = entry.read_keyword().strip()
        if keyword == "ENDGRID":
            break
        if keyword in wanted and keyword not in found:
            found[keyword] = entry.read_array()
    source = os.fspath(path)
    for keyword in ("GRIDHEAD", "COORD", "ZCORN"):
        if keyword not in found:
            raise ValueError(f"{source} has no {keyword} record")
    head = np.asarray(found["GRIDHEAD"])
    if int(head[0]) != 1:
        raise ValueError(f"{source} is not a corner-point grid (GRIDHEAD type {int(head[0])})")
    if len(head) > 26 and int(head[26]) != 0:
        raise ValueError(f"{source} holds a radial grid; only Cartesian grids are read")
    ni, nj, nk = (int(v) for v in head[1:4])
    cells = ni * nj * nk
    coord_values = _sized(found["COORD"], 6 * (ni + 1) * (nj + 1), "COORD")
    zcorn_values = _sized(found["ZCORN"], 8 * cells, "ZCORN")
    actnum = np.ones(cells, dtype=np.int32)
    if "ACTNUM" in found:
        actnum = _sized(found["ACTNUM"], cells, "ACTNUM").astype(np.int32)
    coord, zcorn = world_from_file(
        coord_values.astype(np.float64).reshape(nj + 1, ni + 1, 6),
        zcorn_from_grdecl(zcorn_values.astype(np.float64), (ni, nj, nk)),
        mapaxes=np.asarray(found["MAPAXES"], dtype=np.float64) if "MAPAXES" in found else None,
        grid_unit=_texts(found.get("GRIDUNIT")),
        source=source,
        map_unit=(_texts(found.get("MAPUNITS")) or [None])[0],
    )
    return CornerPointArrays(
        (ni, nj, nk), coord, zcorn, actnum.reshape(nk, nj, ni).transpose(2, 1, 0)
    )


def _sized(values: np.ndarray, size: int, name: str) -> np.ndarray:
    values = np.asarray(values)
    if values.size != size:
        raise ValueError(f"{name} has {values.size} values, expected {size}")
    return values


def _texts(values: np.ndarray | None) -> list[str]:
    if values is None:
        return []
    return [
        v.decode("ascii") if isinstance(v, bytes) else str(v) for v in np.asarray(values).tolist()
    ]
