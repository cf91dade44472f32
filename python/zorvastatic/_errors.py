"""Exceptions of the engine's error kinds, raised by `build` and the other package entry points.

Each is a plain `ValueError` subclass, so ``except ValueError`` keeps working, and carries the
engine's own message. The extension raises them once they are registered at import.
"""

from __future__ import annotations

import _zorvastatic

__all__ = [
    "AlgorithmError",
    "CrossedSurfacesError",
    "GridError",
    "InvalidInputError",
    "MonteCarloDrawError",
    "OutOfRangeError",
]


class AlgorithmError(ValueError):
    """A failure inside an algorithm: gridding, geostatistics or the store.

    Examples
    --------
    >>> issubclass(AlgorithmError, ValueError)
    True
    """


class InvalidInputError(ValueError):
    """An input the engine refuses; the message starts with ``invalid input:``.

    Examples
    --------
    >>> str(InvalidInputError("invalid input: nk must be >= 1"))
    'invalid input: nk must be >= 1'
    """


class GridError(ValueError):
    """A lattice or grid that cannot be built; the message starts with ``grid error:``.

    Examples
    --------
    >>> issubclass(GridError, ValueError)
    True
    """


class OutOfRangeError(ValueError):
    """A value outside its validity range; the message starts with ``outside validity range:``.

    Examples
    --------
    >>> issubclass(OutOfRangeError, ValueError)
    True
    """


class CrossedSurfacesError(ValueError):
    """A surface lies above the one that should be above it.

    Attributes
    ----------
    nodes : int
        Number of lattice nodes where the surfaces cross.
    worst_m : float
        The most negative separation found, metres (lower minus upper depth).

    Examples
    --------
    >>> error = CrossedSurfacesError("base surface crosses above the top at 3 node(s)")
    >>> error.nodes, error.worst_m
    (0, 0.0)
    """

    nodes: int = 0
    worst_m: float = 0.0


class MonteCarloDrawError(ValueError):
    """One draw of a Monte-Carlo loop failed; `index` is the draw.

    Examples
    --------
    >>> MonteCarloDrawError("Monte-Carlo draw #3 failed: ...").index
    0
    """

    index: int = 0


_zorvastatic._register_error_types(
    {
        "algo": AlgorithmError,
        "invalid_input": InvalidInputError,
        "grid": GridError,
        "out_of_range": OutOfRangeError,
        "crossed_surfaces": CrossedSurfacesError,
        "mc_draw": MonteCarloDrawError,
    }
)
