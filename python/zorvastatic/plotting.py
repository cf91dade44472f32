"""Quick-look pictures of a model for reports and notebooks, drawn with matplotlib.

:func:`plot_map` draws one per-column layer of a map bundle in world coordinates (the grid's
rotation and flip included) with the wells, the outline and where the contacts meet the top
horizon; :func:`plot_section` draws every cell of an intersection bundle against distance along
the line and depth. Both return a :class:`matplotlib.figure.Figure` made without pyplot, so
nothing accumulates in a loop: save it with ``fig.savefig(...)`` or let a notebook show it.
"""

from __future__ import annotations

from collections.abc import Mapping
from typing import TYPE_CHECKING, Any, Literal

import numpy as np

from ._bundles import (
    NO_ZONE,
    PROPERTY_UNITS,
    Frame,
    layer_grid,
    load_bundle,
    map_layers,
    outline_rings,
    section_cells,
    section_extents,
    zone_colors,
)

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

__all__ = ["plot_map", "plot_section"]

BundleInput = str | bytes | Mapping[str, Any]

DEPTH_CMAP = "YlGnBu"
PROPERTY_CMAP = "viridis"
NO_VALUE = "#c9c9c9"
CONTACT_COLOURS = {"OWC": "#1f6fd1", "GOC": "#d1341f", "GWC": "#1f9d55"}


def plot_map(
    map_bundle: BundleInput,
    layer: str | None = None,
    *,
    ax: Axes | None = None,
    wells: bool = True,
    contacts: bool = True,
    cmap: str | None = None,
    title: str | None = None,
) -> Figure:
    """Draw one layer of a map bundle: a coloured cell per column, in world x and y.

    Parameters
    ----------
    map_bundle
        The bundle's JSON text (``StaticModel.map_bundle(...)``) or the parsed document.
    layer
        Name of a horizon, zone-average or k-slice layer of the bundle ("PORO::A",
        "PORO::k3", the top horizon's name ...); ``None`` takes the first zone average, else the
        first k-slice, else the top horizon.
    ax
        Axes to draw into; ``None`` makes a new figure.
    wells, contacts
        Draw the wells (with their names) and the lines where each contact meets the top horizon.
    cmap
        A matplotlib colour map; depths default to "YlGnBu", properties to "viridis".
    title
        Axes title; defaults to the layer's name.

    Returns
    -------
    matplotlib.figure.Figure

    Raises
    ------
    ImportError
        When matplotlib is not installed (``pip install zorvastatic[plot]``).
    KeyError
        When the bundle has no layer of that name (the message lists the names it has).
    ValueError
        When the bundle is not a map bundle of this engine.

    Examples
    --------
    >>> import _zorvastatic
    >>> fig = plot_map(_zorvastatic.build_flat_model().map_bundle("PORO"))
    >>> fig.axes[0].get_title()
    'PORO::RESERVOIR'
    """
    _matplotlib()
    doc = load_bundle(map_bundle, "map")
    frame = Frame(doc["frame"])
    chosen = _choose_layer(doc, layer)
    fig, ax = _figure_and_axes(ax, (7.0, 6.0))

    values = np.ma.masked_invalid(layer_grid(chosen, frame.ncol, frame.nrow))
    depth = chosen["units"] == "m"
    colours = _cmap(cmap or (DEPTH_CMAP if depth else PROPERTY_CMAP))
    x, y = frame.cell_corners()
    vmin, vmax = _colour_limits(chosen["range"]["min"], chosen["range"]["max"])
    mesh = ax.pcolormesh(x, y, values, cmap=colours, shading="flat", vmin=vmin, vmax=vmax)
    mesh.set_gid("layer")
    fig.colorbar(mesh, ax=ax, label=_label(chosen["name"], chosen["units"]), shrink=0.85)

    handles = []
    for ring in outline_rings(doc):
        ax.plot(ring[:, 0], ring[:, 1], color="#555555", lw=0.8, ls=":", label="outline")
    if contacts and doc["horizons"]:
        top = layer_grid(doc["horizons"][0], frame.ncol, frame.nrow)
        finite = top[np.isfinite(top)]
        cx, cy = frame.centres()
        for contact in doc["contacts"]:
            depth_m = contact["depth_m"]
            if depth_m is None or finite.size == 0 or not finite.min() < depth_m < finite.max():
                continue  # the contact does not meet the top horizon inside the grid
            colour = CONTACT_COLOURS.get(contact["kind"], "#444444")
            ax.contour(
                cx,
                cy,
                np.ma.masked_invalid(top),
                levels=[depth_m],
                colors=[colour],
                linestyles="--",
            )
            name = doc["horizons"][0]["name"]
            handles.append(_line(colour, _plain(f"{contact['kind']} {depth_m:g} m on {name}")))
    if wells and doc["wells"]:
        wx = [w["x"] for w in doc["wells"]]
        wy = [w["y"] for w in doc["wells"]]
        ax.scatter(
            wx,
            wy,
            s=36,
            c="white",
            edgecolors="black",
            linewidths=1.2,
            zorder=3,
            label="wells",
            gid="wells",
        )
        for well, px, py in zip(doc["wells"], wx, wy, strict=False):
            ax.annotate(
                _plain(well["id"]), (px, py), xytext=(4, 4), textcoords="offset points", fontsize=8
            )
    ax.set_aspect("equal")
    ax.set_xlabel("x (m)")
    ax.set_ylabel("y (m)")
    ax.set_title(title if title is not None else _plain(chosen["name"]))
    ax.ticklabel_format(useOffset=False, style="plain")
    legend = ax.get_legend_handles_labels()[0] + handles
    if legend:
        ax.legend(handles=legend, loc="upper left", fontsize=8, framealpha=0.85)
    return fig


def plot_section(
    intersection_bundle: BundleInput,
    *,
    color_by: Literal["property", "zone"] | None = None,
    ax: Axes | None = None,
    cmap: str | None = None,
    title: str | None = None,
) -> Figure:
    """Draw a cross-section: every cell along the line, the zone boundaries and the contacts.

    Parameters
    ----------
    intersection_bundle
        The bundle's JSON text (``StaticModel.intersection_bundle(...)``) or the parsed document.
    color_by
        ``"property"`` (cells without a value are grey) or ``"zone"``; ``None`` takes the property
        when the bundle has one.
    ax
        Axes to draw into; ``None`` makes a new figure.
    cmap
        A matplotlib colour map for the property ("viridis" by default).
    title
        Axes title; defaults to the property's name, or "Zones".

    Returns
    -------
    matplotlib.figure.Figure

    Raises
    ------
    ImportError
        When matplotlib is not installed (``pip install zorvastatic[plot]``).
    ValueError
        When the bundle is not an intersection bundle of this engine, or ``color_by`` is
        "property" for a bundle without one or is not a known choice.

    Examples
    --------
    >>> import _zorvastatic
    >>> model = _zorvastatic.build_flat_model()
    >>> fig = plot_section(model.intersection_bundle([(0, 450), (1000, 450)], "PORO"))
    >>> len(fig.axes[0].collections[0].get_paths())
    50
    """
    _matplotlib()
    from matplotlib.collections import PolyCollection
    from matplotlib.patches import Patch

    doc = load_bundle(intersection_bundle, "intersection")
    has_property = doc["property"] is not None
    if color_by is None:
        color_by = "property" if has_property else "zone"
    if color_by not in ("property", "zone"):
        raise ValueError(f"color_by must be 'property' or 'zone', not {color_by!r}")
    if color_by == "property" and not has_property:
        raise ValueError("color_by='property' needs a bundle made with a property")
    fig, ax = _figure_and_axes(ax, (10.0, 4.5))

    cells = section_cells(doc)
    zones = doc["zones"]
    colours = zone_colors(zones)
    cells_drawn = PolyCollection(cells["polygons"], edgecolors="face", linewidths=0.3, gid="cells")
    if color_by == "property":
        values = np.ma.masked_invalid(cells["values"])
        cells_drawn.set_array(values)
        cells_drawn.set_cmap(_cmap(cmap or PROPERTY_CMAP).with_extremes(bad=NO_VALUE))
        if values.count():
            cells_drawn.set_clim(*_colour_limits(float(values.min()), float(values.max())))
        fig.colorbar(cells_drawn, ax=ax, label=_label(doc["property"], PROPERTY_UNITS))
        legend = []
    else:
        known = (cells["zone_ids"] != NO_ZONE) & (cells["zone_ids"] < len(zones))
        palette = np.array([*colours, NO_VALUE])
        cells_drawn.set_facecolor(palette[np.where(known, cells["zone_ids"], len(zones))].tolist())
        legend = [
            Patch(color=colour, label=_plain(zone["name"]))
            for zone, colour in zip(zones, colours, strict=False)
        ]
    ax.add_collection(cells_drawn)

    left, right = section_extents(doc)
    if cells["k"].size:
        _boundary(ax, cells, True, doc["top_name"])
        _boundary(ax, cells, False, doc["base_name"])
    mids = [(a + b) / 2 for a, b in zip(left, right, strict=False)]
    for trace in doc["horizon_traces"]:
        depths = [np.nan if d is None else d for d in trace["depths"]]
        ax.plot(mids, depths, color="#111111", lw=1.0, ls=":", label=_plain(trace["name"]))
    for contact in doc["contacts"]:
        colour = CONTACT_COLOURS.get(contact["kind"], "#444444")
        ax.axhline(
            contact["depth_m"],
            color=colour,
            ls="--",
            lw=1.5,
            label=f"{contact['kind']} {contact['depth_m']:g} m",
        )
    ax.autoscale_view()
    if left:
        ax.set_xlim(left[0], right[-1])
    ax.invert_yaxis()
    ax.set_xlabel("distance along section (m)")
    ax.set_ylabel("depth (m)")
    ax.set_title(
        title
        if title is not None
        else (_plain(doc["property"]) if color_by == "property" else "Zones")
    )
    handles = legend + ax.get_legend_handles_labels()[0]
    if handles:
        ax.legend(
            handles=handles,
            loc="upper left",
            bbox_to_anchor=(0.0, -0.16),
            ncol=6,
            fontsize=8,
            frameon=False,
        )
    return fig


def _boundary(ax: Axes, cells: Mapping[str, np.ndarray], top: bool, name: str) -> None:
    """The top or the base of the drawn cells as one line along the section, broken where it
    jumps."""
    columns = cells["column"]
    starts = np.r_[True, columns[1:] != columns[:-1]]
    pick = starts if top else np.r_[starts[1:], True]  # first or last drawn layer of each column
    edges = cells["polygons"][pick][
        :, [0, 1] if top else [3, 2]
    ]  # (columns, 2 ends, distance/depth)
    xs: list[float] = []
    ys: list[float] = []
    for n, ((x0, y0), (x1, y1)) in enumerate(edges):
        if n and x0 != xs[-1]:
            xs.append(np.nan)
            ys.append(np.nan)
        xs += [x0, x1]
        ys += [y0, y1]
    ax.plot(xs, ys, color="#111111", lw=1.4, label=_plain(name))


def _choose_layer(doc: Mapping[str, Any], name: str | None) -> Mapping[str, Any]:
    layers = map_layers(doc)
    if name is None:
        for group in ("zone_averages", "k_slices", "horizons"):
            if doc[group]:
                return doc[group][0]
    for candidate in layers:
        if candidate["name"] == name:
            return candidate
    raise KeyError(f"the map bundle has no layer {name!r}; it has {[c['name'] for c in layers]}")


def _colour_limits(low: float | None, high: float | None) -> tuple[float | None, float | None]:
    """Colour-scale bounds of a value range; a single value gets a narrow band around it."""
    if low is None or high is None or not low <= high:
        return None, None
    if high > low:
        return low, high
    pad = 0.01 * abs(low) or 0.01
    return low - pad, high + pad


def _label(name: str, units: str) -> str:
    return _plain(f"{name} ({units})" if units else name)


def _plain(text: str) -> str:
    """Text shown as written: matplotlib would read a pair of dollar signs as mathematics."""
    return text.replace("$", r"\$")


def _line(colour: str, label: str) -> Any:
    from matplotlib.lines import Line2D

    return Line2D([], [], color=colour, ls="--", label=label)


def _cmap(name: str) -> Any:
    import matplotlib

    return matplotlib.colormaps[name]


def _figure_and_axes(ax: Axes | None, size: tuple[float, float]) -> tuple[Figure, Axes]:
    if ax is not None:
        return ax.figure, ax
    from matplotlib.figure import Figure

    fig = Figure(figsize=size, layout="constrained")
    return fig, fig.add_subplot()


def _matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise ImportError(
            "zorvastatic.plotting needs matplotlib: pip install zorvastatic[plot]"
        ) from None
