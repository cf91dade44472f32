"""The compact HTML summary of a model that notebooks show: size, zones, layers and volumes."""

from __future__ import annotations

import json
import math
from collections.abc import Iterable, Mapping, Sequence
from html import escape
from typing import Any

from ._bundles import zone_colors

_CELL = "padding:2px 10px;text-align:right;border-bottom:1px solid #ddd"
_NAME = "padding:2px 10px;text-align:left;border-bottom:1px solid #ddd"


def summary_html(
    *,
    dims: Sequence[int],
    zones: Iterable[Any],
    volumes: str | Mapping[str, Any] | None = None,
    properties: Iterable[str] = (),
    title: str = "Model",
    notes: Iterable[str] = (),
) -> str:
    """An HTML table of a model: dimensions, one row per zone with its layers and volumes, a total.

    Parameters
    ----------
    dims
        (ni, nj, nk) cells.
    zones
        In zone-table order, each a mapping or an object with ``name``, ``k_start`` and
        ``k_end`` (first layer and one past the last, counted from 0) and optionally ``color``.
    volumes
        The per-zone in-place report, as ``StaticModel.in_place_by_zone()`` returns it (JSON text
        or parsed): ``{"total": {...}, "zones": [{"zone", "grv_m3", "hcpv_m3", "ooip_sm3"}]}``;
        ``None`` leaves the volume columns out. An OOIP column appears only where OOIP differs
        from HCPV (a formation volume factor other than 1).
    properties
        Names of the property cubes.
    title
        The caption's first words.
    notes
        Further short facts for the line under the table ("spilled to a store file").

    Returns
    -------
    str
        A ``<div>`` with inline styles only, safe to embed in a notebook or a report.

    Examples
    --------
    >>> import _zorvastatic
    >>> model = _zorvastatic.build_flat_model()
    >>> html = summary_html(
    ...     dims=(10, 10, 5),
    ...     zones=[{"name": "RESERVOIR", "k_start": 0, "k_end": 5}],
    ...     volumes=model.in_place_by_zone(),
    ...     properties=model.property_names(),
    ... )
    >>> "RESERVOIR" in html and "50.000" in html
    True
    """
    ni, nj, nk = (int(n) for n in dims)
    zone_rows = [_zone_fields(zone) for zone in zones]
    report = json.loads(volumes) if isinstance(volumes, (str, bytes)) else volumes
    by_zone = {row.get("zone"): row for row in report["zones"]} if report else {}
    rows = [(z["name"], z["k_start"], z["k_end"], by_zone.get(z["name"])) for z in zone_rows]
    totals = report["total"] if report else None
    with_ooip = bool(report) and any(
        _differs(v.get("ooip_sm3"), v.get("hcpv_m3")) for v in [*by_zone.values(), totals or {}]
    )
    columns = [("grv_m3", "GRV (10⁶ m³)"), ("hcpv_m3", "HCPV (10⁶ m³)")] if report else []
    if with_ooip:
        columns.append(("ooip_sm3", "OOIP (10⁶ Sm³)"))

    head = [f'<th style="{_NAME}">Zone</th>', f'<th style="{_CELL}">Layers (k)</th>']
    head += [f'<th style="{_CELL}">{escape(label)}</th>' for _, label in columns]
    body = []
    colours = zone_colors([{"color": z.get("color")} for z in zone_rows])
    for (name, k0, k1, volume), colour in zip(rows, colours, strict=False):
        swatch = (
            f'<span style="display:inline-block;width:0.8em;height:0.8em;margin-right:6px;'
            f'background:{colour};border:1px solid #777"></span>'
        )
        cells = [f'<td style="{_NAME}">{swatch}{escape(str(name))}</td>', _td(_layers(k0, k1))]
        cells += [_td(_million(volume.get(key) if volume else None)) for key, _ in columns]
        body.append("<tr>" + "".join(cells) + "</tr>")
    total = [f'<th style="{_NAME}">Total</th>', _td(_layers(0, nk))]
    total += [_td(_million(totals.get(key) if totals else None)) for key, _ in columns]
    body.append('<tr style="font-weight:600">' + "".join(total) + "</tr>")

    facts = []
    names = sorted(properties)
    if names:
        facts.append("properties " + ", ".join(escape(n) for n in names))
    facts += [escape(n) for n in notes]
    caption = f"{escape(title)}: {ni} × {nj} × {nk} = {ni * nj * nk:,} cells"
    return (
        '<div class="zorvastatic-summary">'
        f'<table style="border-collapse:collapse;font-size:13px">'
        f'<caption style="text-align:left;font-weight:600;padding:4px 0">{caption}</caption>'
        f"<thead><tr>{''.join(head)}</tr></thead><tbody>{''.join(body)}</tbody></table>"
        + (
            f'<p style="margin:4px 0;color:#555;font-size:12px">{" · ".join(facts)}</p>'
            if facts
            else ""
        )
        + "</div>"
    )


def _zone_fields(zone: Any) -> dict[str, Any]:
    def field(name: str, default: Any = None) -> Any:
        if isinstance(zone, Mapping):
            return zone.get(name, default)
        return getattr(zone, name, default)

    return {
        "name": field("name"),
        "k_start": int(field("k_start")),
        "k_end": int(field("k_end")),
        "color": field("color"),
    }


def _td(text: str) -> str:
    return f'<td style="{_CELL}">{text}</td>'


def _layers(k0: int, k1: int) -> str:
    if k1 <= k0:
        return "none"
    return f"{k0}–{k1 - 1} ({k1 - k0})"


def _million(value: float | None) -> str:
    if value is None or not math.isfinite(value):
        return "–"
    return f"{value / 1e6:,.3f}"


def _differs(a: float | None, b: float | None) -> bool:
    return a is not None and b is not None and math.isfinite(a) and math.isfinite(b) and a != b
