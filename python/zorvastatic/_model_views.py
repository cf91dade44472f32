"""Seeing a built model: the offline viewer page, quick-look pictures, the notebook summary."""

from __future__ import annotations

import json
import os
from collections.abc import Sequence
from pathlib import Path
from typing import TYPE_CHECKING, Any, Literal

from . import _summary, plotting, viewer
from ._progress import ProgressArg, reporting

if TYPE_CHECKING:
    from matplotlib.figure import Figure

    from ._model import ZoneInfo

__all__ = ["ModelViews"]

#: Largest model whose notebook summary computes the zone volumes (one pass over the cells,
#: about 0.2 s at this size); larger or spilled models show how to ask for them.
SUMMARY_VOLUME_CELLS = 20_000_000


class ModelViews:
    """The viewer, picture and summary methods of `Model`."""

    # What `Model` provides.
    raw: Any
    dims: tuple[int, int, int]
    zones: tuple[ZoneInfo, ...]
    spilled: bool
    store_path: str | None
    closed: bool
    _summary_volumes: str | None = None

    def write_viewer(
        self,
        path: str | os.PathLike[str],
        property: str | None = None,
        section: Sequence[Sequence[float]] | None = None,
        *,
        k_slice: int | None = 0,
        title: str | None = None,
        plotly_js: Literal["inline", "sidecar"] = "inline",
        progress: ProgressArg = None,
    ) -> Path:
        """Write one self-contained HTML page of the model that opens offline in any browser.

        The page shows the map (zone averages, the k-slice, horizon depths, wells, contacts),
        a cross-section and the 3-D shell of the cells, each with hover values and a colour bar.
        It makes no network request: the data and the plotting library are inside the file
        (plotly must be installed: ``pip install zorvastatic[viewer]``).

        Parameters
        ----------
        path
            The HTML file to write.
        property
            Property to show; None takes "PORO" when the model has it.
        section
            World (x, y) vertices of the cross-section; None cuts along the grid's i axis
            through the middle row of columns.
        k_slice
            Layer shown as a map besides the zone averages; None for none.
        title
            Page title; defaults to "Model: <property>".
        plotly_js
            "inline" (one file, about 5 MB) or "sidecar" (plotly.js written once beside the
            page, for folders of many pages).
        progress
            Progress of making the page's data: None for a bar when stderr is a terminal, True
            for a bar anywhere, False for none, or a callable taking a `Progress`.

        Returns
        -------
        pathlib.Path
            The page written.

        Examples
        --------
        >>> import pathlib, tempfile
        >>> from zorvastatic._model import _example
        >>> with tempfile.TemporaryDirectory() as folder:
        ...     page = _example().write_viewer(pathlib.Path(folder, "m.html"), "PORO")
        ...     "Model: PORO" in page.read_text()
        True
        """
        return viewer.write_model_html(
            path,
            self.raw,
            property=property,
            section=section,
            k_slice=k_slice,
            title=title,
            plotly_js=plotly_js,
            progress=progress,
        )

    def plot_map(
        self,
        property: str | None = None,
        layer: str | None = None,
        *,
        k_slice: int | None = None,
        progress: ProgressArg = None,
        **kwargs: Any,
    ) -> Figure:
        """A map picture of one layer of the model, in world x and y, with wells and contacts.

        Parameters
        ----------
        property
            Property whose zone averages (and `k_slice`) the map offers; None: depths only.
        layer
            Layer to draw: a horizon's name, "<property>::<zone>" (a zone average) or
            "<property>::k<n>" (a k-slice). None draws the k-slice when `k_slice` is given,
            else the first zone's average, else the top horizon's depth.
        k_slice
            A layer index to offer as "<property>::k<n>".
        progress
            As for `write_viewer`.
        **kwargs
            Passed on to `zorvastatic.plotting.plot_map` (``ax``, ``wells``, ``contacts``,
            ``cmap``, ``title``).

        Returns
        -------
        matplotlib.figure.Figure
            Made without pyplot: save it with ``fig.savefig(...)`` or let a notebook show it.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> _example().plot_map("PORO", k_slice=1).axes[0].get_title()
        'PORO::k1'
        """
        with reporting(progress, "map"):
            bundle = self.raw.map_bundle(property, k_slice if property is not None else None)
        if layer is None and property is not None and k_slice is not None:
            layer = f"{property}::k{k_slice}"
        return plotting.plot_map(bundle, layer, **kwargs)

    def plot_section(
        self,
        line: Sequence[Sequence[float]] | None = None,
        property: str | None = None,
        *,
        progress: ProgressArg = None,
        **kwargs: Any,
    ) -> Figure:
        """A cross-section picture: every cell along a world polyline against distance and depth.

        Parameters
        ----------
        line
            World (x, y) vertices; None cuts along the grid's i axis through the middle row.
        property
            Property to colour the cells by; None colours them by zone.
        progress
            As for `write_viewer`.
        **kwargs
            Passed on to `zorvastatic.plotting.plot_section` (``color_by``, ``ax``, ``cmap``,
            ``title``).

        Returns
        -------
        matplotlib.figure.Figure

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> fig = _example().plot_section(property="PORO")
        >>> len(fig.axes[0].collections[0].get_paths())
        4
        """
        with reporting(progress, "section"):
            if line is None:
                line = viewer.middle_row(self.raw.map_bundle())
            bundle = self.raw.intersection_bundle([tuple(map(float, v)) for v in line], property)
        return plotting.plot_section(bundle, **kwargs)

    def _repr_html_(self) -> str:
        """The notebook view: size, zones with their layers and volumes, properties."""
        if self.closed:
            return '<div class="zorvastatic-summary">Model (closed)</div>'
        ni, nj, nk = self.dims
        notes = []
        volumes = self._summary_volumes
        if volumes is None:
            if self.spilled:
                notes.append("volumes: model.in_place_by_zone() (they are read from the store)")
            elif ni * nj * nk > SUMMARY_VOLUME_CELLS:
                notes.append("volumes: model.in_place_by_zone()")
            else:
                # A built model never changes: its volumes are computed once.
                volumes = self._summary_volumes = json.loads(self.raw.in_place_by_zone())
        if self.spilled:
            notes.append(f"in the store file {self.store_path}")
        return _summary.summary_html(
            dims=self.dims,
            zones=self.zones,
            volumes=volumes,
            properties=self.raw.property_names(),
            notes=notes,
        )
