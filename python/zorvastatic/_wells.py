"""Well picks and well logs.

Depths are true vertical depths on the grid's depth axis, metres, positive down; x and y are
world coordinates in the lattice's frame.
"""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from . import _checks
from ._geom import ArrayRecord
from ._optional import require

__all__ = ["Picks", "WellLog"]


def _names(values: Any, label: str) -> tuple[str, ...]:
    if isinstance(values, str):
        raise TypeError(f"{label} must be a sequence of str, not a str")
    names = tuple(values)
    for n, name in enumerate(names):
        if not isinstance(name, str) or not name.strip():
            raise ValueError(f"{label}[{n}] must be a non-empty str, got {name!r}")
    return names


@dataclass(frozen=True, eq=False, init=False)
class Picks(ArrayRecord):
    """Horizon picks of wells, one row per pick.

    Parameters
    ----------
    well, horizon : sequence of str
        The well and the horizon of each pick.
    x, y, z : array_like
        World position and depth of each pick.

    Examples
    --------
    >>> picks = Picks(well=["A1", "A1", "A2"], horizon=["TopA", "TopB", "TopA"],
    ...               x=[100.0, 101.0, 300.0], y=[50.0, 50.0, 80.0], z=[1712.4, 1750.0, 1698.2])
    >>> len(picks), picks.horizons, len(picks.only("TopA"))
    (3, ('TopA', 'TopB'), 2)
    """

    well: tuple[str, ...]
    horizon: tuple[str, ...]
    x: np.ndarray
    y: np.ndarray
    z: np.ndarray

    def __init__(self, well: Any, horizon: Any, x: Any, y: Any, z: Any) -> None:
        wells = _names(well, "Picks.well")
        horizons = _names(horizon, "Picks.horizon")
        xs = _checks.float_array(x, "Picks.x", ndim=1)
        ys = _checks.float_array(y, "Picks.y", ndim=1)
        zs = _checks.float_array(z, "Picks.z", ndim=1)
        _checks.same_length("Picks", well=wells, horizon=horizons, x=xs, y=ys, z=zs)
        for name, value in (("well", wells), ("horizon", horizons), ("x", xs), ("y", ys)):
            object.__setattr__(self, name, value)
        object.__setattr__(self, "z", zs)

    def __len__(self) -> int:
        return len(self.well)

    def __repr__(self) -> str:
        return f"Picks({len(self)} picks, wells={len(set(self.well))}, horizons={self.horizons})"

    @property
    def horizons(self) -> tuple[str, ...]:
        """The horizon names, in order of first appearance.

        Examples
        --------
        >>> Picks(["W", "W"], ["B", "A"], [0.0, 0.0], [0.0, 0.0], [2.0, 1.0]).horizons
        ('B', 'A')
        """
        return tuple(dict.fromkeys(self.horizon))

    @property
    def wells(self) -> tuple[str, ...]:
        """The well names, in order of first appearance.

        Examples
        --------
        >>> Picks(["W2", "W1", "W2"], ["A", "A", "B"], [0.0] * 3, [0.0] * 3, [1.0] * 3).wells
        ('W2', 'W1')
        """
        return tuple(dict.fromkeys(self.well))

    def only(self, *horizons: str) -> Picks:
        """The picks of the named horizons, in their original order.

        Examples
        --------
        >>> Picks(["W", "W"], ["A", "B"], [0.0, 0.0], [0.0, 0.0], [1.0, 2.0]).only("B").z
        array([2.])
        """
        keep = np.array([h in horizons for h in self.horizon], dtype=bool)
        return self._subset(keep)

    def _subset(self, keep: np.ndarray) -> Picks:
        rows = np.flatnonzero(keep)
        return Picks(
            [self.well[r] for r in rows],
            [self.horizon[r] for r in rows],
            self.x[rows],
            self.y[rows],
            self.z[rows],
        )

    @classmethod
    def from_dataframe(
        cls,
        frame: Any,
        *,
        well: str = "WELL",
        horizon: str = "HORIZON",
        x: str = "X_UTME",
        y: str = "Y_UTMN",
        z: str = "Z_TVDSS",
    ) -> Picks:
        """Picks from the named columns of a pandas DataFrame (xtgeo's column names by default).

        Examples
        --------
        >>> import pandas as pd
        >>> df = pd.DataFrame({"WELL": ["A1"], "HORIZON": ["TopA"], "X_UTME": [1.0],
        ...                    "Y_UTMN": [2.0], "Z_TVDSS": [1700.0]})
        >>> Picks.from_dataframe(df).z
        array([1700.])
        """
        missing = [c for c in (well, horizon, x, y, z) if c not in frame.columns]
        if missing:
            raise KeyError(f"Picks.from_dataframe: no column {missing[0]!r} in the frame")
        return cls(
            [str(v) for v in frame[well]],
            [str(v) for v in frame[horizon]],
            frame[x].to_numpy(dtype=np.float64),
            frame[y].to_numpy(dtype=np.float64),
            frame[z].to_numpy(dtype=np.float64),
        )

    def to_dataframe(self) -> Any:
        """The picks as a pandas DataFrame with xtgeo's column names. Needs the ``tables`` extra.

        Examples
        --------
        >>> Picks(["A1"], ["TopA"], [1.0], [2.0], [1700.0]).to_dataframe().columns.tolist()
        ['WELL', 'HORIZON', 'X_UTME', 'Y_UTMN', 'Z_TVDSS']
        """
        pandas = require("pandas", "tables", "Picks.to_dataframe()")
        return pandas.DataFrame(
            {
                "WELL": list(self.well),
                "HORIZON": list(self.horizon),
                "X_UTME": self.x,
                "Y_UTMN": self.y,
                "Z_TVDSS": self.z,
            }
        )


@dataclass(frozen=True, eq=False, init=False)
class WellLog(ArrayRecord):
    """A log of one vertical well: values at depths, at one world position.

    Samples whose depth or value is NaN (LAS nulls) are dropped; `dropped` counts them.

    Parameters
    ----------
    name : str
        The well's name.
    x, y : float
        World position of the well.
    depth, values : array_like
        Sample depths (true vertical depth, positive down) and values.
    curve : str
        The curve's name, for messages.

    Examples
    --------
    >>> log = WellLog("A1", x=300.0, y=200.0, depth=[2002.0, 2005.0, 2011.0],
    ...               values=[0.18, float("nan"), 0.22], curve="PHIT")
    >>> len(log), log.dropped
    (2, 1)
    """

    name: str
    x: float
    y: float
    depth: np.ndarray
    values: np.ndarray
    curve: str = ""
    dropped: int = field(init=False, default=0)

    def __init__(
        self, name: str, x: float, y: float, depth: Any, values: Any, curve: str = ""
    ) -> None:
        name = _checks.text(name, "WellLog.name")
        if not isinstance(curve, str):
            raise TypeError(f"WellLog.curve must be a str, got {type(curve).__name__}")
        label = f"WellLog '{name}'"
        xs = _checks.finite(x, f"{label} x")
        ys = _checks.finite(y, f"{label} y")
        depths = _checks.float_array(depth, f"{label} depth", ndim=1, allow_nan=True)
        samples = _checks.float_array(values, f"{label} values", ndim=1, allow_nan=True)
        _checks.same_length(label, depth=depths, values=samples)
        keep = np.isfinite(depths) & np.isfinite(samples)
        if not keep.any():
            in_curve = f" in curve '{curve}'" if curve else ""
            raise ValueError(f"{label}: no finite samples{in_curve}")
        kept_depths, kept_values = depths[keep], samples[keep]
        kept_depths.flags.writeable = False
        kept_values.flags.writeable = False
        for attribute, value in (
            ("name", name),
            ("x", xs),
            ("y", ys),
            ("depth", kept_depths),
            ("values", kept_values),
            ("curve", curve),
            ("dropped", int((~keep).sum())),
        ):
            object.__setattr__(self, attribute, value)

    def __len__(self) -> int:
        return len(self.depth)

    def __repr__(self) -> str:
        curve = f", curve={self.curve!r}" if self.curve else ""
        return (
            f"WellLog({self.name!r}, x={self.x}, y={self.y}, samples={len(self)}"
            f"{curve}, dropped={self.dropped})"
        )

    @classmethod
    def from_las(
        cls,
        path: str | os.PathLike[str],
        curve: str,
        *,
        x: float,
        y: float,
        depth: str | None = None,
        name: str | None = None,
    ) -> WellLog:
        """One curve of a LAS file, read with lasio (the ``io`` extra); nulls are dropped.

        Parameters
        ----------
        path : path-like
        curve : str
            Mnemonic of the curve to read.
        x, y : float
            World position of the well.
        depth : str, optional
            Mnemonic of the depth curve; the file's index curve by default.
        name : str, optional
            The well's name; the file's ``WELL`` entry by default.

        Examples
        --------
        >>> import lasio, os, tempfile
        >>> las = lasio.LASFile()
        >>> las.well["WELL"].value = "A1"
        >>> las.append_curve("DEPT", [2000.0, 2001.0, 2002.0], unit="m")
        >>> las.append_curve("PHIT", [0.2, float("nan"), 0.25])  # written as the NULL value
        >>> path = os.path.join(tempfile.mkdtemp(), "a1.las")
        >>> las.write(path)
        >>> log = WellLog.from_las(path, "PHIT", x=10.0, y=20.0)
        >>> log.name, log.values.tolist(), log.dropped
        ('A1', [0.2, 0.25], 1)
        """
        lasio = require("lasio", "io", "WellLog.from_las()")
        las = lasio.read(os.fspath(path))
        mnemonics = [c.mnemonic for c in las.curves]
        if curve not in mnemonics:
            raise KeyError(f"{os.fspath(path)}: no curve {curve!r} (curves: {mnemonics})")
        if depth is not None and depth not in mnemonics:
            raise KeyError(f"{os.fspath(path)}: no depth curve {depth!r} (curves: {mnemonics})")
        depths = las.index if depth is None else las[depth]
        if name is None:
            well = las.well["WELL"].value if "WELL" in las.well else ""
            name = str(well).strip() or os.path.splitext(os.path.basename(os.fspath(path)))[0]
        return cls(name, x, y, np.asarray(depths, dtype=np.float64), las[curve], curve=curve)
