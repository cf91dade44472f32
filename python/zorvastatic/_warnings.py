"""Warning classes of the package."""

from __future__ import annotations

__all__ = ["BuildWarning", "InputWarning", "WellOutsideGridWarning"]


class BuildWarning(UserWarning):
    """Something the engine noted while building: a repaired or pinched interval, a cap.

    The same facts are kept in ``model.provenance.warnings``.

    Examples
    --------
    >>> import warnings
    >>> with warnings.catch_warnings(record=True) as caught:
    ...     warnings.simplefilter("always")
    ...     warnings.warn("12 cell(s) have no thickness", BuildWarning)
    >>> caught[0].category.__name__
    'BuildWarning'
    """


class InputWarning(UserWarning):
    """Input data was adjusted on the way in: samples dropped, points averaged.

    Examples
    --------
    >>> issubclass(InputWarning, UserWarning)
    True
    """


class WellOutsideGridWarning(InputWarning):
    """A well log lies outside the lattice and is left out of its pipeline.

    Examples
    --------
    >>> issubclass(WellOutsideGridWarning, InputWarning)
    True
    """
