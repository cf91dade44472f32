"""What every writer shares: whole-or-nothing files, optional peers, property selection, NaN."""

from __future__ import annotations

import contextlib
import importlib
import os
import re
import secrets
import warnings
from collections.abc import Iterable, Iterator
from types import ModuleType
from typing import IO

import numpy as np

from ._arrays import CornerPointArrays

PathLike = str | os.PathLike[str]

_KEYWORD = re.compile(r"[A-Z0-9_]{1,8}")
# Keywords the grid itself writes; a property of that name would shadow them.
_GRID_KEYWORDS = frozenset(
    {"SPECGRID", "DIMENS", "COORD", "ZCORN", "ACTNUM", "MAPAXES", "MAPUNITS", "GRIDUNIT"}
)


class NaNWrittenWarning(UserWarning):
    """NaN cell values were written as a stand-in value; the message counts them.

    Examples
    --------
    >>> import warnings
    >>> from zorvastatic.io import NaNWrittenWarning
    >>> issubclass(NaNWrittenWarning, UserWarning)
    True
    """


def require(module: str, extra: str, caller: str) -> ModuleType:
    """Import an optional peer package, or say which extra installs it."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(f"{caller} needs {module}: pip install zorvastatic[{extra}]") from error


@contextlib.contextmanager
def atomic_output(path: PathLike) -> Iterator[IO[bytes]]:
    """Binary stream to a temporary file beside ``path``, renamed onto it once complete.

    Any failure removes the temporary file and leaves an existing ``path`` untouched. An OS error
    on creating or renaming it is raised as the same error class naming ``path`` itself.
    """
    target = os.fspath(path)
    folder, name = os.path.split(os.path.abspath(target))
    temporary = os.path.join(folder, f".{name}.{secrets.token_hex(4)}.partial")
    try:
        descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
    except OSError as error:
        raise type(error)(error.errno, error.strerror, target) from None
    try:
        with os.fdopen(descriptor, "wb", buffering=1 << 20) as stream:
            yield stream
        try:
            os.replace(temporary, target)
        except OSError as error:  # e.g. the target is a folder: name it, not the temporary file
            raise type(error)(error.errno, error.strerror, target) from None
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def select_properties(
    grid: CornerPointArrays, names: Iterable[str] | None
) -> list[tuple[str, np.ndarray]]:
    """The properties to write, in the order asked (all, in the grid's order, when ``None``)."""
    if names is None:
        return list(grid.properties.items())
    if isinstance(names, str):
        names = (names,)
    chosen = []
    for name in names:
        if name not in grid.properties:
            known = ", ".join(sorted(grid.properties)) or "none"
            raise KeyError(f"no property named {name!r}; the grid has: {known}")
        chosen.append((name, grid.properties[name]))
    return chosen


def check_keyword_names(names: Iterable[str], file_format: str) -> None:
    """Refuse names a keyword-based file cannot hold: at most 8 of ``A-Z 0-9 _``."""
    for name in names:
        if not _KEYWORD.fullmatch(name):
            raise ValueError(
                f"{file_format} cannot hold property name {name!r}: keywords are 1 to 8 "
                "characters of A-Z, 0-9 and _"
            )
        if name in _GRID_KEYWORDS:
            raise ValueError(
                f"{file_format} cannot hold property name {name!r}: it is a grid keyword"
            )


def check_finite_geometry(
    coord: np.ndarray, zlayer: np.ndarray | None, k: int | None = None
) -> None:
    """Refuse NaN or infinite pillars and corner depths: no reader can place such a cell."""
    if zlayer is None:
        if not np.isfinite(coord).all():
            raise ValueError(
                f"coord holds {np.count_nonzero(~np.isfinite(coord))} non-finite value(s)"
            )
        return
    if not np.isfinite(zlayer).all():
        bad = np.argwhere(~np.isfinite(zlayer))[0]
        raise ValueError(
            f"zcorn holds a non-finite depth at cell (i={bad[1]}, j={bad[0]}, k={k}), "
            f"corner {bad[2]}"
        )


class NaNCounter:
    """Replaces NaN cell values with a stand-in, counts them, and warns once per property.

    Infinite values have no stand-in a reader would take for missing: they are refused.
    """

    def __init__(self, stand_in: float, file_format: str) -> None:
        self.stand_in = stand_in
        self.file_format = file_format
        self.counts: dict[str, int] = {}

    def clean(self, name: str, values: np.ndarray, k: int | None = None) -> np.ndarray:
        if values.dtype.kind != "f":
            return values
        infinite = np.isinf(values)
        if infinite.any():
            where = f" in layer k={k}" if k is not None else ""
            raise ValueError(
                f"property {name} holds {np.count_nonzero(infinite)} infinite value(s){where}; "
                f"{self.file_format} has no place for them"
            )
        missing = np.isnan(values)
        count = int(np.count_nonzero(missing))
        if count == 0:
            return values
        self.counts[name] = self.counts.get(name, 0) + count
        return np.where(missing, values.dtype.type(self.stand_in), values)

    def warn(self) -> None:
        for name, count in self.counts.items():
            warnings.warn(
                f"{count} NaN value(s) of {name} written to {self.file_format} "
                f"as {self.stand_in!r}",
                NaNWrittenWarning,
                stacklevel=3,
            )
