"""The description of a model: horizons, zones with their layering, contacts and priors, well
ties, pipelines and build options, gathered in a `ModelSpec`.

Every part is a frozen dataclass: specs pickle, compare by value and vary with
``dataclasses.replace``.
"""

from __future__ import annotations

from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Literal

from . import _checks
from ._geom import Lattice, Surface, Taper
from ._props import ArealTrend, DepthProfile, Pipeline
from ._wells import Picks

if TYPE_CHECKING:
    from ._model import Model
    from ._progress import ProgressArg

__all__ = [
    "BaseConform",
    "BuildOptions",
    "Contacts",
    "Horizon",
    "ModelSpec",
    "Priors",
    "Proportional",
    "TopConform",
    "Zone",
]


@dataclass(frozen=True)
class Proportional:
    """`nk` layers of equal thickness at every column, from the zone's top to its base.

    Examples
    --------
    >>> Proportional(12).nk
    12
    """

    nk: int

    def __post_init__(self) -> None:
        object.__setattr__(self, "nk", _checks.count(self.nk, "Proportional.nk", 1))


@dataclass(frozen=True)
class TopConform:
    """Layers `dz` metres thick parallel to the zone's top, running out against its base.

    The layer count is the thickest column over `dz`, rounded up (at most 200).

    Examples
    --------
    >>> TopConform(dz=2.0).dz
    2.0
    """

    dz: float

    def __post_init__(self) -> None:
        object.__setattr__(self, "dz", _checks.positive(self.dz, "TopConform.dz"))


@dataclass(frozen=True)
class BaseConform:
    """Layers `dz` metres thick parallel to the zone's base, running out against its top.

    Examples
    --------
    >>> BaseConform(dz=1.5).dz
    1.5
    """

    dz: float

    def __post_init__(self) -> None:
        object.__setattr__(self, "dz", _checks.positive(self.dz, "BaseConform.dz"))


Layering = Proportional | TopConform | BaseConform


@dataclass(frozen=True)
class Contacts:
    """The fluid contacts of a zone, depths in metres; any may be absent.

    With a GOC and an OWC the zone has a gas cap above the GOC and an oil leg down to the
    OWC; with one contact every cell above it counts as hydrocarbon.

    Examples
    --------
    >>> Contacts(goc=1690.0, owc=1725.0).pairs()
    [('goc', 1690.0), ('owc', 1725.0)]
    >>> Contacts(goc=1750.0, owc=1725.0)
    Traceback (most recent call last):
    ...
    ValueError: Contacts: goc (1750.0) must not be deeper than owc (1725.0)
    """

    owc: float | None = None
    goc: float | None = None
    gwc: float | None = None

    def __post_init__(self) -> None:
        for name in ("owc", "goc", "gwc"):
            value = getattr(self, name)
            if value is not None:
                object.__setattr__(self, name, _checks.finite(value, f"Contacts.{name}"))
        for lower in ("owc", "gwc"):
            depth = getattr(self, lower)
            if self.goc is not None and depth is not None and self.goc > depth:
                raise ValueError(
                    f"Contacts: goc ({self.goc}) must not be deeper than {lower} ({depth})"
                )

    def pairs(self) -> list[tuple[str, float]]:
        """The contacts present as (kind, depth), gas first.

        Examples
        --------
        >>> Contacts(owc=2100.0).pairs()
        [('owc', 2100.0)]
        """
        return [
            (k, getattr(self, k)) for k in ("goc", "owc", "gwc") if getattr(self, k) is not None
        ]


@dataclass(frozen=True)
class Priors:
    """Constant porosity, net-to-gross and water saturation (fractions in [0, 1]).

    Examples
    --------
    >>> Priors(porosity=0.22, net_to_gross=0.85, water_saturation=0.25).porosity
    0.22
    """

    porosity: float = 0.25
    net_to_gross: float = 0.8
    water_saturation: float = 0.3

    def __post_init__(self) -> None:
        for name in ("porosity", "net_to_gross", "water_saturation"):
            object.__setattr__(self, name, _checks.fraction(getattr(self, name), f"Priors.{name}"))


@dataclass(frozen=True)
class Zone:
    """The interval between two adjacent horizons.

    Parameters
    ----------
    name : str
    layering : Proportional, TopConform or BaseConform
    contacts : Contacts
        The zone's own fluid contacts.
    priors : Priors, optional
        Constant properties of this zone's cells, over the model's priors.
    color : str, optional
        Display colour, e.g. ``"#d9a441"``.

    Examples
    --------
    >>> Zone("A", Proportional(12), contacts=Contacts(owc=1725.0)).contacts.owc
    1725.0
    """

    name: str
    layering: Layering
    contacts: Contacts = field(default_factory=Contacts)
    priors: Priors | None = None
    color: str | None = None

    def __post_init__(self) -> None:
        _checks.text(self.name, "Zone.name")
        label = f"Zone '{self.name}'"
        if not isinstance(self.layering, (Proportional, TopConform, BaseConform)):
            raise TypeError(
                f"{label}: layering must be Proportional, TopConform or BaseConform, "
                f"got {type(self.layering).__name__}"
            )
        if not isinstance(self.contacts, Contacts):
            raise TypeError(
                f"{label}: contacts must be Contacts, got {type(self.contacts).__name__}"
            )
        if self.priors is not None and not isinstance(self.priors, Priors):
            raise TypeError(f"{label}: priors must be Priors or None")
        if self.color is not None and not isinstance(self.color, str):
            raise TypeError(f"{label}: color must be a str or None")


@dataclass(frozen=True)
class Horizon:
    """A horizon of the stack: mapped (a surface, NaN holes allowed) or known from picks only.

    Parameters
    ----------
    name : str
    surface : Surface, optional
        The horizon's depth map on the model's lattice.
    picks : Picks, optional
        Well tops; those naming this horizon are used.

    Examples
    --------
    >>> from zorvastatic import Lattice, Surface, Picks
    >>> lat = Lattice(ncol=2, nrow=2, xinc=100.0, yinc=100.0)
    >>> Horizon("TopA", Surface(lat, [[1700.0, 1702.0], [1701.0, 1703.0]])).mapped
    True
    >>> Horizon("TopB", picks=Picks(["A1"], ["TopB"], [50.0], [50.0], [1750.0])).mapped
    False
    """

    name: str
    surface: Surface | None = None
    picks: Picks | None = None

    def __post_init__(self) -> None:
        _checks.text(self.name, "Horizon.name")
        if (self.surface is None) == (self.picks is None):
            raise ValueError(f"Horizon '{self.name}' needs either a surface or picks (not both)")
        if self.surface is not None and not isinstance(self.surface, Surface):
            raise TypeError(f"Horizon '{self.name}': surface must be a Surface")
        if self.picks is not None:
            if not isinstance(self.picks, Picks):
                raise TypeError(f"Horizon '{self.name}': picks must be Picks")
            if self.name not in self.picks.horizons:
                raise ValueError(f"Horizon '{self.name}': no pick names it")

    @property
    def mapped(self) -> bool:
        """Whether the horizon has a surface (else it is known from picks only).

        Examples
        --------
        >>> Horizon("T", picks=Picks(["W"], ["T"], [0.0], [0.0], [1.0])).mapped
        False
        """
        return self.surface is not None

    def own_picks(self) -> Picks:
        """The picks naming this horizon (tops-only horizons).

        Examples
        --------
        >>> p = Picks(["W", "W"], ["T", "U"], [0.0, 0.0], [0.0, 0.0], [1.0, 2.0])
        >>> Horizon("T", picks=p).own_picks().z
        array([1.])
        """
        if self.picks is None:
            raise ValueError(f"Horizon '{self.name}' is mapped, not known from picks")
        return self.picks.only(self.name)


@dataclass(frozen=True)
class BuildOptions:
    """How the engine builds: interface repair, thin layers, tapering, memory.

    Parameters
    ----------
    min_thickness_m : float, optional
        Lower surfaces are pushed down to at least this far below the upper ones (repairs are
        recorded); None: crossing surfaces fail the build unless `clamp_crossings`.
    clamp_crossings : bool
        Crossing surfaces are made to meet instead of failing the build.
    collapse_below_m : float, optional
        Layers thinner than this are merged into their neighbours.
    taper : Taper, optional
        Pulls mapped horizons towards the nearest data far from it (horizon stacks only).
    sw_gas : float, optional
        Water saturation of gas-cap cells in the volumes; None: the cells' own SW.
    memory_budget : "auto" or int
        Models above this many bytes (estimated) go to a memory-mapped store file;
        "auto" is half the physical memory.
    spill_dir : str, optional
        Directory of store files; None: ``$TMPDIR`` (else ``/tmp``).
    keep_store : bool
        Keep the store file when the model is closed.
    sugar_cube : bool
        Sections draw layers flat across each column.
    picks_outside : {"raise", "drop"}
        What to do with picks beyond the lattice.

    Examples
    --------
    >>> BuildOptions(min_thickness_m=0.5, memory_budget=2**30).memory_budget
    1073741824
    """

    min_thickness_m: float | None = None
    clamp_crossings: bool = False
    collapse_below_m: float | None = None
    taper: Taper | None = field(default_factory=Taper)
    sw_gas: float | None = None
    memory_budget: Literal["auto"] | int = "auto"
    spill_dir: str | None = None
    keep_store: bool = False
    sugar_cube: bool = False
    picks_outside: Literal["raise", "drop"] = "raise"

    def __post_init__(self) -> None:
        set_ = object.__setattr__
        if self.min_thickness_m is not None:
            value = _checks.finite(self.min_thickness_m, "BuildOptions.min_thickness_m")
            if value < 0:
                raise ValueError(f"BuildOptions.min_thickness_m must be >= 0, got {value}")
            set_(self, "min_thickness_m", value)
        set_(
            self,
            "collapse_below_m",
            _checks.optional_positive(self.collapse_below_m, "BuildOptions.collapse_below_m"),
        )
        if self.sw_gas is not None:
            set_(self, "sw_gas", _checks.fraction(self.sw_gas, "BuildOptions.sw_gas"))
        if self.taper is not None and not isinstance(self.taper, Taper):
            raise TypeError("BuildOptions.taper must be a Taper or None")
        if self.memory_budget != "auto":
            set_(
                self,
                "memory_budget",
                _checks.count(self.memory_budget, "BuildOptions.memory_budget", 1),
            )
        if self.spill_dir is not None:
            set_(self, "spill_dir", str(self.spill_dir))
        if self.picks_outside not in ("raise", "drop"):
            raise ValueError(
                f"BuildOptions.picks_outside must be 'raise' or 'drop', got {self.picks_outside!r}"
            )
        for name in ("clamp_crossings", "keep_store", "sugar_cube"):
            set_(self, name, bool(getattr(self, name)))


@dataclass(frozen=True)
class ModelSpec:
    """Everything a build needs.

    The engine works in this order: surfaces (with the well ties), interfaces, layering, the
    model's `priors` with the `depth_profile` and `areal_trend`, whole-grid pipelines, zone
    priors, zone pipelines.

    Parameters
    ----------
    lattice : Lattice
        The model's areal lattice: one pillar per node.
    horizons : sequence of Horizon
        Shallowest first; at least one mapped.
    zones : sequence of Zone
        One between each pair of adjacent horizons.
    well_ties : Picks, optional
        Picks the mapped horizons are tied to at their nearest node; residuals are recorded.
    tie_radius_m : float, optional
        A tie moves the surface within this radius, linearly less with distance; None: the
        node only.
    pipelines : sequence of Pipeline
    priors : Priors
        Constant properties of every cell before zones and pipelines.
    depth_profile : DepthProfile, optional
    areal_trend : ArealTrend, optional
    options : BuildOptions
    name : str, optional
        A reference to the inputs, kept in the provenance.

    Examples
    --------
    >>> import numpy as np
    >>> from zorvastatic import Lattice, Surface
    >>> lat = Lattice(ncol=5, nrow=4, xinc=100.0, yinc=100.0)
    >>> top = Surface(lat, np.full((5, 4), 2000.0), "Top")
    >>> base = Surface(lat, np.full((5, 4), 2050.0), "Base")
    >>> spec = ModelSpec(lat, [Horizon("Top", top), Horizon("Base", base)],
    ...                  [Zone("Res", Proportional(5), Contacts(owc=2030.0))])
    >>> spec.road
    'single-zone'
    """

    lattice: Lattice
    horizons: Sequence[Horizon]
    zones: Sequence[Zone]
    well_ties: Picks | None = None
    tie_radius_m: float | None = None
    pipelines: Sequence[Pipeline] = ()
    priors: Priors = field(default_factory=Priors)
    depth_profile: DepthProfile | None = None
    areal_trend: ArealTrend | None = None
    options: BuildOptions = field(default_factory=BuildOptions)
    name: str | None = None

    def __post_init__(self) -> None:
        set_ = object.__setattr__
        if not isinstance(self.lattice, Lattice):
            raise TypeError(
                f"ModelSpec.lattice must be a Lattice, got {type(self.lattice).__name__}"
            )
        for attribute, kind in (("horizons", Horizon), ("zones", Zone), ("pipelines", Pipeline)):
            items = getattr(self, attribute)
            if isinstance(items, (str, kind)):
                raise TypeError(f"ModelSpec.{attribute} must be a sequence of {kind.__name__}")
            items = tuple(items)
            for n, item in enumerate(items):
                if not isinstance(item, kind):
                    raise TypeError(
                        f"ModelSpec.{attribute}[{n}] is a {type(item).__name__}, "
                        f"not a {kind.__name__}"
                    )
            set_(self, attribute, items)
        checks: tuple[tuple[str, Any], ...] = (
            ("well_ties", Picks),
            ("priors", Priors),
            ("depth_profile", DepthProfile),
            ("areal_trend", ArealTrend),
            ("options", BuildOptions),
        )
        for attribute, kind in checks:
            value = getattr(self, attribute)
            if value is not None and not isinstance(value, kind):
                raise TypeError(f"ModelSpec.{attribute} must be a {kind.__name__}")
        set_(
            self,
            "tie_radius_m",
            _checks.optional_positive(self.tie_radius_m, "ModelSpec.tie_radius_m"),
        )
        if self.name is not None:
            _checks.text(self.name, "ModelSpec.name")

    @property
    def road(self) -> Literal["single-zone", "stack"]:
        """Which road the engine takes: ``"single-zone"`` for one zone between two mapped
        horizons without well ties (it can stream out of core while building), else
        ``"stack"``.

        Examples
        --------
        >>> from zorvastatic import Lattice, Surface
        >>> lat = Lattice(ncol=2, nrow=2)
        >>> s = Surface(lat, [[1.0, 1.0], [1.0, 1.0]])
        >>> hs = [Horizon("A", s), Horizon("B", s), Horizon("C", s)]
        >>> zs = [Zone("Z1", Proportional(1)), Zone("Z2", Proportional(1))]
        >>> ModelSpec(lat, hs, zs).road
        'stack'
        """
        single = (
            len(self.zones) == 1
            and len(self.horizons) == 2
            and all(h.mapped for h in self.horizons)
            and (self.well_ties is None or len(self.well_ties) == 0)
        )
        return "single-zone" if single else "stack"

    def validate(self) -> None:
        """Runs every check the package makes before a build, without building.

        Raises
        ------
        ValueError
            The first problem found, naming the field of the ModelSpec it lies in.

        Examples
        --------
        >>> from zorvastatic import Lattice, Surface
        >>> lat = Lattice(ncol=2, nrow=2)
        >>> s = Surface(lat, [[1.0, 1.0], [1.0, 1.0]])
        >>> ModelSpec(lat, [Horizon("A", s), Horizon("B", s)], []).validate()  # doctest: +ELLIPSIS
        Traceback (most recent call last):
        ...
        ValueError: ModelSpec has 2 horizons and 0 zones; it needs one zone between each pair of...
        """
        from ._lower import check

        check(self)

    def build(self, *, progress: ProgressArg = None) -> Model:
        """Builds the model: ``build(spec, progress=progress)``.

        Examples
        --------
        >>> from zorvastatic import Lattice, Surface
        >>> lat = Lattice(ncol=3, nrow=3, xinc=100.0, yinc=100.0)
        >>> hs = [Horizon("T", Surface(lat, [[2000.0] * 3] * 3)),
        ...       Horizon("B", Surface(lat, [[2010.0] * 3] * 3))]
        >>> ModelSpec(lat, hs, [Zone("Z", Proportional(2), Contacts(owc=2100.0))]).build().dims
        (2, 2, 2)
        """
        from ._model import build

        return build(self, progress=progress)
