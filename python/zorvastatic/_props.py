"""How property cubes are filled: variograms, neighbour search, trends, depth profiles and the
pipelines that upscale well logs and simulate between them."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any, Literal

import numpy as np

from . import _checks
from ._geom import ArrayRecord, Surface
from ._optional import require
from ._wells import WellLog

__all__ = ["ArealTrend", "DepthProfile", "Pipeline", "Search", "Trend", "Variogram"]

_MODELS = {
    "sph": "spherical",
    "spherical": "spherical",
    "exp": "exponential",
    "exponential": "exponential",
    "gauss": "gaussian",
    "gaussian": "gaussian",
}
_METHODS = {
    "arith": "arithmetic",
    "arithmetic": "arithmetic",
    "harmonic": "harmonic",
    "geo": "geometric",
    "geometric": "geometric",
}
# Engine ranges are practical ranges: the structure at lag h is f(k * h / range) in the
# GSTools form with rescale k, i.e. 1 - exp(-3h/a) and 1 - exp(-3(h/a)^2).
_RESCALE = {"spherical": 1.0, "exponential": 3.0, "gaussian": math.sqrt(3.0)}
_GSTOOLS_CLASSES = {"Spherical": "spherical", "Exponential": "exponential", "Gaussian": "gaussian"}


def _choice(value: Any, table: dict[str, str], name: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, got {type(value).__name__}")
    key = value.strip().lower()
    if key not in table:
        expected = ", ".join(repr(v) for v in dict.fromkeys(table.values()))
        raise ValueError(f"{name} must be one of {expected}, got {value!r}")
    return table[key]


@dataclass(frozen=True)
class Variogram:
    """An anisotropic variogram of the normal scores, with practical ranges.

    Parameters
    ----------
    model : {"spherical", "exponential", "gaussian"}
    major : float
        Range along the azimuth, metres.
    minor : float, optional
        Horizontal range across the azimuth; `major` when not given.
    vertical : float, optional
        Vertical range; `major` when not given. It only sizes the default search radius:
        layers are simulated one by one.
    azimuth : float
        Direction of the major axis, degrees clockwise from north.
    sill, nugget : float
        Partial sill of the structure and nugget; their sum must be positive.

    Examples
    --------
    >>> v = Variogram("spherical", major=800.0, minor=400.0, azimuth=30.0)
    >>> v.gamma([0.0, 400.0, 800.0, 1600.0]).tolist()
    [0.0, 0.6875, 1.0, 1.0]
    """

    model: str
    major: float
    minor: float | None = None
    vertical: float | None = None
    azimuth: float = 0.0
    sill: float = 1.0
    nugget: float = 0.0

    def __post_init__(self) -> None:
        set_ = object.__setattr__
        set_(self, "model", _choice(self.model, _MODELS, "Variogram.model"))
        set_(self, "major", _checks.positive(self.major, "Variogram.major"))
        set_(self, "minor", _checks.optional_positive(self.minor, "Variogram.minor"))
        set_(self, "vertical", _checks.optional_positive(self.vertical, "Variogram.vertical"))
        set_(self, "azimuth", _checks.finite(self.azimuth, "Variogram.azimuth"))
        for name in ("sill", "nugget"):
            value = _checks.finite(getattr(self, name), f"Variogram.{name}")
            if value < 0:
                raise ValueError(f"Variogram.{name} must be >= 0, got {value}")
            set_(self, name, value)
        if self.sill + self.nugget <= 0:
            raise ValueError("Variogram: sill + nugget must be > 0")

    @property
    def ranges(self) -> tuple[float, float, float]:
        """(major, minor, vertical) with the defaults applied.

        Examples
        --------
        >>> Variogram("exponential", major=500.0).ranges
        (500.0, 500.0, 500.0)
        """
        return (self.major, self.minor or self.major, self.vertical or self.major)

    def gamma(self, lag: Any) -> np.ndarray:
        """The semivariance at lags along the major axis (0 at lag 0, the nugget above it).

        Examples
        --------
        >>> Variogram("gaussian", major=100.0, nugget=0.1, sill=0.9).gamma([0.0, 1e6]).tolist()
        [0.0, 1.0]
        """
        h = np.asarray(lag, dtype=np.float64)
        r = h / self.major
        if self.model == "spherical":
            structure = np.where(r < 1.0, 1.5 * r - 0.5 * r**3, 1.0)
        elif self.model == "exponential":
            structure = 1.0 - np.exp(-3.0 * r)
        else:
            structure = 1.0 - np.exp(-3.0 * r * r)
        return np.where(h == 0, 0.0, self.nugget + self.sill * structure)

    @classmethod
    def from_gstools(cls, model: Any) -> Variogram:
        """The same variogram as a GSTools ``Spherical``, ``Exponential`` or ``Gaussian`` model.

        Any ``rescale`` and anisotropy in the horizontal plane map exactly; other models, and
        3-D rotations out of the horizontal plane, raise ValueError.

        Examples
        --------
        >>> import gstools as gs
        >>> m = gs.Exponential(dim=2, var=1.0, len_scale=[300.0, 150.0], angles=0.0, rescale=3.0)
        >>> v = Variogram.from_gstools(m)
        >>> v.model, v.major, v.minor, v.azimuth
        ('exponential', 300.0, 150.0, 90.0)
        """
        name = type(model).__name__
        module = type(model).__module__ or ""
        if not module.startswith("gstools") or name not in _GSTOOLS_CLASSES:
            raise ValueError(
                f"{name} has no exact engine variogram: use a GSTools Spherical, "
                "Exponential or Gaussian model"
            )
        kind = _GSTOOLS_CLASSES[name]
        if getattr(model, "latlon", False) or getattr(model, "temporal", False):
            raise ValueError(f"{name}: lat-lon and spatio-temporal models have no engine form")
        scale = _RESCALE[kind] / float(model.rescale)
        main = float(model.len_scale) * scale
        anis = np.atleast_1d(np.asarray(model.anis, dtype=np.float64))
        angles = np.atleast_1d(np.asarray(model.angles, dtype=np.float64))
        dim = int(model.dim)
        if dim == 1:
            return cls(kind, major=main, sill=float(model.var), nugget=float(model.nugget))
        if dim == 3 and np.any(angles[1:] != 0):
            raise ValueError(f"{name}: only a rotation about the vertical axis maps to an azimuth")
        azimuth = (90.0 - math.degrees(float(angles[0]))) % 360.0
        return cls(
            kind,
            major=main,
            minor=main * float(anis[0]),
            vertical=main * float(anis[1]) if dim == 3 else None,
            azimuth=azimuth,
            sill=float(model.var),
            nugget=float(model.nugget),
        )

    def to_gstools(self) -> Any:
        """The same variogram as a GSTools model (2-D, or 3-D when `vertical` is given).

        Needs the ``gstools`` extra.

        Examples
        --------
        >>> m = Variogram("spherical", major=800.0, minor=400.0, azimuth=30.0).to_gstools()
        >>> type(m).__name__, m.dim, float(m.len_scale)
        ('Spherical', 2, 800.0)
        """
        gstools = require("gstools", "gstools", "Variogram.to_gstools()")
        major, minor, vertical = self.ranges
        classes = {v: k for k, v in _GSTOOLS_CLASSES.items()}
        cls = getattr(gstools, classes[self.model])
        theta = math.radians(90.0 - self.azimuth)
        if self.vertical is None:
            dim, scales, angles = 2, [major, minor], theta
        else:
            dim, scales, angles = 3, [major, minor, vertical], [theta, 0.0, 0.0]
        return cls(
            dim=dim,
            var=self.sill,
            nugget=self.nugget,
            len_scale=scales,
            angles=angles,
            rescale=_RESCALE[self.model],
        )


@dataclass(frozen=True)
class Search:
    """An explicit neighbour search for the simulation.

    Examples
    --------
    >>> Search(max_neighbours=16, radius_m=1200.0)
    Search(max_neighbours=16, radius_m=1200.0)
    """

    max_neighbours: int
    radius_m: float

    def __post_init__(self) -> None:
        n = _checks.count(self.max_neighbours, "Search.max_neighbours", 1)
        object.__setattr__(self, "max_neighbours", n)
        object.__setattr__(self, "radius_m", _checks.positive(self.radius_m, "Search.radius_m"))


@dataclass(frozen=True)
class Trend:
    """A collocated secondary variable for the simulation: a map correlated with the property.

    Parameters
    ----------
    surface : Surface
        The map, on any lattice in the model's world frame; resampled to the column centres.
    rho : float
        Correlation with the property's normal scores, in [-1, 1].

    Examples
    --------
    >>> from zorvastatic import Lattice, Surface
    >>> seismic = Surface(Lattice(ncol=2, nrow=2), [[0.1, 0.2], [0.3, 0.4]])
    >>> Trend(seismic, rho=0.6).rho
    0.6
    """

    surface: Surface
    rho: float

    def __post_init__(self) -> None:
        if not isinstance(self.surface, Surface):
            raise TypeError(f"Trend.surface must be a Surface, got {type(self.surface).__name__}")
        rho = _checks.finite(self.rho, "Trend.rho")
        if not -1.0 <= rho <= 1.0:
            raise ValueError(f"Trend.rho must be within [-1, 1], got {rho}")
        object.__setattr__(self, "rho", rho)


@dataclass(frozen=True)
class ArealTrend:
    """A map that scales net-to-gross (and optionally porosity) column by column.

    Each column's factor is the map's value at the column centre over the map's mean there;
    results are clamped to [0, 1].

    Examples
    --------
    >>> from zorvastatic import Lattice, Surface
    >>> ntg_map = Surface(Lattice(ncol=2, nrow=2), [[0.5, 1.0], [1.0, 1.5]])
    >>> ArealTrend(ntg_map, scale_porosity=True).scale_porosity
    True
    """

    surface: Surface
    scale_porosity: bool = False

    def __post_init__(self) -> None:
        if not isinstance(self.surface, Surface):
            raise TypeError(
                f"ArealTrend.surface must be a Surface, got {type(self.surface).__name__}"
            )
        object.__setattr__(self, "scale_porosity", bool(self.scale_porosity))


@dataclass(frozen=True, eq=False, init=False)
class DepthProfile(ArrayRecord):
    """Porosity and water saturation by depth, overriding the priors cell by cell.

    A cell takes the mean porosity, and the pore-volume-weighted saturation, of the records
    within its depth span; cells without a record keep the priors.

    Parameters
    ----------
    depth : array_like
        Record depths, sorted ascending.
    porosity, water_saturation : array_like
        Fractions in [0, 1].

    Examples
    --------
    >>> DepthProfile([2000.0, 2010.0], [0.2, 0.25], [0.3, 0.2]).depth.tolist()
    [2000.0, 2010.0]
    >>> DepthProfile([2010.0, 2000.0], [0.2, 0.25], [0.3, 0.2])
    Traceback (most recent call last):
    ...
    ValueError: DepthProfile.depth must be sorted ascending: depth[1] = 2000.0 < depth[0] = 2010.0
    """

    depth: np.ndarray
    porosity: np.ndarray
    water_saturation: np.ndarray

    def __init__(self, depth: Any, porosity: Any, water_saturation: Any) -> None:
        d = _checks.float_array(depth, "DepthProfile.depth", ndim=1)
        p = _checks.float_array(porosity, "DepthProfile.porosity", ndim=1)
        s = _checks.float_array(water_saturation, "DepthProfile.water_saturation", ndim=1)
        if _checks.same_length("DepthProfile", depth=d, porosity=p, water_saturation=s) == 0:
            raise ValueError("DepthProfile needs at least one record")
        falling = np.flatnonzero(np.diff(d) < 0)
        if falling.size:
            n = int(falling[0]) + 1
            raise ValueError(
                f"DepthProfile.depth must be sorted ascending: depth[{n}] = {d[n]} < "
                f"depth[{n - 1}] = {d[n - 1]}"
            )
        for name, values in (("porosity", p), ("water_saturation", s)):
            bad = np.flatnonzero((values < 0) | (values > 1))
            if bad.size:
                n = int(bad[0])
                raise ValueError(f"DepthProfile.{name}[{n}] is {values[n]}; must be in [0, 1]")
        object.__setattr__(self, "depth", d)
        object.__setattr__(self, "porosity", p)
        object.__setattr__(self, "water_saturation", s)


@dataclass(frozen=True)
class Pipeline:
    """A property cube from well logs: upscaling into the cells the wells cross and, with a
    variogram, sequential Gaussian simulation of every layer conditioned on them.

    Parameters
    ----------
    property : str
        The cube's name, e.g. ``"PORO"``; it replaces the cube of that name.
    logs : sequence of WellLog
        Vertical wells; those outside the lattice are left out with a warning.
    method : {"arithmetic", "harmonic", "geometric"}
        How the samples inside a cell are averaged.
    variogram : Variogram, optional
        None: upscale only, cells no well reached stay NaN.
    seed : int
        Seed of the simulation; layer k uses ``seed ^ ((k + 1) * 0x9E3779B97F4A7C15)``.
    search : Search, optional
        None: 16 neighbours within 1.5 x the longest range (at least 4 columns).
    trend : Trend, optional
        A collocated secondary variable.
    allow_mean_fill : bool
        A layer no well reaches takes the mean instead of failing the build.
    unbounded_search : bool
        The default search radius spans the whole lattice.
    zone : str, optional
        Fill only this zone's layers (after the zone priors); None: the whole grid (before
        the zone priors).

    Examples
    --------
    >>> from zorvastatic import WellLog
    >>> logs = [WellLog("A1", 150.0, 250.0, [2002.0, 2011.0], [0.18, 0.22])]
    >>> poro = Pipeline("PORO", logs, variogram=Variogram("spherical", major=600.0), seed=7)
    >>> poro.method, poro.zone
    ('arithmetic', None)
    """

    property: str
    logs: Sequence[WellLog]
    method: Literal["arithmetic", "harmonic", "geometric"] = "arithmetic"
    variogram: Variogram | None = None
    seed: int = 0
    search: Search | None = None
    trend: Trend | None = None
    allow_mean_fill: bool = False
    unbounded_search: bool = False
    zone: str | None = field(default=None)

    def __post_init__(self) -> None:
        set_ = object.__setattr__
        set_(self, "property", _checks.text(self.property, "Pipeline.property").strip())
        label = f"Pipeline '{self.property}'"
        if isinstance(self.logs, WellLog):
            raise TypeError(f"{label}: logs must be a sequence of WellLog, not one WellLog")
        logs = tuple(self.logs)
        if not logs:
            raise ValueError(f"{label} needs at least one WellLog")
        for n, log in enumerate(logs):
            if not isinstance(log, WellLog):
                raise TypeError(f"{label}: logs[{n}] is a {type(log).__name__}, not a WellLog")
        set_(self, "logs", logs)
        set_(self, "method", _choice(self.method, _METHODS, f"{label} method"))
        if self.method != "arithmetic":
            for log in logs:
                bad = np.flatnonzero(log.values <= 0)
                if bad.size:
                    raise ValueError(
                        f"{label}: {self.method} upscaling needs values > 0; WellLog "
                        f"'{log.name}' values[{int(bad[0])}] is {log.values[bad[0]]}"
                    )
        seed = _checks.count(self.seed, f"{label} seed")
        if seed >= 2**64:
            raise ValueError(f"{label} seed must be below 2**64, got {seed}")
        set_(self, "seed", seed)
        for name, kind in (("variogram", Variogram), ("search", Search), ("trend", Trend)):
            value = getattr(self, name)
            if value is not None and not isinstance(value, kind):
                raise TypeError(f"{label}: {name} must be a {kind.__name__} or None")
        if self.variogram is None and (self.search is not None or self.trend is not None):
            raise ValueError(
                f"{label}: search and trend belong to the simulation; give a variogram"
            )
        set_(self, "allow_mean_fill", bool(self.allow_mean_fill))
        set_(self, "unbounded_search", bool(self.unbounded_search))
        if self.zone is not None:
            set_(self, "zone", _checks.text(self.zone, f"{label} zone"))
