"""Reading the engine's view bundles (map, intersection, volume) and the geometry drawn from them.

The bundles are the JSON documents that ``StaticModel.map_bundle``, ``intersection_bundle`` and
``volume_bundle`` return. The viewer page and the quick-look plots both read them through here,
so a bundle is checked once and every picture places columns the same way.
"""

from __future__ import annotations

import json
import math
import re
from collections.abc import Mapping, Sequence
from typing import Any

import numpy as np

#: The bundle layout this package draws; documents of another layout are refused.
SCHEMA_VERSION = 6

#: Zone id of a pinched layer or a layer outside every zone in an intersection bundle.
NO_ZONE = 65535

# Keys that tell the three kinds apart (every one of them is always written by the engine).
_REQUIRED_KEYS = {
    "map": ("frame", "outline", "horizons", "zone_averages", "k_slices", "wells", "contacts"),
    "intersection": (
        "property",
        "top_name",
        "base_name",
        "columns",
        "horizon_traces",
        "zones",
        "contacts",
        "frame",
    ),
    "volume": (
        "property",
        "cell_count",
        "positions",
        "indices",
        "tri_cell",
        "cell_values",
        "zone_ids",
        "zone_names",
        "value_range",
    ),
}

#: Units of a property cube; the engine writes its property maps as fractions.
PROPERTY_UNITS = "fraction"


def load_bundle(bundle: str | bytes | Mapping[str, Any], kind: str) -> dict[str, Any]:
    """Parse and check one bundle.

    Parameters
    ----------
    bundle
        The JSON text as the engine returns it, or the document already parsed into a mapping.
    kind
        ``"map"``, ``"intersection"`` or ``"volume"``.

    Returns
    -------
    dict
        The document (a new dict when text was given, the mapping itself otherwise).

    Raises
    ------
    ValueError
        When the text is not JSON, the document is not an object, its ``schema_version`` is not
        this engine's, or it lacks a key every bundle of that kind has.
    TypeError
        When ``bundle`` is neither text nor a mapping.

    Examples
    --------
    >>> import _zorvastatic
    >>> doc = load_bundle(_zorvastatic.build_flat_model().map_bundle(), "map")
    >>> doc["frame"]["ncol"]
    10
    """
    if kind not in _REQUIRED_KEYS:
        raise ValueError(
            f"unknown bundle kind {kind!r} (expected 'map', 'intersection' or 'volume')"
        )
    what = f"{kind}_bundle"
    if isinstance(bundle, (str, bytes, bytearray)):
        try:
            doc = json.loads(bundle)
        except json.JSONDecodeError as error:
            raise ValueError(f"{what} is not JSON: {error}") from None
    elif isinstance(bundle, Mapping):
        doc = bundle
    else:
        raise TypeError(
            f"{what} must be the bundle's JSON text or a mapping, not {type(bundle).__name__}"
        )
    if not isinstance(doc, Mapping):
        # Bad content of valid text: the same error as any other document not from this engine.
        raise ValueError(f"{what} must be a JSON object, not {type(doc).__name__}")  # noqa: TRY004
    version = doc.get("schema_version")
    if version != SCHEMA_VERSION:
        raise ValueError(
            f"{what} has schema_version {version!r}; this package reads {SCHEMA_VERSION} "
            f"(rebuild the bundle with this engine)"
        )
    missing = [key for key in _REQUIRED_KEYS[kind] if key not in doc]
    if missing:
        raise ValueError(f"{what} is not a {kind} bundle: no {', '.join(repr(k) for k in missing)}")
    return dict(doc) if not isinstance(doc, dict) else doc


def to_json_text(doc: Mapping[str, Any]) -> str:
    """Compact JSON of a parsed bundle, with non-finite numbers written as null as the engine does.

    Examples
    --------
    >>> to_json_text({"a": [1.0, float("nan")]})
    '{"a":[1.0,null]}'
    """
    try:
        return json.dumps(doc, separators=(",", ":"), allow_nan=False)
    except ValueError:
        return json.dumps(_finite_or_none(doc), separators=(",", ":"), allow_nan=False)


def _finite_or_none(value: Any) -> Any:
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, Mapping):
        return {key: _finite_or_none(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [_finite_or_none(item) for item in value]
    return value


class Frame:
    """The areal frame of a bundle's columns: fractional column indices to world x, y and back.

    Column (i, j) is centred on the frame point (u, v) = (i, j); its cell spans u ± 0.5, v ± 0.5.
    Rotation is counter-clockwise from east in degrees; ``yflip`` mirrors the v axis.

    Examples
    --------
    >>> f = Frame({"origin_x": 100.0, "origin_y": 200.0, "spacing_x": 25.0, "spacing_y": 50.0,
    ...            "ncol": 4, "nrow": 3, "rotation_deg": 90.0})
    >>> [round(float(c), 6) for c in f.to_world(1.0, 1.0)]
    [50.0, 225.0]
    >>> [round(float(c), 6) for c in f.to_frame(50.0, 225.0)]
    [1.0, 1.0]
    """

    def __init__(self, frame: Mapping[str, Any]) -> None:
        self.origin_x = float(frame["origin_x"])
        self.origin_y = float(frame["origin_y"])
        self.spacing_x = float(frame["spacing_x"])
        self.spacing_y = float(frame["spacing_y"])
        self.ncol = int(frame["ncol"])
        self.nrow = int(frame["nrow"])
        self.rotation_deg = float(frame.get("rotation_deg", 0.0))
        self.yflip = bool(frame.get("yflip", False))
        angle = self.rotation_deg * 0.017453292519943295
        self._cos, self._sin = math.cos(angle), math.sin(angle)

    def to_frame(self, x: Any, y: Any) -> tuple[np.ndarray, np.ndarray]:
        """Fractional column indices (u, v) of world points."""
        dx = np.asarray(x, dtype=float) - self.origin_x
        dy = np.asarray(y, dtype=float) - self.origin_y
        sign = -1.0 if self.yflip else 1.0
        u = (dx * self._cos + dy * self._sin) / self.spacing_x
        v = sign * (dy * self._cos - dx * self._sin) / self.spacing_y
        return u, v

    def to_world(self, u: Any, v: Any) -> tuple[np.ndarray, np.ndarray]:
        """World x, y of fractional column indices (the inverse of :meth:`to_frame`)."""
        u = np.asarray(u, dtype=float)
        v = np.asarray(v, dtype=float)
        w = v * self.spacing_y if self.yflip else -(v * self.spacing_y)
        x = self.origin_x + u * self.spacing_x * self._cos + w * self._sin
        y = self.origin_y + u * self.spacing_x * self._sin - w * self._cos
        return x, y

    def cell_corners(self) -> tuple[np.ndarray, np.ndarray]:
        """World x, y of the column corners, each of shape (nrow + 1, ncol + 1)."""
        u, v = np.meshgrid(np.arange(self.ncol + 1) - 0.5, np.arange(self.nrow + 1) - 0.5)
        return self.to_world(u, v)

    def centres(self) -> tuple[np.ndarray, np.ndarray]:
        """World x, y of the column centres, each of shape (nrow, ncol)."""
        u, v = np.meshgrid(np.arange(self.ncol, dtype=float), np.arange(self.nrow, dtype=float))
        return self.to_world(u, v)


def map_layers(doc: Mapping[str, Any]) -> list[Mapping[str, Any]]:
    """Every scalar layer of a map bundle: horizons, then zone averages, then k-slices."""
    return [*doc["horizons"], *doc["zone_averages"], *doc["k_slices"]]


def layer_grid(layer: Mapping[str, Any], ncol: int, nrow: int) -> np.ndarray:
    """A layer's values as a (nrow, ncol) float array indexed [j, i]; null becomes NaN."""
    values = np.array([np.nan if v is None else v for v in layer["values"]], dtype=float)
    if values.size != ncol * nrow:
        raise ValueError(
            f"map layer {layer.get('name')!r} has {values.size} values for {ncol}x{nrow} columns"
        )
    return values.reshape(nrow, ncol)


def section_extents(doc: Mapping[str, Any]) -> tuple[list[float], list[float]]:
    """Where the trace enters and leaves each column of an intersection bundle, as distances.

    A column's sample is the first sample of the trace inside it, so a column runs from its own
    distance to the next column's. Where the trace leaves the grid between two columns, or at the
    last column, the column gets the width of the column before it (a spacing when there is none).

    Examples
    --------
    >>> doc = {"frame": {"spacing_x": 100.0, "spacing_y": 100.0},
    ...        "columns": [{"distance_m": 0.0}, {"distance_m": 50.0}, {"distance_m": 150.0}]}
    >>> section_extents(doc)
    ([0.0, 50.0, 150.0], [50.0, 150.0, 250.0])
    """
    frame = doc["frame"]
    spacing = min(float(frame["spacing_x"]), float(frame["spacing_y"]))
    # Widest a column can be along a straight trace: its diagonal, plus one sampling step.
    widest = math.hypot(float(frame["spacing_x"]), float(frame["spacing_y"])) + 0.5 * spacing
    distances = [float(c["distance_m"]) for c in doc["columns"]]
    left, right = [], []
    width = spacing
    for n, start in enumerate(distances):
        gap = distances[n + 1] - start if n + 1 < len(distances) else math.inf
        if 0.0 < gap <= widest:
            width = gap
        left.append(start)
        right.append(start + width)
    return left, right


def section_cells(doc: Mapping[str, Any]) -> dict[str, np.ndarray]:
    """The drawn cells of an intersection bundle: every layer that is not pinched, column by column.

    Returns
    -------
    dict of numpy arrays, one entry per cell
        ``column`` (index into ``columns``), ``k``, ``polygons`` of shape (n, 4, 2): (distance,
        depth) of the top-left, top-right, bottom-right and bottom-left corners, where the trace
        enters (left) and leaves (right) the column; ``values`` (NaN where undefined or when the
        bundle has no property) and ``zone_ids``.

    Examples
    --------
    >>> import _zorvastatic
    >>> doc = load_bundle(
    ...     _zorvastatic.build_flat_model().intersection_bundle([(0, 450), (1000, 450)]),
    ...     "intersection",
    ... )
    >>> cells = section_cells(doc)
    >>> cells["polygons"].shape, float(cells["polygons"][0, 2, 1])
    ((50, 4, 2), 2010.0)
    """
    left, right = section_extents(doc)
    column, layer, polygons, values, zones = [], [], [], [], []
    for n, c in enumerate(doc["columns"]):
        for k, (top, base) in enumerate(zip(c["layer_tops"], c["layer_bases"], strict=False)):
            if top is None or base is None or not (math.isfinite(top) and math.isfinite(base)):
                continue  # pinched: nothing to draw

            def edge(key: str, centre: float, k: int = k, c: Mapping[str, Any] = c) -> float:
                value = c[key][k]
                return centre if value is None or not math.isfinite(value) else value

            column.append(n)
            layer.append(k)
            polygons.append(
                [
                    (left[n], edge("layer_tops_l", top)),
                    (right[n], edge("layer_tops_r", top)),
                    (right[n], edge("layer_bases_r", base)),
                    (left[n], edge("layer_bases_l", base)),
                ]
            )
            value = c["values"][k] if c["values"] else None
            values.append(math.nan if value is None else value)
            zones.append(c["zone_ids"][k])
    return {
        "column": np.array(column, dtype=np.int64),
        "k": np.array(layer, dtype=np.int64),
        "polygons": np.array(polygons, dtype=float).reshape(-1, 4, 2),
        "values": np.array(values, dtype=float),
        "zone_ids": np.array(zones, dtype=np.int64),
    }


def section_cell_count(doc: Mapping[str, Any]) -> int:
    """Number of drawn cells of an intersection bundle (layers that are not pinched)."""
    return int(section_cells(doc)["k"].size)


def outline_rings(doc: Mapping[str, Any]) -> list[np.ndarray]:
    """The outline rings of a map bundle worth drawing, as (n, 2) world x, y arrays.

    A ring smaller than one column is a placeholder, not the model's outline, and is left out.
    """
    frame = Frame(doc["frame"])
    rings = []
    for ring in doc["outline"]:
        points = np.array([p for p in ring if p[0] is not None and p[1] is not None], dtype=float)
        if len(points) < 2:
            continue
        u, v = frame.to_frame(points[:, 0], points[:, 1])
        if max(np.ptp(u), np.ptp(v)) >= 1.0:
            rings.append(points)
    return rings


ZONE_PALETTE = (
    "#d9a441",
    "#5b8fc9",
    "#7fb069",
    "#c8553d",
    "#8e6bb0",
    "#4fb3a9",
    "#e07a5f",
    "#9c9c5a",
    "#d67fb4",
    "#6d8a96",
)


def zone_colors(zones: Sequence[Mapping[str, Any]]) -> list[str]:
    """A display colour per zone: the zone's own when it is a hex colour (``#rgb`` or ``#rrggbb``),
    else the next colour of a fixed palette.

    Examples
    --------
    >>> zone_colors([{"name": "A", "color": "#112233"}, {"name": "B", "color": None}])
    ['#112233', '#5b8fc9']
    """
    colours = []
    for n, zone in enumerate(zones):
        colour = zone.get("color")
        ok = isinstance(colour, str) and _HEX_COLOUR.fullmatch(colour) is not None
        colours.append(colour if ok else ZONE_PALETTE[n % len(ZONE_PALETTE)])
    return colours


_HEX_COLOUR = re.compile(r"#(?:[0-9a-fA-F]{3}|[0-9a-fA-F]{6})")
