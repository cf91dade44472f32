"""What a build recorded about itself, as plain Python records."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

from ._optional import require

__all__ = [
    "BuildNote",
    "HorizonResolution",
    "InterfaceRepair",
    "PropertyReport",
    "Provenance",
    "TieResidual",
    "ZoneLayering",
]


def _number(value: float) -> str:
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


@dataclass(frozen=True)
class TieResidual:
    """One pick of a well tie: the surface depth at the tie node before the tie, and the
    residual pick minus surface.

    Examples
    --------
    >>> TieResidual("A1", "TopB", 1750.0, 1748.5, 1.5, 100.0, 200.0, 4, 7).residual_m
    1.5
    """

    well: str
    horizon: str
    pick_m: float
    surface_m: float
    residual_m: float
    x: float
    y: float
    i: int
    j: int


@dataclass(frozen=True)
class InterfaceRepair:
    """Nodes of one interface moved to keep the lower surface below the upper one.

    `value_m` is the smallest separation met among the moved nodes (upper adjusted) or the
    worst thickness found (lower repaired), metres.

    Examples
    --------
    >>> InterfaceRepair("TopB", "BaseC", 12, -0.4).nodes
    12
    """

    upper: str
    lower: str
    nodes: int
    value_m: float


@dataclass(frozen=True)
class PropertyReport:
    """Quality summary of one pipeline: cells the wells informed and their statistics.

    Examples
    --------
    >>> PropertyReport("PORO", 40, 52, 0.2, 0.21, 0.1, 0.3, True).simulated
    True
    """

    property: str
    informed_cells: int
    sample_count: int
    sample_mean: float
    upscaled_mean: float
    min: float
    max: float
    simulated: bool


@dataclass(frozen=True)
class BuildNote:
    """One warning of the build; it was also issued as a `BuildWarning`.

    `kind` is one of ``"horizon"``, ``"thickness_repaired"``, ``"pinched_cells"``,
    ``"collapsed_cells"``, ``"layers_capped"``.

    Examples
    --------
    >>> BuildNote("pinched_cells", "12 cell(s) have no thickness", None, 12, 0.0).count
    12
    """

    kind: str
    message: str
    horizon: str | None
    count: int
    worst_m: float

    @classmethod
    def _from_record(cls, record: dict[str, Any]) -> BuildNote:
        kind, count, worst = record["kind"], record["count"], record["worst_m"]
        messages = {
            "horizon": f"horizon '{record['horizon']}' ({record['role']}): {record['message']}",
            "thickness_repaired": (
                f"{count} base node(s) moved down to the minimum thickness; worst separation "
                f"{_number(worst)} m"
            ),
            "pinched_cells": f"{count} cell(s) have no thickness (pinched out)",
            "collapsed_cells": f"{count} cell(s) collapsed below the thin-layer threshold",
            "layers_capped": f"the layer count was capped; the grid has {count} layers",
        }
        return cls(kind, messages[kind], record["horizon"], count, worst)


@dataclass(frozen=True)
class HorizonResolution:
    """How a horizon of the stack was resolved into a surface.

    `method` is one of ``"reference"``, ``"isochore"``, ``"rebuilt_against"``,
    ``"own_nodes"``, ``"tops_between"``, ``"tops_below"``, ``"tops_above"``; `anchor` is the
    horizon its thickness is measured from.

    Examples
    --------
    >>> HorizonResolution("TopB", False, "tops_between", "TopA", 4).mapped
    False
    """

    horizon: str
    mapped: bool
    method: str
    anchor: str
    controls: int


@dataclass(frozen=True)
class ZoneLayering:
    """How a zone of the stack was layered.

    Examples
    --------
    >>> ZoneLayering("A", "TopA", "TopB", 0, 12, 12, "proportional", 0.0, 0, 0).nk
    12
    """

    zone: str
    top: str
    base: str
    k_start: int
    k_end: int
    nk: int
    conformity: str
    dz_m: float
    pinched_cells: int
    collapsed_cells: int


@dataclass(frozen=True)
class Provenance:
    """How a model was built: road, warnings, pipeline reports and, for horizon stacks, well
    ties, interface repairs and how each horizon and zone was resolved.

    Examples
    --------
    >>> Provenance("wireframe", "single-zone", (), (), (), (), (), ()).ties
    ()
    """

    inputs_ref: str
    road: str
    warnings: tuple[BuildNote, ...]
    reports: tuple[PropertyReport, ...]
    ties: tuple[TieResidual, ...]
    repairs: tuple[InterfaceRepair, ...]
    horizons: tuple[HorizonResolution, ...]
    zones: tuple[ZoneLayering, ...]

    @classmethod
    def _from_record(
        cls, record: dict[str, Any], road: str, horizon_names: list[str]
    ) -> Provenance:
        stack = record["stack"] or {"ties": [], "repairs": [], "horizons": [], "zones": []}
        ties = tuple(
            TieResidual(
                tie["name"],
                r["horizon"],
                r["pick_m"],
                r["surface_m"],
                r["residual_m"],
                tie["x"],
                tie["y"],
                tie["i"],
                tie["j"],
            )
            for tie in stack["ties"]
            for r in tie["residuals"]
        )
        repairs = tuple(
            InterfaceRepair(
                horizon_names[r["interface"]],
                horizon_names[r["interface"] + 1],
                r["nodes"],
                r["value_m"],
            )
            for r in stack["repairs"]
        )
        return cls(
            inputs_ref=record["inputs_ref"],
            road=road,
            warnings=tuple(BuildNote._from_record(w) for w in record["warnings"]),
            reports=tuple(PropertyReport(**r) for r in record["reports"]),
            ties=ties,
            repairs=repairs,
            horizons=tuple(HorizonResolution(**h) for h in stack["horizons"]),
            zones=tuple(ZoneLayering(**z) for z in stack["zones"]),
        )

    def ties_frame(self) -> Any:
        """The tie residuals as a pandas DataFrame. Needs the ``tables`` extra.

        Examples
        --------
        >>> empty = Provenance("wireframe", "stack", (), (), (), (), (), ())
        >>> empty.ties_frame().columns.tolist()[:3]
        ['well', 'horizon', 'pick_m']
        """
        pandas = require("pandas", "tables", "Provenance.ties_frame()")
        columns = list(TieResidual.__dataclass_fields__)
        return pandas.DataFrame([vars(t) for t in self.ties], columns=columns)
