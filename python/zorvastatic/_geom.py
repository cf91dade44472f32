"""The areal lattice and the depth surfaces on it.

A `Lattice` is node-based, as xtgeo's `RegularSurface` is: ``ncol`` x ``nrow`` nodes, node
(0, 0) at (``xori``, ``yori``), ``xinc`` and ``yinc`` apart, the i axis rotated ``rotation``
degrees counter-clockwise from east, the j axis reversed when ``yflip``. A model built on it has
one pillar per node and (ncol - 1) x (nrow - 1) columns of cells. Surface values are
``(ncol, nrow)`` arrays indexed ``[i, j]``, depth positive down, NaN where undefined.
"""

from __future__ import annotations

import dataclasses
import math
import warnings
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np

import _zorvastatic

from . import _checks
from ._optional import require
from ._warnings import InputWarning

__all__ = ["Lattice", "Surface", "Taper"]

_DEG_TO_RAD = 0.017453292519943295


class ArrayRecord:
    """Frozen dataclasses holding numpy arrays: equal by value (NaN equal to NaN), unhashable,
    and read-only again after unpickling."""

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        for field in dataclasses.fields(self):  # type: ignore[arg-type]
            a, b = getattr(self, field.name), getattr(other, field.name)
            if isinstance(a, np.ndarray) or isinstance(b, np.ndarray):
                if not (
                    isinstance(a, np.ndarray)
                    and isinstance(b, np.ndarray)
                    and a.shape == b.shape
                    and np.array_equal(a, b, equal_nan=a.dtype.kind == "f")
                ):
                    return False
            elif a != b:
                return False
        return True

    __hash__ = None  # type: ignore[assignment]

    def __setstate__(self, state: dict[str, Any]) -> None:
        self.__dict__.update(state)
        _checks.frozen_arrays(self)


def round_half_away(values: np.ndarray) -> np.ndarray:
    """Rounds halves away from zero, as the engine places points on nodes."""
    return np.sign(values) * np.floor(np.abs(values) + 0.5)


@dataclass(frozen=True)
class Lattice:
    """A regular areal node lattice in the world frame.

    Parameters
    ----------
    ncol, nrow : int
        Nodes along i and along j (a model needs at least 2 x 2).
    xori, yori : float
        World position of node (0, 0).
    xinc, yinc : float
        Node spacing along i and along j, metres (> 0).
    rotation : float
        Rotation of the i axis, degrees counter-clockwise from east.
    yflip : bool
        The j axis points the other way (xtgeo's ``yflip=-1``).

    Examples
    --------
    >>> lat = Lattice(ncol=4, nrow=3, xori=1000.0, yori=2000.0, xinc=50.0, yinc=25.0)
    >>> lat.node_xy(2, 1)
    (1100.0, 2025.0)
    >>> lat.xy_to_ij(1100.0, 2025.0)
    (2.0, 1.0)
    """

    ncol: int
    nrow: int
    xori: float = 0.0
    yori: float = 0.0
    xinc: float = 1.0
    yinc: float = 1.0
    rotation: float = 0.0
    yflip: bool = False

    def __post_init__(self) -> None:
        set_ = object.__setattr__
        set_(self, "ncol", _checks.count(self.ncol, "Lattice.ncol", 1))
        set_(self, "nrow", _checks.count(self.nrow, "Lattice.nrow", 1))
        for name in ("xori", "yori", "rotation"):
            set_(self, name, _checks.finite(getattr(self, name), f"Lattice.{name}"))
        for name in ("xinc", "yinc"):
            set_(self, name, _checks.positive(getattr(self, name), f"Lattice.{name}"))
        if not isinstance(self.yflip, (bool, np.bool_)):
            raise TypeError(f"Lattice.yflip must be a bool, got {type(self.yflip).__name__}")
        set_(self, "yflip", bool(self.yflip))

    @property
    def shape(self) -> tuple[int, int]:
        """``(ncol, nrow)``: the shape of a surface's values.

        Examples
        --------
        >>> Lattice(ncol=4, nrow=3).shape
        (4, 3)
        """
        return (self.ncol, self.nrow)

    def _frame(self) -> tuple[float, float, float]:
        theta = self.rotation * _DEG_TO_RAD
        h = self.yinc if self.yflip else -self.yinc
        return math.sin(theta), math.cos(theta), h

    def node_xy(self, i: Any, j: Any) -> tuple[Any, Any]:
        """World (x, y) of node (i, j); fractional and out-of-lattice indices extrapolate.

        Arrays broadcast; scalars give floats.

        Examples
        --------
        >>> Lattice(ncol=2, nrow=2, xinc=10.0, yinc=10.0, rotation=90.0).node_xy(1, 0)
        (6.123233995736766e-16, 10.0)
        """
        s, c, h = self._frame()
        i = np.asarray(i, dtype=np.float64)
        j = np.asarray(j, dtype=np.float64)
        x = self.xori + self.xinc * c * i + s * h * j
        y = self.yori + self.xinc * s * i - c * h * j
        if x.ndim == 0:
            return float(x), float(y)
        return x, y

    def xy_to_ij(self, x: Any, y: Any) -> tuple[Any, Any]:
        """Fractional node coordinates (fi, fj) of world points; not clipped to the lattice.

        Examples
        --------
        >>> Lattice(ncol=3, nrow=3, xinc=10.0, yinc=10.0, yflip=True).xy_to_ij(5.0, -10.0)
        (0.5, 1.0)
        """
        s, c, _ = self._frame()
        u = np.asarray(x, dtype=np.float64) - self.xori
        v = np.asarray(y, dtype=np.float64) - self.yori
        fi = (u * c + v * s) / self.xinc
        t = v * c - u * s
        fj = -t / self.yinc if self.yflip else t / self.yinc
        if fi.ndim == 0:
            return float(fi), float(fj)
        return fi, fj

    def node_coordinates(self) -> tuple[np.ndarray, np.ndarray]:
        """World x and y of every node, two ``(ncol, nrow)`` arrays.

        Examples
        --------
        >>> x, y = Lattice(ncol=3, nrow=2, xinc=5.0).node_coordinates()
        >>> x[:, 0].tolist()
        [0.0, 5.0, 10.0]
        """
        i, j = np.meshgrid(np.arange(self.ncol), np.arange(self.nrow), indexing="ij")
        return self.node_xy(i, j)

    def contains(self, x: Any, y: Any) -> Any:
        """Whether world points lie within the lattice's outer nodes (edges included).

        Examples
        --------
        >>> Lattice(ncol=3, nrow=3, xinc=10.0, yinc=10.0).contains([5.0, 25.0], [5.0, 5.0])
        array([ True, False])
        """
        fi, fj = self.xy_to_ij(x, y)
        tolerance = 1e-9
        inside = (
            (np.asarray(fi) >= -tolerance)
            & (np.asarray(fi) <= self.ncol - 1 + tolerance)
            & (np.asarray(fj) >= -tolerance)
            & (np.asarray(fj) <= self.nrow - 1 + tolerance)
        )
        return bool(inside) if inside.ndim == 0 else inside

    def nearest_node(self, x: Any, y: Any) -> tuple[np.ndarray, np.ndarray]:
        """Indices (i, j) of the node nearest to each world point (outside nodes included).

        Examples
        --------
        >>> i, j = Lattice(ncol=3, nrow=3, xinc=10.0, yinc=10.0).nearest_node([14.0], [6.0])
        >>> int(i[0]), int(j[0])
        (1, 1)
        """
        fi, fj = self.xy_to_ij(np.atleast_1d(x), np.atleast_1d(y))
        return round_half_away(fi).astype(np.int64), round_half_away(fj).astype(np.int64)

    @classmethod
    def from_xtgeo(cls, surface: Any) -> Lattice:
        """The lattice of an xtgeo ``RegularSurface`` (``yflip=-1`` becomes ``yflip=True``).

        Examples
        --------
        >>> import xtgeo
        >>> s = xtgeo.RegularSurface(ncol=3, nrow=2, xinc=25.0, yinc=25.0, rotation=30.0)
        >>> Lattice.from_xtgeo(s).rotation
        30.0
        """
        return cls(
            ncol=int(surface.ncol),
            nrow=int(surface.nrow),
            xori=float(surface.xori),
            yori=float(surface.yori),
            xinc=float(surface.xinc),
            yinc=float(surface.yinc),
            rotation=float(surface.rotation),
            yflip=int(surface.yflip) == -1,
        )


@dataclass(frozen=True)
class Taper:
    """How a solved surface is pulled towards the nearest data far from it.

    Distances in node units: tapering begins at `start` and completes over `width`.

    Examples
    --------
    >>> Taper(start=2.0, width=4.0)
    Taper(start=2.0, width=4.0)
    """

    start: float = 2.0
    width: float = 4.0

    def __post_init__(self) -> None:
        object.__setattr__(self, "start", _checks.finite(self.start, "Taper.start"))
        object.__setattr__(self, "width", _checks.finite(self.width, "Taper.width"))


@dataclass(frozen=True, eq=False, init=False)
class Surface(ArrayRecord):
    """Depths on the nodes of a lattice.

    Parameters
    ----------
    lattice : Lattice
    values : array_like, shape (ncol, nrow)
        Depth of node (i, j) at ``values[i, j]``, metres, positive down; NaN (or masked)
        where undefined. Copied and kept read-only.
    name : str
        A label for messages.

    Examples
    --------
    >>> lat = Lattice(ncol=3, nrow=2, xinc=100.0, yinc=100.0)
    >>> top = Surface(lat, [[2000.0, 2010.0], [2001.0, 2011.0], [2002.0, 2012.0]], name="Top")
    >>> top.values[2, 1]
    np.float64(2012.0)
    """

    lattice: Lattice
    values: np.ndarray
    name: str = ""

    def __init__(self, lattice: Lattice, values: Any, name: str = "") -> None:
        if not isinstance(lattice, Lattice):
            raise TypeError(f"Surface.lattice must be a Lattice, got {type(lattice).__name__}")
        if not isinstance(name, str):
            raise TypeError(f"Surface.name must be a str, got {type(name).__name__}")
        label = f"Surface '{name}' values" if name else "Surface values"
        array = _checks.float_array(values, label, shape=lattice.shape, allow_nan=True)
        object.__setattr__(self, "lattice", lattice)
        object.__setattr__(self, "values", array)
        object.__setattr__(self, "name", name)

    def __repr__(self) -> str:
        defined = int(np.isfinite(self.values).sum())
        return (
            f"Surface(name={self.name!r}, shape={self.values.shape}, "
            f"defined={defined}/{self.values.size})"
        )

    @property
    def defined(self) -> int:
        """Number of defined (finite) nodes.

        Examples
        --------
        >>> Surface(Lattice(ncol=2, nrow=2), [[1.0, float("nan")], [3.0, 4.0]]).defined
        3
        """
        return int(np.isfinite(self.values).sum())

    def depths_i_fastest(self) -> np.ndarray:
        """The values as the engine stores them: node (i, j) at ``i + ncol * j``.

        Examples
        --------
        >>> Surface(Lattice(ncol=2, nrow=2), [[1.0, 2.0], [3.0, 4.0]]).depths_i_fastest()
        array([1., 3., 2., 4.])
        """
        return np.ascontiguousarray(self.values.T).ravel()

    @classmethod
    def from_points(
        cls,
        lattice: Lattice,
        x: Any,
        y: Any,
        z: Any,
        name: str = "",
        *,
        outside: Literal["raise", "drop"] = "raise",
        solve: bool = False,
    ) -> Surface:
        """Scattered depths placed on their nearest nodes; the others stay undefined.

        Points sharing a node are averaged (an `InputWarning` says how many). A build grids
        the undefined nodes by minimum curvature; ``solve=True`` does that now (see `solved`).

        Parameters
        ----------
        lattice : Lattice
        x, y, z : array_like
            World positions and depths of the points.
        name : str
        outside : {"raise", "drop"}
            What to do with points beyond the lattice's outer nodes.
        solve : bool
            Return the solved surface instead of the node values.

        Examples
        --------
        >>> lat = Lattice(ncol=3, nrow=3, xinc=10.0, yinc=10.0)
        >>> s = Surface.from_points(lat, [0.0, 19.0], [0.0, 21.0], [1000.0, 1020.0], "B")
        >>> s.values[0, 0], s.values[2, 2], s.defined
        (np.float64(1000.0), np.float64(1020.0), 2)
        """
        label = f"Surface.from_points '{name}'" if name else "Surface.from_points"
        xs = _checks.float_array(x, f"{label} x", ndim=1)
        ys = _checks.float_array(y, f"{label} y", ndim=1)
        zs = _checks.float_array(z, f"{label} z", ndim=1)
        _checks.same_length(label, x=xs, y=ys, z=zs)
        if outside not in ("raise", "drop"):
            raise ValueError(f"outside must be 'raise' or 'drop', got {outside!r}")
        i, j = lattice.nearest_node(xs, ys)
        inside = (i >= 0) & (i < lattice.ncol) & (j >= 0) & (j < lattice.nrow)
        if not inside.all() and outside == "raise":
            first = int(np.argmin(inside))
            raise ValueError(
                f"{int((~inside).sum())} points of '{name}' fall outside the lattice; "
                f"first at ({xs[first]}, {ys[first]})"
            )
        node = i[inside] + lattice.ncol * j[inside]
        size = lattice.ncol * lattice.nrow
        hits = np.bincount(node, minlength=size)
        sums = np.bincount(node, weights=zs[inside], minlength=size)
        shared = int(hits[hits > 1].sum())
        if shared:
            warnings.warn(
                f"{shared} points of '{name}' share a node with another point and were averaged",
                InputWarning,
                stacklevel=2,
            )
        with np.errstate(invalid="ignore", divide="ignore"):
            flat = np.where(hits > 0, sums / np.maximum(hits, 1), np.nan)
        surface = cls(lattice, flat.reshape(lattice.nrow, lattice.ncol).T, name)
        return surface.solved() if solve else surface

    def solved(self, taper: Taper | None = None) -> Surface:
        """Every node filled by the engine's converged minimum-curvature solve through the
        defined nodes, tapered beyond the data when `taper` is given.

        The single-zone build solves its two surfaces this way (without taper); the
        horizon-stack build solves its reference horizon this way with the build's taper.

        Small lattices factor the equations' band. Larger ones whose defined nodes pin the
        surface (at least four, not all on one line) are solved through sine transforms of the
        whole lattice, at a cost that grows with the nodes times the defined nodes: a
        1001 x 1001 lattice from 50 wells takes about a second and a half and 0.4 GiB. Thousands
        of defined nodes take a sparse factorisation instead. A lattice whose solve would not fit
        in memory fails at once with an error naming the memory it needs.

        Examples
        --------
        >>> lat = Lattice(ncol=3, nrow=2, xinc=10.0, yinc=10.0)
        >>> nan = float("nan")
        >>> s = Surface(lat, [[1000.0, nan], [nan, nan], [nan, 1020.0]]).solved()
        >>> s.defined
        6
        """
        start = None if taper is None else taper.start
        width = None if taper is None else taper.width
        data = _zorvastatic._solve_surface(
            self.depths_i_fastest(), self.lattice.ncol, self.lattice.nrow, start, width
        )
        flat = np.frombuffer(data, dtype=np.float64)
        return Surface(
            self.lattice, flat.reshape(self.lattice.nrow, self.lattice.ncol).T, self.name
        )

    @classmethod
    def from_xtgeo(cls, surface: Any) -> Surface:
        """A copy of an xtgeo ``RegularSurface``: lattice, values (masked become NaN), name.

        Examples
        --------
        >>> import xtgeo
        >>> s = xtgeo.RegularSurface(ncol=3, nrow=2, xinc=25.0, yinc=25.0, values=1500.0)
        >>> Surface.from_xtgeo(s).values.shape
        (3, 2)
        """
        lattice = Lattice.from_xtgeo(surface)
        name = surface.name if isinstance(surface.name, str) else ""
        return cls(lattice, surface.values, name)

    def to_xtgeo(self) -> Any:
        """An xtgeo ``RegularSurface`` with this lattice and these values (NaN masked).

        Needs the ``xtgeo`` extra.

        Examples
        --------
        >>> lat = Lattice(ncol=2, nrow=2, rotation=30.0, yflip=True)
        >>> s = Surface(lat, [[1.0, 2.0], [3.0, 4.0]])
        >>> x = s.to_xtgeo()
        >>> x.yflip, x.rotation
        (-1, 30.0)
        """
        xtgeo = require("xtgeo", "xtgeo", "Surface.to_xtgeo()")
        lat = self.lattice
        return xtgeo.RegularSurface(
            ncol=lat.ncol,
            nrow=lat.nrow,
            xinc=lat.xinc,
            yinc=lat.yinc,
            xori=lat.xori,
            yori=lat.yori,
            yflip=-1 if lat.yflip else 1,
            rotation=lat.rotation,
            values=np.ma.masked_invalid(np.array(self.values)),
            name=self.name or "unknown",
        )
