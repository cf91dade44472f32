"""The `_zorvastatic` extension module."""

from collections.abc import Callable, Mapping, Sequence
from typing import Any, Literal, final

from typing_extensions import Buffer

__version__: str

class InternalFault(BaseException):
    """A broken internal invariant of the engine (not reachable from valid input)."""

@final
class StaticModel:
    """A populated static reservoir model: the Python handle over the core `StaticModel`."""

    def property_names(self) -> list[str]: ...
    def bulk_volume(self) -> float: ...
    def in_place(self, boi: float = 1.0, bgi: float | None = None) -> dict[str, float | int]: ...
    def in_place_summary(
        self, boi: float = 1.0, bgi: float | None = None
    ) -> dict[str, float | int]: ...
    def in_place_by_zone(self, boi: float = 1.0) -> str: ...
    def map_bundle(self, property: str | None = None, k_slice: int | None = None) -> str: ...
    def intersection_bundle(
        self, line: Sequence[tuple[float, float]], property: str | None = None
    ) -> str: ...
    def volume_bundle(self, property: str) -> str: ...
    # Private: read by the zorvastatic package.
    def _dims(self) -> tuple[int, int, int]: ...
    def _zone_table(self) -> list[dict[str, Any]]: ...
    def _provenance(self) -> dict[str, Any]: ...
    def _spilled(self) -> bool: ...
    def _store_path(self) -> str | None: ...
    def _zcorn(self) -> _Array: ...
    def _coord(self) -> _Array: ...
    def _cube(self, name: str, /) -> _Array | None: ...
    def _cell_volumes(self, k_start: int = 0, k_end: int | None = None) -> _Array: ...
    def _volume_table(
        self,
        regions: Any = None,
        region_count: int = 1,
        per_cell: bool = False,
        fvfs: Sequence[tuple[float, float | None]] | None = None,
    ) -> _Array: ...

@final
class WellLog:
    """A positioned well log for property-pipeline construction."""

    def __init__(self, x: float, y: float, samples: Sequence[tuple[float, float]]) -> None: ...
    @property
    def x(self) -> float: ...
    @property
    def y(self) -> float: ...
    @property
    def samples(self) -> list[tuple[float, float]]: ...
    def as_dict(self) -> dict[str, Any]: ...

@final
class PropertyPipeline:
    def __init__(
        self,
        name: str,
        wells: Sequence[WellLog],
        method: str,
        variogram_model: str,
        range_m: float,
        seed: int,
        sill: float = 1.0,
        nugget: float = 0.0,
        minor_m: float | None = None,
        vertical_m: float | None = None,
        azimuth: float = 0.0,
        propagate: bool = True,
        allow_mean_fill: bool = False,
        max_neighbours: int | None = None,
        radius_m: float | None = None,
        unbounded_search: bool = False,
    ) -> None: ...
    @property
    def name(self) -> str: ...
    def config(self) -> dict[str, Any]: ...
    def report(self) -> str: ...
    def apply_to_flat_model(
        self,
        n: int = 11,
        depth_m: float = 1000.0,
        owc_m: float = 1100.0,
        area_m2: float = 10000.0,
        gross_height_m: float = 20.0,
        nk: int = 2,
        porosity: float = 0.25,
        net_to_gross: float = 0.8,
        water_saturation: float = 0.3,
    ) -> StaticModel: ...

def build_flat_model(
    n: int = 11,
    depth_m: float = 2000.0,
    owc_m: float = 2100.0,
    area_m2: float = 1000000.0,
    gross_height_m: float = 50.0,
    nk: int = 5,
    porosity: float = 0.25,
    net_to_gross: float = 0.8,
    water_saturation: float = 0.3,
) -> StaticModel: ...

# Private members of the zorvastatic package.

_Conformity = Literal["proportional", "top_conform", "base_conform"]
_ContactKind = Literal["owc", "goc", "gwc"]
# (values, nx, ny, origin_x, origin_y, spacing_x, spacing_y, rotation_deg, yflip)
_Trend = tuple[Buffer, int, int, float, float, float, float, float, bool]

@final
class _Builder:
    def __init__(self) -> None: ...
    def add_horizon(
        self,
        name: str,
        role: Literal["top", "base", "intermediate"],
        depths: Buffer,
        ni: int,
        nj: int,
    ) -> None: ...
    def add_contact(self, kind: _ContactKind, depth_m: float) -> None: ...
    def set_outline(self, points: Sequence[tuple[float, float]]) -> None: ...
    def set_spec(
        self,
        conformity: _Conformity,
        dz_m: float,
        nk: int,
        area_m2: float,
        gross_height_m: float,
        porosity: float,
        net_to_gross: float,
        water_saturation: float,
    ) -> None: ...
    def set_georef(
        self,
        origin_x: float,
        origin_y: float,
        spacing_x: float,
        spacing_y: float,
        rotation_deg: float,
        yflip: bool,
    ) -> None: ...
    def set_spacing(self, dx: float, dy: float) -> None: ...
    def add_stack_mapped(self, name: str, values: Buffer, ni: int, nj: int) -> None: ...
    def add_stack_tops(self, name: str, tops: Buffer) -> None: ...
    def add_stack_zone(
        self,
        name: str,
        label: str | None,
        conformity: _Conformity,
        nk: int,
        dz_m: float,
        contacts: Sequence[tuple[_ContactKind, float]],
    ) -> None: ...
    def add_well_tie(
        self, name: str, x: float, y: float, i: int, j: int, picks: Sequence[tuple[str, float]]
    ) -> None: ...
    def set_options(
        self,
        taper: bool = True,
        taper_start: float = 2.0,
        taper_width: float = 4.0,
        min_thickness_m: float | None = None,
        collapse_below_m: float | None = None,
        clamp_crossings: bool = False,
        tie_radius_m: float | None = None,
        sw_gas: float | None = None,
        spill_budget_bytes: int | None = None,
        spill_dir: str | None = None,
        keep_spill_file: bool = False,
        sugar_cube: bool = False,
        inputs_ref: str | None = None,
        zone_name: str | None = None,
        zone_label: str | None = None,
    ) -> None: ...
    def add_zone_priors(
        self, zone: str, porosity: float, net_to_gross: float, water_saturation: float
    ) -> None: ...
    def set_depth_profile(self, depth_m: Buffer, porosity: Buffer, sw: Buffer) -> None: ...
    def set_areal_trend(self, trend: _Trend, scale_porosity: bool) -> None: ...
    def add_pipeline(
        self,
        zone: str | None,
        name: str,
        wells: Sequence[tuple[float, float, Buffer, Buffer]],
        method: str,
        model: str | None = None,
        major_m: float = 1.0,
        minor_m: float = 1.0,
        vertical_m: float = 1.0,
        azimuth: float = 0.0,
        sill: float = 1.0,
        nugget: float = 0.0,
        seed: int = 0,
        max_neighbours: int | None = None,
        radius_m: float | None = None,
        allow_mean_fill: bool = False,
        unbounded_search: bool = False,
        trend: _Trend | None = None,
        rho: float = 0.0,
    ) -> None: ...
    def build(self) -> StaticModel: ...

def _register_error_types(types: Mapping[str, type[ValueError]], /) -> None: ...
def _set_max_threads(threads: int, /) -> None: ...
def _get_max_threads() -> int: ...
def _solve_surface(
    values: Buffer,
    ni: int,
    nj: int,
    taper_start: float | None = None,
    taper_width: float | None = None,
) -> bytes: ...
def _set_progress_callback(
    callback: Callable[[str, int, int, float], object] | None, /
) -> Callable[[str, int, int, float], object] | None: ...

@final
class _Array:
    """A read-only buffer over engine memory; use numpy.asarray()."""

    @property
    def shape(self) -> tuple[int, ...]: ...
    def __buffer__(self, flags: int, /) -> memoryview: ...

def _model_from_arrays(
    ni: int,
    nj: int,
    nk: int,
    coord: Any,
    zcorn: Any,
    actnum: Any = None,
    cubes: Sequence[tuple[str, Any]] = (),
    zones: Sequence[tuple[str, int, int, Sequence[tuple[str, float]]]] = (),
    sw_gas: float | None = None,
    georef: tuple[float, float, float, float, float, bool] | None = None,
    outline: Sequence[tuple[float, float]] = (),
    inputs_ref: str = "arrays",
) -> StaticModel: ...
def _format_values(values: Any, width: int = 128) -> bytes: ...
