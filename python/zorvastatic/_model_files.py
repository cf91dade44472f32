"""A model written to the field's grid files, or handed to pyvista and xtgeo.

Every writer takes the model's own arrays (views where the engine holds them) and writes one
k-layer at a time where the format allows, so a spilled model streams from its store. ACTNUM is
`Model.actnum`: cells without volume are inactive.
"""

from __future__ import annotations

from collections.abc import Iterable
from typing import Any

from .io import to_pyvista as _to_pyvista
from .io import to_xtgeo as _to_xtgeo
from .io import write_egrid, write_grdecl, write_roff, write_vtk
from .io._files import PathLike
from .io.roff import UNDEFINED


class FilesMixin:
    """File writers of `Model`."""

    def _chosen(self, properties: Iterable[str] | None) -> list[str]:
        """The properties asked for; by default every property of the model."""
        if properties is None:
            return self.property_names()  # type: ignore[attr-defined]
        return [properties] if isinstance(properties, str) else list(properties)

    def to_grdecl(
        self,
        path: PathLike,
        properties: Iterable[str] | None = None,
        nan_value: float = 0.0,
        map_origin: bool = True,
    ) -> None:
        """Write the grid and properties as a GRDECL text file.

        ``SPECGRID``, ``COORD`` in world coordinates, ``ZCORN``, ``ACTNUM`` and one keyword per
        property, each formatted one k-layer at a time (a spilled model streams from its store).

        Parameters
        ----------
        path : str or os.PathLike
            Output file; it appears only once complete.
        properties : iterable of str, optional
            Default: every property of the model.
        nan_value : float
            Written for NaN values; a `zorvastatic.io.NaNWrittenWarning` counts them.
        map_origin : bool
            Many readers keep COORD as 32-bit floats, about 0.5 m apart at a northing of
            6,000 km: with ``map_origin`` (default) a grid far from the map origin is written
            relative to a whole-metre origin given by ``MAPAXES``, which readers add back.

        Raises
        ------
        KeyError
            A property the model does not have.
        ValueError
            A name that is not 1 to 8 characters of ``A-Z 0-9 _``, or an infinite value.
        OSError
            The file cannot be written (the OS error, naming the path).

        Examples
        --------
        >>> import os, tempfile
        >>> import zorvastatic as zv
        >>> from zorvastatic._model import _example
        >>> path = os.path.join(tempfile.mkdtemp(), "model.grdecl")
        >>> _example().to_grdecl(path)
        >>> zv.read_grid(path).dims
        (2, 2, 2)
        """
        arrays = self._arrays(self._chosen(properties))  # type: ignore[attr-defined]
        write_grdecl(path, arrays, nan_value=nan_value, map_origin=map_origin)

    def to_egrid(self, path: PathLike, map_origin: bool = True) -> None:
        """Write the grid's geometry and ACTNUM as an EGRID file (it holds no properties).

        Parameters
        ----------
        path : str or os.PathLike
            Output file.
        map_origin : bool
            Coordinates relative to ``MAPAXES`` where that keeps precision (default), as for
            `to_grdecl`.

        Raises
        ------
        ImportError
            resfo is missing (``pip install zorvastatic[io]``).

        Examples
        --------
        >>> import os, tempfile
        >>> import resfo
        >>> from zorvastatic._model import _example
        >>> path = os.path.join(tempfile.mkdtemp(), "model.egrid")
        >>> _example().to_egrid(path)
        >>> [kw.strip() for kw, _ in resfo.read(path)][-1]
        'ENDGRID'
        """
        write_egrid(path, self._arrays([]), map_origin=map_origin)  # type: ignore[attr-defined]

    def to_roff(
        self, path: PathLike, properties: Iterable[str] | None = None, nan_value: float = UNDEFINED
    ) -> None:
        """Write the grid, its zones (as subgrids) and properties as one binary ROFF file.

        Raises
        ------
        ImportError
            roffio is missing (``pip install zorvastatic[io]``).

        Examples
        --------
        >>> import os, tempfile
        >>> import roffio
        >>> from zorvastatic._model import _example
        >>> path = os.path.join(tempfile.mkdtemp(), "model.roff")
        >>> _example().to_roff(path)
        >>> int(roffio.read(path)["dimensions"]["nZ"])
        2
        """
        arrays = self._arrays(self._chosen(properties))  # type: ignore[attr-defined]
        write_roff(path, arrays, nan_value=nan_value)

    def to_vtk(
        self, path: PathLike, properties: Iterable[str] | None = None, elevation: bool = True
    ) -> None:
        """Write the grid as a legacy binary VTK unstructured grid (cell data: ACTNUM and the
        properties); ``z = -depth`` unless ``elevation`` is false.

        Examples
        --------
        >>> import os, tempfile
        >>> from zorvastatic._model import _example
        >>> path = os.path.join(tempfile.mkdtemp(), "model.vtk")
        >>> _example().to_vtk(path)
        >>> os.path.getsize(path) > 0
        True
        """
        arrays = self._arrays(self._chosen(properties))  # type: ignore[attr-defined]
        write_vtk(path, arrays, elevation=elevation)

    def to_pyvista(
        self,
        properties: Iterable[str] | None = None,
        elevation: bool = True,
        max_cells: int = 20_000_000,
        force: bool = False,
    ) -> Any:
        """The grid as a ``pyvista.ExplicitStructuredGrid`` with the properties as cell data.

        With ``elevation`` (default) ``z = -depth`` and k runs upward as in pyvista's own GRDECL
        reader: ``cell_data[name]`` equals ``model.property(name)[:, :, ::-1].ravel(order="F")``;
        without it, ``model.property(name).ravel(order="F")``. Inactive cells are hidden.

        Raises
        ------
        ImportError
            pyvista is missing (``pip install zorvastatic[vtk]``).
        ValueError
            More than ``max_cells`` cells without ``force``.

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> grid = _example().to_pyvista()
        >>> grid.n_cells, sorted(grid.cell_data.keys())
        (8, ['ACTNUM', 'NTG', 'PORO', 'SW'])
        """
        arrays = self._arrays(self._chosen(properties))  # type: ignore[attr-defined]
        return _to_pyvista(arrays, elevation=elevation, max_cells=max_cells, force=force)

    def to_xtgeo(self, properties: Iterable[str] | None = None) -> Any:
        """An ``xtgeo.Grid`` of the model, zones as subgrids, with the properties appended as
        ``GridProperty`` objects (every xtgeo writer then applies).

        Raises
        ------
        ImportError
            xtgeo is missing (``pip install zorvastatic[xtgeo]``).

        Examples
        --------
        >>> from zorvastatic._model import _example
        >>> grid = _example().to_xtgeo()
        >>> grid.dimensions, grid.get_prop_by_name("PORO").values.shape
        (Dimensions(ncol=2, nrow=2, nlay=2), (2, 2, 2))
        """
        return _to_xtgeo(self._arrays(self._chosen(properties)))  # type: ignore[attr-defined]
