"""`build` and the `Model` it returns."""

from __future__ import annotations

import json
import warnings
from dataclasses import dataclass
from types import TracebackType
from typing import Any

from ._geom import Lattice
from ._lower import lower
from ._model_arrays import ArraysMixin
from ._model_files import FilesMixin
from ._model_views import ModelViews
from ._progress import ProgressArg, reporting
from ._provenance import Provenance
from ._spec import ModelSpec
from ._volumetrics import VolumetricsMixin
from ._warnings import BuildWarning

__all__ = ["Model", "ZoneInfo", "ZoneVolumes", "build"]


@dataclass(frozen=True)
class ZoneInfo:
    """A zone of a built model: its bounding horizons and its layers ``k_start <= k < k_end``.

    Examples
    --------
    >>> ZoneInfo("A", "TopA", "TopB", 0, 12, "#d9a441").nk
    12
    """

    name: str
    top: str
    base: str
    k_start: int
    k_end: int
    color: str | None = None

    @property
    def nk(self) -> int:
        """Number of layers of the zone.

        Examples
        --------
        >>> ZoneInfo("B", "TopB", "BaseC", 12, 20).nk
        8
        """
        return self.k_end - self.k_start


@dataclass(frozen=True)
class ZoneVolumes:
    """In-place volumes of one zone: gross rock volume and hydrocarbon pore volume (m³) within
    the zone's contacts, and oil in place at stock-tank conditions (Sm³).

    Examples
    --------
    >>> ZoneVolumes("A", 5.0e7, 7.0e6, 5.6e6).hcpv_m3
    7000000.0
    """

    zone: str
    grv_m3: float
    hcpv_m3: float
    ooip_sm3: float


class Model(ArraysMixin, VolumetricsMixin, FilesMixin, ModelViews):
    """A model: built by `build` (or ``spec.build()``), or read by `read_grid`.

    The engine's handle is `raw` (``_zorvastatic.StaticModel``: ``in_place``, the bundles, ...).
    A model holds its grid in memory, or in a store file when it was too large (`spilled`,
    `store_path`); `close` (or leaving a ``with`` block) releases it. A model cannot be pickled:
    return tables or arrays from worker processes instead.

    Arrays (`property`, `zcorn`, `coord`, `actnum`, `cell_volumes`, `cell_centers`), the
    in-place table (`volumetrics`) and file writers (`to_grdecl`, `to_egrid`, `to_roff`,
    `to_vtk`, `to_pyvista`, `to_xtgeo`) come from its mixins.

    Examples
    --------
    >>> import numpy as np
    >>> import zorvastatic as zv
    >>> lat = zv.Lattice(ncol=3, nrow=3, xinc=100.0, yinc=100.0)
    >>> spec = zv.ModelSpec(lat,
    ...     [zv.Horizon("T", zv.Surface(lat, np.full((3, 3), 2000.0))),
    ...      zv.Horizon("B", zv.Surface(lat, np.full((3, 3), 2010.0)))],
    ...     [zv.Zone("Z", zv.Proportional(2), zv.Contacts(owc=2100.0))])
    >>> with zv.build(spec) as model:
    ...     print(model.dims, model.zones[0].name, model.in_place_by_zone()[0].grv_m3)
    (2, 2, 2) Z 400000.0
    """

    def __init__(
        self,
        raw: Any,
        spec: ModelSpec | None = None,
        *,
        frame: Lattice | None = None,
        lattice: Lattice | None = None,
        road: str = "arrays",
    ) -> None:
        # Private: `build` passes the ModelSpec; `read_grid` passes the frame of the engine's local
        # pillars (None: they are world coordinates), the lattice when the pillars stand on one,
        # and how the model came.
        self._raw = raw
        self._spec = spec
        self._dims: tuple[int, int, int] = tuple(raw._dims())  # type: ignore[assignment]
        table = raw._zone_table()
        if spec is not None:
            names = [h.name for h in spec.horizons]
            self._zones = tuple(
                ZoneInfo(
                    row["name"], names[z], names[z + 1], row["k_start"], row["k_end"], zone.color
                )
                for z, (row, zone) in enumerate(zip(table, spec.zones, strict=True))
            )
            frame = lattice = spec.lattice
            road = spec.road
        else:
            names = [row["top"] for row in table] + [row["base"] for row in table[-1:]]
            self._zones = tuple(
                ZoneInfo(row["name"], row["top"], row["base"], row["k_start"], row["k_end"])
                for row in table
            )
        self._frame = frame
        self._lattice = lattice
        self._provenance = Provenance._from_record(raw._provenance(), road, names)
        self._spilled = bool(raw._spilled())
        self._store_path: str | None = raw._store_path()

    @property
    def raw(self) -> Any:
        """The engine's ``_zorvastatic.StaticModel`` handle.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().raw.property_names()
        ['NTG', 'PORO', 'SW']
        """
        if self._raw is None:
            raise ValueError("the model is closed")
        return self._raw

    @property
    def spec(self) -> ModelSpec | None:
        """The ModelSpec the model was built from; None for a model read from a file.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().spec.road
        'single-zone'
        """
        return self._spec

    @property
    def dims(self) -> tuple[int, int, int]:
        """``(ni, nj, nk)`` cells: ``(ncol - 1, nrow - 1, layers)``.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().dims
        (2, 2, 2)
        """
        return self._dims

    @property
    def zones(self) -> tuple[ZoneInfo, ...]:
        """The zones, shallowest first, with their layer ranges.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().zones[0]
        ZoneInfo(name='Z', top='T', base='B', k_start=0, k_end=2, color=None)
        """
        return self._zones

    @property
    def lattice(self) -> Lattice | None:
        """The areal lattice of the pillars, in the world frame; None for a grid read from a
        file whose pillars do not stand on a regular lattice.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().lattice.shape
        (3, 3)
        """
        return self._lattice

    @property
    def provenance(self) -> Provenance:
        """How the model was built: warnings, reports, ties, repairs.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().provenance.road
        'single-zone'
        """
        return self._provenance

    @property
    def spilled(self) -> bool:
        """Whether the grid lives in a store file rather than in memory.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().spilled
        False
        """
        return self._spilled

    @property
    def store_path(self) -> str | None:
        """The store file of a spilled model (removed on `close` unless kept), else None.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().store_path is None
        True
        """
        return self._store_path

    @property
    def closed(self) -> bool:
        """Whether `close` was called.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> model = _example(); model.close(); model.closed
        True
        """
        return self._raw is None

    def in_place_by_zone(
        self, boi: float = 1.0, *, progress: ProgressArg = None
    ) -> list[ZoneVolumes]:
        """Volumes per zone, each within its own contacts; `boi` is the oil formation volume
        factor (Rm³/Sm³, >= 1). `progress` as for `build` (a spilled model is read from its
        store).

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> [(v.zone, v.grv_m3) for v in _example().in_place_by_zone(boi=1.2)]
        [('Z', 400000.0)]
        """
        with reporting(progress, "volumes"):
            report = json.loads(self.raw.in_place_by_zone(boi=boi))
        nan = float("nan")
        return [
            ZoneVolumes(
                row["zone"],
                nan if row["grv_m3"] is None else row["grv_m3"],
                nan if row["hcpv_m3"] is None else row["hcpv_m3"],
                nan if row["ooip_sm3"] is None else row["ooip_sm3"],
            )
            for row in report["zones"]
        ]

    def close(self) -> None:
        """Releases the engine's model (and its store file unless kept). Idempotent.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> model = _example(); model.close(); model.close()
        """
        self._raw = None

    def __enter__(self) -> Model:
        return self

    def __exit__(
        self,
        kind: type[BaseException] | None,
        value: BaseException | None,
        traceback: TracebackType | None,
    ) -> None:
        self.close()

    def __reduce__(self) -> Any:
        raise TypeError("a Model cannot be pickled; return tables or arrays from workers")

    def __repr__(self) -> str:
        if self.closed:
            return "<Model (closed)>"
        ni, nj, nk = self._dims
        zones = ", ".join(f"{z.name}[{z.k_start}:{z.k_end}]" for z in self._zones)
        where = f", spilled to {self._store_path}" if self._spilled else ""
        return (
            f"<Model {ni} x {nj} x {nk} cells, zones {zones}, {self._provenance.road} road{where}>"
        )


def build(spec: ModelSpec, *, progress: ProgressArg = None) -> Model:
    """Builds a model from a spec.

    The inputs are copied before the engine starts, and the engine runs without the
    interpreter lock, so other Python threads go on meanwhile. Build warnings are issued as
    `BuildWarning` and kept in ``model.provenance.warnings``. Ctrl-C stops the build.

    Parameters
    ----------
    spec
        What to build.
    progress
        None shows a bar when stderr is a terminal and tqdm is installed; True shows one
        wherever the output goes (a notebook too; needs tqdm); False shows nothing; a callable
        is called with a `Progress` record every few milliseconds, the last one "done" at
        fraction 1 (an exception it raises stops the build and is raised here).

    Raises
    ------
    ValueError
        A spec the package refuses (naming the part), or one of the engine's error classes
        (`GridError`, `InvalidInputError`, `CrossedSurfacesError`, ...), all `ValueError`.

    Examples
    --------
    >>> from zorvastatic._model import _example_spec
    >>> build(_example_spec()).dims
    (2, 2, 2)
    """
    if not isinstance(spec, ModelSpec):
        raise TypeError(f"build() needs a ModelSpec, got {type(spec).__name__}")
    builder = lower(spec)
    with reporting(progress, "build"):
        raw = builder.build()
    model = Model(raw, spec)
    for note in model.provenance.warnings:
        warnings.warn(note.message, BuildWarning, stacklevel=2)
    return model


def _example_spec() -> ModelSpec:
    """A 3 x 3-node, two-layer flat model for the examples."""
    import numpy as np

    from ._geom import Surface
    from ._spec import Contacts, Horizon, Proportional, Zone

    lat = Lattice(ncol=3, nrow=3, xinc=100.0, yinc=100.0)
    horizons = [
        Horizon("T", Surface(lat, np.full((3, 3), 2000.0))),
        Horizon("B", Surface(lat, np.full((3, 3), 2010.0))),
    ]
    return ModelSpec(lat, horizons, [Zone("Z", Proportional(2), Contacts(owc=2100.0))])


def _example() -> Model:
    return build(_example_spec())
