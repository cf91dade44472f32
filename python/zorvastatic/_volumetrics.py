"""The in-place volumes table: per zone, region and fluid, in the column order of the field's
volumetrics reports."""

from __future__ import annotations

import math
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

import numpy as np

from ._optional import require

__all__ = ["COLUMNS", "Fluids"]

COLUMNS = (
    "ZONE",
    "REGION",
    "FLUID",
    "BULK",
    "NET",
    "PORV",
    "HCPV",
    "STOIIP",
    "GIIP",
    "ASSOCIATEDGAS",
    "ASSOCIATEDOIL",
)
_FLUIDS = ("oil", "gas", "water")  # the engine's order


@dataclass(frozen=True)
class Fluids:
    """Formation volume factors and solution ratios of a zone's fluids.

    Parameters
    ----------
    bo : float
        Oil formation volume factor, Rm³/Sm³ (>= 1).
    bg : float, optional
        Gas formation volume factor, Rm³/Sm³ (in (0, 1)); without it GIIP is NaN.
    rs : float, optional
        Solution gas-oil ratio, Sm³/Sm³ (>= 0): ASSOCIATEDGAS = STOIIP * rs.
    rv : float, optional
        Vaporised oil-gas ratio, Sm³/Sm³ (>= 0): ASSOCIATEDOIL = GIIP * rv.

    Examples
    --------
    >>> Fluids(bo=1.25, bg=0.0045, rs=120.0)
    Fluids(bo=1.25, bg=0.0045, rs=120.0, rv=None)
    >>> Fluids(rs=-1.0)
    Traceback (most recent call last):
    ...
    ValueError: Fluids.rs must be finite and >= 0, got -1.0
    """

    bo: float = 1.0
    bg: float | None = None
    rs: float | None = None
    rv: float | None = None

    def __post_init__(self) -> None:
        # bo and bg are checked by the engine, with its own messages, when a table is made.
        for name in ("rs", "rv"):
            value = getattr(self, name)
            if value is not None and not (math.isfinite(float(value)) and float(value) >= 0):
                raise ValueError(f"Fluids.{name} must be finite and >= 0, got {value}")


def zone_fluids(fluids: Fluids | Mapping[str, Fluids] | None, zones: list[str]) -> list[Fluids]:
    """One `Fluids` per zone from one for all, or a dict naming every zone."""
    if fluids is None:
        return [Fluids()] * len(zones)
    if isinstance(fluids, Fluids):
        return [fluids] * len(zones)
    if not isinstance(fluids, Mapping):
        raise TypeError(f"fluids must be a Fluids or a dict of them, got {type(fluids).__name__}")
    unknown = sorted(set(fluids) - set(zones))
    if unknown:
        raise KeyError(f"fluids name zones the model does not have: {', '.join(unknown)}")
    missing = [zone for zone in zones if zone not in fluids]
    if missing:
        raise KeyError(f"fluids has no entry for zone(s): {', '.join(missing)}")
    for zone, value in fluids.items():
        if not isinstance(value, Fluids):
            raise TypeError(f"fluids[{zone!r}] must be a Fluids, got {type(value).__name__}")
    return [fluids[zone] for zone in zones]


def dense_regions(
    regions: Any, dims: tuple[int, int, int]
) -> tuple[np.ndarray | None, np.ndarray, bool]:
    """Region ids as the engine takes them: dense from 0 in its cell or column order.

    Returns the dense ids (float64, or None for no regions), the original id of each dense one,
    and whether there is one id per cell rather than per column.
    """
    ni, nj, nk = dims
    if regions is None:
        return None, np.array([0]), False
    ids = np.asarray(regions)
    if ids.shape not in ((ni, nj), (ni, nj, nk)):
        raise ValueError(
            f"regions must have shape {(ni, nj)} (one id per column) or {(ni, nj, nk)} "
            f"(one per cell), got {ids.shape}"
        )
    if ids.dtype.kind not in "iub":
        raise ValueError(f"regions must hold integers, got dtype {ids.dtype}")
    if ids.size and int(ids.min()) < 0:
        raise ValueError(f"region ids must not be negative, got {int(ids.min())}")
    per_cell = ids.ndim == 3
    engine_order = ids.transpose(2, 1, 0) if per_cell else ids.T  # i fastest
    originals, dense = np.unique(
        np.ascontiguousarray(engine_order).reshape(-1), return_inverse=True
    )
    return dense.astype(np.float64), originals, per_cell


def table_columns(
    sums: np.ndarray,
    zones: list[str],
    region_labels: list[Any],
    fluids: list[Fluids],
) -> dict[str, np.ndarray]:
    """The table's columns from the engine's sums ``(zones, regions, 3, 5)``: one row per zone,
    region and fluid that has cells."""
    rows: dict[str, list[Any]] = {name: [] for name in COLUMNS}
    nan = math.nan
    for z, zone in enumerate(zones):
        fluid = fluids[z]
        for r, region in enumerate(region_labels):
            for f, name in enumerate(_FLUIDS):
                bulk, net, porv, hcpv, cells = sums[z, r, f].tolist()
                if cells == 0:
                    continue
                stoiip = hcpv / fluid.bo if name == "oil" else nan
                giip = hcpv / fluid.bg if name == "gas" and fluid.bg is not None else nan
                rows["ZONE"].append(zone)
                rows["REGION"].append(region)
                rows["FLUID"].append(name)
                rows["BULK"].append(bulk)
                rows["NET"].append(net)
                rows["PORV"].append(porv)
                rows["HCPV"].append(hcpv if name != "water" else nan)
                rows["STOIIP"].append(stoiip)
                rows["GIIP"].append(giip)
                rows["ASSOCIATEDGAS"].append(stoiip * fluid.rs if fluid.rs is not None else nan)
                rows["ASSOCIATEDOIL"].append(giip * fluid.rv if fluid.rv is not None else nan)
    columns: dict[str, np.ndarray] = {}
    for name in COLUMNS:
        kind = object if name in ("ZONE", "REGION", "FLUID") else np.float64
        columns[name] = np.array(rows[name], dtype=kind)
    return columns


class VolumetricsMixin:
    """The in-place table of `Model`."""

    raw: Any
    _dims: tuple[int, int, int]

    def volumetrics(
        self,
        fluids: Fluids | Mapping[str, Fluids] | None = None,
        regions: Any = None,
        region_names: Mapping[int, str] | None = None,
        region_name: str = "ALL",
        as_frame: bool = True,
    ) -> Any:
        """In-place volumes per zone, region and fluid, in one pass over the cells.

        Columns: ``ZONE, REGION, FLUID, BULK, NET, PORV, HCPV, STOIIP, GIIP, ASSOCIATEDGAS,
        ASSOCIATEDOIL`` (m³ and Sm³), one row per zone, region and fluid (``oil``, ``gas``,
        ``water``) that has cells. A cell counts whole, by its mean corner depth against its
        zone's contacts, when its volume is positive, as in `in_place_by_zone`: gas above the
        GOC (or every hydrocarbon cell of a zone whose only contact is a GWC), oil down to the
        lower contact, water at and below it and in zones without contacts. NET = Σ v·NTG,
        PORV = Σ v·NTG·PORO, HCPV = Σ PORV·(1 − SW) (the gas cap uses ``sw_gas`` when the model
        has one). Without regions the oil and gas HCPV of a zone add up exactly to its
        `in_place_by_zone` HCPV. HCPV, STOIIP and GIIP are NaN on water rows, STOIIP on gas
        rows, GIIP on oil rows, and where a factor is not given. Water rows take PORO and NTG as
        they are: NaN values (or a missing cube) make their NET and PORV NaN.

        Parameters
        ----------
        fluids : Fluids or dict of str to Fluids, optional
            Factors for every zone, or per zone name (every zone named); default ``Fluids()``.
        regions : array of int, optional
            Region id per column ``(ni, nj)`` or per cell ``(ni, nj, nk)``, ids >= 0.
        region_names : dict of int to str, optional
            Names for region ids; ids without one keep the number.
        region_name : str
            REGION of every row when there are no regions.
        as_frame : bool
            A pandas DataFrame (default; needs pandas) or a dict of numpy columns.

        Raises
        ------
        ImportError
            pandas is missing and ``as_frame`` is true.
        InvalidInputError
            A formation volume factor out of range (the engine's message), a zone's contacts,
            a missing cube, or an invalid value in a hydrocarbon cell.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> table = _example().volumetrics(as_frame=False)
        >>> table["FLUID"].tolist(), float(table["HCPV"][0]), float(table["BULK"][0])
        (['oil'], 56000.0, 400000.0)
        """
        pandas = None
        if as_frame:
            pandas = require("pandas", "tables", "model.volumetrics()")
        zones = [z.name for z in getattr(self, "zones", ())]
        per_zone = zone_fluids(fluids, zones)
        ids, originals, per_cell = dense_regions(regions, self._dims)
        sums = np.asarray(
            self.raw._volume_table(
                ids,
                len(originals),
                per_cell,
                [(f.bo, f.bg) for f in per_zone],
            )
        )
        if regions is None:
            labels: list[Any] = [region_name]
        else:
            names = dict(region_names or {})
            labels = [names.get(int(r), int(r)) for r in originals.tolist()]
        columns = table_columns(sums, zones, labels, per_zone)
        if pandas is None:
            return columns
        return pandas.DataFrame(columns, columns=list(COLUMNS))
