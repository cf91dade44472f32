"""An offline page that shows a model's map, cross-section and 3-D shell.

:func:`write_html` writes one self-contained HTML file from the engine's view bundles: the bundles
inlined as JSON, a small viewer script of ours and plotly.js (from the installed ``plotly``
package). The page makes no network request of any kind, so it opens anywhere, offline, and can
be mailed or archived with a report. :func:`write_model_html` makes the bundles from a built model
first.
"""

from __future__ import annotations

import importlib.resources
import math
import os
from collections.abc import Iterable, Mapping, Sequence
from contextlib import AbstractContextManager, nullcontext
from html import escape
from pathlib import Path
from typing import Any, Literal, Protocol

from .._bundles import (
    PROPERTY_UNITS,
    Frame,
    load_bundle,
    outline_rings,
    section_cells,
    section_extents,
    to_json_text,
    zone_colors,
)
from .._progress import ProgressArg, reporting

__all__ = ["write_html", "write_model_html"]

BundleInput = str | bytes | Mapping[str, Any]


class BundleSource(Protocol):
    """What :func:`write_model_html` reads: the engine's model handle
    (``_zorvastatic.StaticModel``)."""

    def property_names(self) -> list[str]: ...
    def map_bundle(self, property: str | None = None, k_slice: int | None = None) -> str: ...
    def intersection_bundle(
        self, line: Sequence[Sequence[float]], property: str | None = None
    ) -> str: ...
    def volume_bundle(self, property: str) -> str: ...


def write_html(
    path: str | os.PathLike[str],
    *,
    map_bundle: BundleInput | None = None,
    intersection_bundle: BundleInput | None = None,
    volume_bundle: BundleInput | None = None,
    title: str = "zorvastatic model",
    plotly_js: Literal["inline", "sidecar"] = "inline",
) -> Path:
    """Write an offline viewer page for up to three bundles of one model.

    The map shows one per-column layer at a time on the grid frame (horizon depths, thickness,
    zone averages, k-slices, contact crossings) with the wells and the contacts' lines on the top
    surface; hovering a column shows its i, j and value. The section draws every cell along the
    line coloured by the property or by zone, the zone boundaries and the contacts, against
    distance along the line and depth. The volume shows the shell of the defined cells in 3-D,
    rotatable, coloured by the property or by zone. Every colour scale has a bar with its units.

    Parameters
    ----------
    path
        The HTML file to write (parent folders must exist).
    map_bundle, intersection_bundle, volume_bundle
        The bundles, each as the JSON text the engine returns or as the parsed document. At least
        one is needed.
    title
        Heading and window title of the page.
    plotly_js
        ``"inline"`` puts plotly.js (about 4.8 MB) inside the page; ``"sidecar"`` writes it once
        as ``plotly-<version>.min.js`` beside the page and links it, for folders of many pages.

    Returns
    -------
    pathlib.Path
        The page written.

    Raises
    ------
    ImportError
        When plotly is not installed (``pip install zorvastatic[viewer]``).
    ValueError
        When no bundle is given, a bundle is not this engine's (``schema_version``) or not of the
        kind its argument names, or ``plotly_js`` is neither ``"inline"`` nor ``"sidecar"``.

    Examples
    --------
    >>> import pathlib, tempfile, _zorvastatic
    >>> model = _zorvastatic.build_flat_model()
    >>> with tempfile.TemporaryDirectory() as folder:
    ...     page = write_html(
    ...         pathlib.Path(folder, "flat.html"),
    ...         map_bundle=model.map_bundle("PORO", 0),
    ...         volume_bundle=model.volume_bundle("PORO"),
    ...         title="Flat model",
    ...     )
    ...     page.stat().st_size > 4_000_000
    True
    """
    if plotly_js not in ("inline", "sidecar"):
        raise ValueError(f"plotly_js must be 'inline' or 'sidecar', not {plotly_js!r}")
    given = {"map": map_bundle, "intersection": intersection_bundle, "volume": volume_bundle}
    if all(bundle is None for bundle in given.values()):
        raise ValueError(
            "write_html needs at least one of map_bundle, intersection_bundle, volume_bundle"
        )
    docs = {kind: load_bundle(bundle, kind) for kind, bundle in given.items() if bundle is not None}
    plotly_path, plotly_version = _plotly_js()

    path = Path(path)
    # The volume, by far the largest bundle and drawn last, closes the page: the browser shows
    # the map and the section while it still reads it.
    data_blocks = [
        _json_script(f"zv-{kind}-bundle", _bundle_text(given[kind], doc))
        for kind, doc in docs.items()
        if kind != "volume"
    ]
    data_blocks.append(_json_script("zv-derived", to_json_text(_derived(docs))))
    late_blocks = (
        [_json_script("zv-volume-bundle", _bundle_text(given["volume"], docs["volume"]))]
        if "volume" in docs
        else []
    )
    if plotly_js == "inline":
        plotly_block = [
            "<script>",
            _script_safe(plotly_path.read_text(encoding="utf-8")),
            "</script>",
        ]
    else:
        sidecar = path.parent / f"plotly-{plotly_version}.min.js"
        _write_sidecar(plotly_path, sidecar)
        plotly_block = [f'<script src="{escape(sidecar.name)}"></script>']

    parts = {
        "TITLE": [escape(title)],
        "DATA": data_blocks,
        "PLOTLY": plotly_block,
        "VIEWER": ["<script>", _script_safe(_package_text("viewer.js")), "</script>"],
        "LATE_DATA": late_blocks,
    }
    partial = path.with_name(f".{path.name}.{os.getpid()}.part")
    try:
        with partial.open("w", encoding="utf-8") as out:
            for piece in _fill(_package_text("template.html"), parts):
                out.write(piece)
        partial.replace(path)  # a page is either the old one or the whole new one
    finally:
        partial.unlink(missing_ok=True)
    return path


def write_model_html(
    path: str | os.PathLike[str],
    model: BundleSource,
    *,
    property: str | None = None,
    section: Sequence[Sequence[float]] | None = None,
    k_slice: int | None = 0,
    title: str | None = None,
    plotly_js: Literal["inline", "sidecar"] = "inline",
    progress: ProgressArg = None,
) -> Path:
    """Write the viewer page of a built model: its map, a section and its 3-D shell.

    Parameters
    ----------
    path
        The HTML file to write.
    model
        The engine's model handle (``_zorvastatic.StaticModel``, ``Model.raw`` in the package).
    property
        The property to show; ``None`` takes "PORO" when the model has it, else the first of its
        properties in name order, else shows the structure only (no volume).
    section
        World (x, y) vertices of the cross-section; ``None`` cuts along the grid's i axis through
        the middle row of columns.
    k_slice
        Layer shown as a map besides the zone averages; ``None`` for none.
    title, plotly_js
        As for :func:`write_html`; the title defaults to "Model: <property>".
    progress
        Progress of making the bundles (long for a model in a store file, whose grid each
        bundle reads back): None for a bar when stderr is a terminal, True for a bar anywhere,
        False for none, or a callable taking a `zorvastatic.Progress`.

    Returns
    -------
    pathlib.Path
        The page written.

    Examples
    --------
    >>> import pathlib, tempfile, _zorvastatic
    >>> with tempfile.TemporaryDirectory() as folder:
    ...     model = _zorvastatic.build_flat_model()
    ...     page = write_model_html(pathlib.Path(folder, "flat.html"), model)
    ...     "Model: PORO" in page.read_text()
    True
    """
    names = sorted(model.property_names())
    if property is None and names:
        property = "PORO" if "PORO" in names else names[0]
    with reporting(progress, "viewer bundles") as reporter:
        # Shares of the work: the map and the volume pass over every cell, the section over
        # the columns along its line; then the page is written.
        with _part(reporter, 0.0, 0.2):
            map_text = model.map_bundle(property, k_slice if property is not None else None)
        line = (
            [tuple(map(float, vertex)) for vertex in section]
            if section is not None
            else middle_row(map_text)
        )
        with _part(reporter, 0.2, 0.35):
            section_text = model.intersection_bundle(line, property)
        with _part(reporter, 0.35, 0.8):
            volume_text = model.volume_bundle(property) if property is not None else None
        return write_html(
            path,
            map_bundle=map_text,
            intersection_bundle=section_text,
            volume_bundle=volume_text,
            title=title if title is not None else (f"Model: {property}" if property else "Model"),
            plotly_js=plotly_js,
        )


def _part(reporter: Any, low: float, high: float) -> AbstractContextManager[None]:
    return reporter.part(low, high) if reporter is not None else nullcontext()


def middle_row(map_bundle: BundleInput) -> list[tuple[float, float]]:
    """World end points of a line along the grid's i axis through the middle row of columns.

    Examples
    --------
    >>> import _zorvastatic
    >>> middle_row(_zorvastatic.build_flat_model().map_bundle())
    [(0.0, 450.0), (1000.0, 450.0)]
    """
    frame = Frame(load_bundle(map_bundle, "map")["frame"])
    v = float((frame.nrow - 1) // 2)
    x, y = frame.to_world([-0.5, frame.ncol - 0.5], [v, v])
    return [(float(x[0]), float(y[0])), (float(x[1]), float(y[1]))]


def _derived(docs: Mapping[str, Mapping[str, Any]]) -> dict[str, Any]:
    """What the page draws besides the bundles: positions on the grid frame, column extents,
    colours."""
    derived: dict[str, Any] = {"units": PROPERTY_UNITS}
    section_colours: dict[str, str] = {}
    if "intersection" in docs:
        section = docs["intersection"]
        left, right = section_extents(section)
        colours = zone_colors(section["zones"])
        section_colours = {
            zone["name"]: colour for zone, colour in zip(section["zones"], colours, strict=False)
        }
        cells = section_cells(section)
        derived["section"] = {
            "left": left,
            "right": right,
            "zone_colors": colours,
            "cells": {
                "column": cells["column"].tolist(),
                "k": cells["k"].tolist(),
                "corners": _rounded(cells["polygons"].ravel(), 4),
            },
        }
    if "map" in docs:
        bundle = docs["map"]
        frame = Frame(bundle["frame"])
        wells = bundle["wells"]
        u, v = frame.to_frame([w["x"] for w in wells], [w["y"] for w in wells])
        rings = []
        for ring in outline_rings(bundle):
            ru, rv = frame.to_frame(ring[:, 0], ring[:, 1])
            rings.append({"u": _rounded(ru), "v": _rounded(rv)})
        derived["map"] = {"wells": {"u": _rounded(u), "v": _rounded(v)}, "outline": rings}
    if "volume" in docs:
        volume = docs["volume"]
        derived["volume"] = {
            "zone_colors": zone_colors(
                [{"color": section_colours.get(n)} for n in volume["zone_names"]]
            ),
            # What the page tells before it reads the volume, which it does when the panel shows.
            "property": volume["property"],
            "inputs_ref": volume["inputs_ref"],
            "cell_count": volume["cell_count"],
            "shell_cells": len(volume["cell_values"]),
            "triangles": len(volume["indices"]) // 3,
        }
    return derived


def _rounded(values: Iterable[float], digits: int = 6) -> list[float | None]:
    return [round(float(v), digits) if math.isfinite(v) else None for v in values]


def _bundle_text(given: BundleInput | None, doc: Mapping[str, Any]) -> str:
    """The engine's own text when it was given (no second serialisation of megabytes), else JSON
    of the document."""
    if isinstance(given, str):
        return given
    if isinstance(given, (bytes, bytearray)):
        return given.decode("utf-8")
    return to_json_text(doc)


def _json_script(element_id: str, text: str) -> str:
    # "<" only occurs inside JSON strings, where \u003c reads back the same; no "</script>" can
    # end the block.
    safe = text.replace("<", "\\u003c")
    return f'<script type="application/json" id="{element_id}">{safe}</script>\n'


def _script_safe(source: str) -> str:
    return source.replace("</script", "<\\/script")


def _package_text(name: str) -> str:
    return importlib.resources.files(__name__).joinpath(name).read_text(encoding="utf-8")


def _fill(template: str, parts: Mapping[str, list[str]]) -> Iterable[str]:
    """The template's text with each ``@@NAME@@`` marker replaced by its pieces, streamed."""
    rest = template
    while "@@" in rest:
        before, _, after = rest.partition("@@")
        name, _, rest = after.partition("@@")
        yield before
        yield from parts[name]
    yield rest


def _plotly_js() -> tuple[Path, str]:
    try:
        import plotly
        from plotly.offline import get_plotlyjs_version
    except ImportError:
        raise ImportError(
            "zorvastatic.viewer needs plotly for its plotly.js: pip install zorvastatic[viewer]"
        ) from None
    path = Path(plotly.__file__).parent / "package_data" / "plotly.min.js"
    if not path.is_file():
        raise ImportError(
            f"the installed plotly has no {path.name}: "
            "pip install --force-reinstall zorvastatic[viewer]"
        )
    return path, get_plotlyjs_version()


def _write_sidecar(source: Path, target: Path) -> None:
    if target.is_file() and target.stat().st_size == source.stat().st_size:
        return
    partial = target.with_name(f".{target.name}.{os.getpid()}.part")
    try:
        partial.write_bytes(source.read_bytes())
        partial.replace(target)  # several pages written at once never see half a file
    finally:
        partial.unlink(missing_ok=True)
