"""GRDECL: the keyword text format of corner-point grids, written one k-layer at a time.

Runs of equal values are written ``count*value``, each number in the shortest text that reads
back to the same value of its own precision; the engine formats the values a bounded slice at a
time, formatting each distinct value once.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Iterator
from typing import IO

import numpy as np

import _zorvastatic

from ._arrays import CornerPointArrays
from ._files import (
    NaNCounter,
    PathLike,
    atomic_output,
    check_finite_geometry,
    check_keyword_names,
    select_properties,
)
from ._frames import local_origin, mapaxes_values, to_local
from ._layout import grdecl_face_blocks, layer_values, zcorn_from_grdecl

_LINE_WIDTH = 128  # readers of this format accept lines of 132 characters
_CHUNK = 1 << 17  # values formatted at a time: bounds the working set whatever a layer's size


def write_grdecl(
    path: PathLike,
    grid: CornerPointArrays,
    properties: Iterable[str] | None = None,
    nan_value: float = 0.0,
    map_origin: bool = True,
) -> None:
    """Write the grid and its properties as GRDECL keywords.

    Writes ``SPECGRID``, ``COORD``, ``ZCORN``, ``ACTNUM`` and one keyword per property, each ended
    by ``/``. ZCORN and the cell keywords are formatted one k-layer at a time, so a memory-mapped
    ``zcorn`` is never read whole. The file appears only once complete. Every number is written
    in the shortest text that reads back to the same value.

    Many readers (simulators, xtgeo) parse COORD as 32-bit floats, which resolve only about 0.5 m
    at a northing of 6,000 km. With ``map_origin`` (the default) pillars of a grid far from the
    map's origin are written relative to a whole-metre origin at its south-west corner, given by
    ``MAPAXES`` with ``GRIDUNIT`` relative to it (readers add it back); otherwise, or without
    ``map_origin``, COORD holds world coordinates.

    Parameters
    ----------
    path : str or os.PathLike
        Output file.
    grid : CornerPointArrays
        The grid.
    properties : iterable of str, optional
        Names of the properties to write; all of them when omitted.
    nan_value : float
        Written in place of NaN cell values; a `NaNWrittenWarning` counts them per property.
    map_origin : bool
        Write coordinates relative to ``MAPAXES`` when the grid lies far from the map's origin.

    Raises
    ------
    KeyError
        A requested property does not exist (the message lists those that do).
    ValueError
        A property name is not 1 to 8 characters of ``A-Z 0-9 _``, a property holds an infinite
        value, or the geometry holds a non-finite value. Nothing is written.
    OSError
        The file cannot be created (the OS error, naming ``path``).

    Examples
    --------
    >>> import os, tempfile
    >>> import numpy as np
    >>> from zorvastatic.io import CornerPointArrays, read_arrays, write_grdecl
    >>> box = CornerPointArrays.box((3, 2, 2), increments=(50.0, 50.0, 5.0), top=1500.0)
    >>> grid = CornerPointArrays(box.dims, box.coord, box.zcorn, box.actnum,
    ...                          {"PORO": np.full((3, 2, 2), 0.25)})
    >>> path = os.path.join(tempfile.mkdtemp(), "box.grdecl")
    >>> write_grdecl(path, grid)
    >>> back = read_arrays(path)
    >>> back.dims, float(back.properties["PORO"][2, 1, 1])
    ((3, 2, 2), 0.25)
    """
    chosen = select_properties(grid, properties)
    check_keyword_names([name for name, _ in chosen], "GRDECL")
    check_finite_geometry(grid.coord, None)
    counter = NaNCounter(nan_value, "GRDECL")
    ni, nj, nk = grid.dims
    with atomic_output(path) as out:
        out.write(b"-- corner-point grid written by zorvastatic; depths in metres, positive down\n")
        _keyword(out, "SPECGRID", [f"{ni} {nj} {nk} 1 F\n".encode()])
        origin = local_origin(grid.coord) if map_origin else None
        if origin is not None:
            _keyword(out, "MAPUNITS", [b"'METRES'\n"])
            _keyword(out, "MAPAXES", [" ".join(map(repr, mapaxes_values(origin))).encode() + b"\n"])
            _keyword(out, "GRIDUNIT", [b"'METRES' ' '\n"])
        _keyword(out, "COORD", [format_values(to_local(grid.coord, origin).reshape(-1))])
        _keyword(out, "ZCORN", _zcorn_layers(grid))
        _keyword(out, "ACTNUM", _cube_layers("ACTNUM", grid.actnum, None))
        for name, values in chosen:
            _keyword(out, name, _cube_layers(name, values, counter))
    counter.warn()


def _cube_layers(name: str, cube: np.ndarray, counter: NaNCounter | None) -> Iterator[bytes]:
    for k in range(cube.shape[2]):
        values = layer_values(cube, k)
        yield from format_chunks(values if counter is None else counter.clean(name, values, k))


def _zcorn_layers(grid: CornerPointArrays) -> Iterator[bytes]:
    """ZCORN text a few rows at a time; a top face equal to the bottom face above reuses its
    text."""
    above: list[tuple[np.ndarray, bytes]] = []  # the last bottom face, piece by piece
    for k in range(grid.dims[2]):
        layer = grid.zcorn[k]
        check_finite_geometry(grid.coord, np.asarray(layer), k)
        below: list[tuple[np.ndarray, bytes]] = []
        top_piece = 0
        for face, values in grdecl_face_blocks(layer):
            if face == 1:
                text = b"".join(format_chunks(values))
                below.append((values, text))
            elif top_piece < len(above) and np.array_equal(above[top_piece][0], values):
                text = above[top_piece][1]
            else:
                text = b"".join(format_chunks(values))
            top_piece += face == 0
            yield text
        above = below


def _keyword(out: IO[bytes], name: str, chunks: Iterable[bytes]) -> None:
    out.write(f"\n{name}\n".encode())
    for chunk in chunks:
        out.write(chunk)
    out.write(b"/\n")


def format_values(values: np.ndarray) -> bytes:
    """Values as GRDECL text: ``count*value`` for runs, lines under 128 characters.

    Floats print in the shortest form that reads back to the same value of their own precision.

    Examples
    --------
    >>> import numpy as np
    >>> from zorvastatic.io.grdecl import format_values
    >>> format_values(np.array([2000.0, 2000.0, 2000.5, 0.1]))
    b'2*2000.0 2000.5 0.1\\n'
    >>> format_values(np.array([0.1, 0.1], dtype=np.float32))
    b'2*0.1\\n'
    """
    return b"".join(format_chunks(values))


def format_chunks(values: np.ndarray) -> Iterator[bytes]:
    """`format_values` a bounded slice at a time, each slice's text ending a line."""
    values = np.asarray(values).reshape(-1)
    for first in range(0, values.size, _CHUNK):
        yield _format_slice(values[first : first + _CHUNK])


def _format_slice(values: np.ndarray) -> bytes:
    # The engine formats: runs, shortest texts of the values' own precision, line breaks.
    if values.dtype.kind in "bu" or (values.dtype.kind == "i" and values.dtype.itemsize < 4):
        values = values.astype(np.int64)
    elif values.dtype.kind == "f" and values.dtype.itemsize not in (4, 8):
        values = values.astype(np.float64)
    native = values.dtype.newbyteorder("=")
    return _zorvastatic._format_values(np.ascontiguousarray(values, dtype=native), _LINE_WIDTH)


# Keywords that take no data and no terminating slash.
_BARE_KEYWORDS = frozenset(
    {
        "RUNSPEC",
        "GRID",
        "EDIT",
        "PROPS",
        "REGIONS",
        "SOLUTION",
        "SUMMARY",
        "SCHEDULE",
        "ECHO",
        "NOECHO",
        "NONNC",
        "NEWTRAN",
        "OLDTRAN",
        "NOGGF",
        "END",
    }
)


Values = np.ndarray | list[str]  # a keyword's numbers, or its words when it holds text
_LINES_PER_BLOCK = 4096  # lines of values parsed at a time


def read_grdecl_keywords(path: PathLike) -> dict[str, Values]:
    """Every keyword of a GRDECL file (and the files it includes) with its values.

    Numeric keywords come as float64 arrays (``count*value`` runs expanded), parsed a block of
    lines at a time so that a large keyword never sits in memory as text; keywords holding text
    come as their words. A repeated keyword keeps its last occurrence; comments (``--``) and text
    after ``/`` are dropped; quoted strings lose their quotes.
    """
    keywords: dict[str, Values] = {}
    _read_into(os.fspath(path), keywords, depth=0)
    return keywords


def _read_into(path: str, keywords: dict[str, Values], depth: int) -> None:
    if depth > 16:
        raise ValueError(f"INCLUDE nested more than 16 deep at {path}")
    with open(path, encoding="latin-1") as stream:
        for name, values in _keywords(stream, path):
            if name == "INCLUDE":
                if not isinstance(values, list) or not values:
                    raise ValueError(f"INCLUDE without a file name in {path}")
                _read_into(os.path.join(os.path.dirname(path), values[0]), keywords, depth + 1)
            else:
                keywords[name] = values


class _KeywordValues:
    """The values of one keyword, gathered line by line and parsed a block of lines at a time."""

    def __init__(self, name: str) -> None:
        self.name = name
        self.lines: list[str] = []
        self.blocks: list[np.ndarray] = []
        self.words: list[str] | None = None

    def add(self, text: str) -> None:
        self.lines.append(text)
        if len(self.lines) >= _LINES_PER_BLOCK:
            self._parse()

    def _parse(self) -> None:
        tokens = " ".join(self.lines).replace("'", " ").replace('"', " ").split()
        self.lines = []
        if self.words is not None:
            self.words += tokens
            return
        try:
            self.blocks.append(parse_numbers(tokens, self.name))
        except ValueError:
            if self.blocks:
                raise ValueError(f"keyword {self.name} mixes numbers and text") from None
            self.words = tokens

    def finish(self) -> Values:
        self._parse()
        if self.words is not None:
            return self.words
        return np.concatenate(self.blocks) if len(self.blocks) > 1 else self.blocks[0]


def _keywords(stream: Iterable[str], path: str) -> Iterator[tuple[str, Values]]:
    current: _KeywordValues | None = None
    for line in stream:
        text = line.split("--", 1)[0]
        if current is None:
            words = text.split()
            if not words:
                continue
            word = words[0].strip("'\"").upper()
            if word in _BARE_KEYWORDS:
                continue
            current, text = _KeywordValues(word), text.split(None, 1)[1] if len(words) > 1 else ""
        if "/" in text:
            current.add(text.split("/", 1)[0])
            yield current.name, current.finish()
            current = None
        else:
            current.add(text)
    if current is not None:
        raise ValueError(f"keyword {current.name} in {path} is not ended by '/'")


def parse_numbers(tokens: list[str], what: str, dtype: type = np.float64) -> np.ndarray:
    """Numbers of a keyword, with ``count*value`` runs expanded and ``D`` exponents accepted.

    Each distinct token is parsed once: grid keywords repeat the same few thousand tokens.
    """
    index: dict[str, int] = {}
    which = np.fromiter(
        (index.setdefault(t, len(index)) for t in tokens), dtype=np.intp, count=len(tokens)
    )
    counts, values = np.ones(len(index), dtype=np.intp), []
    for n, token in enumerate(index):
        count, star, value = token.partition("*")
        if not star:
            values.append(token)
        elif not value:
            raise ValueError(f"{what}: defaulted values ({token}) are not supported")
        else:
            counts[n] = int(count)
            values.append(value)
    parsed = _to_array(values, what, dtype)[which]
    return parsed if (counts == 1).all() else np.repeat(parsed, counts[which])


def _to_array(tokens: list[str], what: str, dtype: type) -> np.ndarray:
    try:
        return np.array(tokens, dtype=dtype)
    except ValueError:
        try:
            cleaned = [t.upper().replace("D", "E") for t in tokens]
            return np.array(np.array(cleaned, dtype=np.float64), dtype=dtype)
        except ValueError:
            raise ValueError(f"{what} holds a value that is not a number") from None


def read_grdecl(path: PathLike) -> CornerPointArrays:
    """A grid and its cell keywords from a GRDECL file.

    ``SPECGRID`` (or ``DIMENS``), ``COORD`` and ``ZCORN`` are required; ``ACTNUM`` defaults to all
    active. Every other keyword with one number per cell becomes a float64 property. ``MAPAXES``
    (unless ``GRIDUNIT`` says the grid is already in map coordinates) and ``FEET`` or ``CM``
    grid units are converted to world metres.

    Parameters
    ----------
    path : str or os.PathLike
        The GRDECL file; ``INCLUDE`` paths are taken relative to it.

    Returns
    -------
    CornerPointArrays

    Examples
    --------
    >>> import os, tempfile
    >>> from zorvastatic.io import CornerPointArrays, write_grdecl
    >>> from zorvastatic.io.grdecl import read_grdecl
    >>> path = os.path.join(tempfile.mkdtemp(), "g.grdecl")
    >>> write_grdecl(path, CornerPointArrays.box((2, 2, 3), top=800.0))
    >>> float(read_grdecl(path).zcorn[2, 1, 1, 7])
    803.0
    """
    from ._frames import world_from_file

    keywords = read_grdecl_keywords(path)
    dims = _dims(keywords, path)
    ni, nj, nk = dims
    cells = ni * nj * nk
    arrays = {}
    for name, size in (("COORD", 6 * (ni + 1) * (nj + 1)), ("ZCORN", 8 * cells)):
        if name not in keywords:
            raise ValueError(f"{path} has no {name} keyword")
        arrays[name] = _sized(_numbers(keywords.pop(name), name), size, name)
    actnum = np.ones(cells, dtype=np.int32)
    if "ACTNUM" in keywords:
        actnum = _sized(_numbers(keywords.pop("ACTNUM"), "ACTNUM"), cells, "ACTNUM").astype(
            np.int32
        )
    coord, zcorn = world_from_file(
        arrays["COORD"].reshape(nj + 1, ni + 1, 6),
        zcorn_from_grdecl(arrays["ZCORN"], dims),
        mapaxes=_numbers(keywords["MAPAXES"], "MAPAXES") if "MAPAXES" in keywords else None,
        grid_unit=_words(keywords.get("GRIDUNIT", [])),
        source=os.fspath(path),
        map_unit=(_words(keywords.get("MAPUNITS", [])) or [None])[0],
    )
    properties = {}
    for name, values in keywords.items():
        if isinstance(values, np.ndarray) and values.size == cells and name != "MAPAXES":
            properties[name] = values.reshape(nk, nj, ni).transpose(2, 1, 0)
    return CornerPointArrays(
        dims, coord, zcorn, actnum.reshape(nk, nj, ni).transpose(2, 1, 0), properties
    )


def _dims(keywords: dict[str, Values], path: PathLike) -> tuple[int, int, int]:
    tokens = keywords.pop("SPECGRID", None)
    if tokens is None:
        tokens = keywords.pop("DIMENS", None)
    elif len(tokens) > 4 and str(tokens[4]).upper() == "T":
        raise ValueError(
            f"{path} holds a radial grid (SPECGRID ... T); only Cartesian grids are read"
        )
    keywords.pop("DIMENS", None)
    if tokens is None or len(tokens) < 3:
        raise ValueError(f"{path} has no SPECGRID or DIMENS keyword")
    try:
        ni, nj, nk = (int(float(t)) for t in tokens[:3])
    except ValueError:
        raise ValueError(f"{path}: grid dimensions {list(tokens[:3])} are not numbers") from None
    return ni, nj, nk


def _sized(values: np.ndarray, size: int, name: str) -> np.ndarray:
    if values.size != size:
        raise ValueError(f"{name} has {values.size} values, expected {size}")
    return values


def _numbers(values: Values, name: str) -> np.ndarray:
    if isinstance(values, np.ndarray):
        return values
    words = " ".join(values[:4])
    raise ValueError(f"{name} holds values that are not numbers: {words} ...")


def _words(values: Values) -> list[str]:
    return values if isinstance(values, list) else [repr(float(v)) for v in values]
