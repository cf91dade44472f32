"""Checks of user input at the package boundary: each message names the argument and, for
arrays, the first bad element."""

from __future__ import annotations

import math
import operator
from typing import Any

import numpy as np


def _where(index: tuple[int, ...]) -> str:
    return "[" + ", ".join(str(i) for i in index) + "]"


def float_array(
    value: Any,
    name: str,
    *,
    shape: tuple[int, ...] | None = None,
    ndim: int | None = None,
    allow_nan: bool = False,
) -> np.ndarray:
    """A read-only float64 copy of `value`; masked entries become NaN.

    Refuses a shape other than `shape` (or a dimension count other than `ndim`), infinite
    values, and NaN unless `allow_nan`.

    Examples
    --------
    >>> float_array([1, 2], "x")
    array([1., 2.])
    >>> float_array([1.0, float("inf")], "x")
    Traceback (most recent call last):
    ...
    ValueError: x[1] is inf; values must be finite
    """
    if isinstance(value, np.ma.MaskedArray):
        value = np.ma.filled(value.astype(np.float64), np.nan)
    try:
        array = np.array(value, dtype=np.float64, copy=True)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name} must be an array of numbers: {error}") from None
    if shape is not None and array.shape != shape:
        raise ValueError(f"{name} has shape {array.shape}, expected {shape}")
    if ndim is not None and array.ndim != ndim:
        raise ValueError(f"{name} must have {ndim} dimension(s), got shape {array.shape}")
    bad = np.isinf(array) if allow_nan else ~np.isfinite(array)
    if bad.any():
        index = tuple(int(i) for i in np.argwhere(bad)[0])
        rule = "values must be finite or NaN (undefined)" if allow_nan else "values must be finite"
        raise ValueError(f"{name}{_where(index)} is {array[index]}; {rule}")
    array.flags.writeable = False
    return array


def same_length(name: str, **arrays: np.ndarray | tuple[Any, ...]) -> int:
    """The common length of the named columns of `name`, or ValueError naming both lengths.

    Examples
    --------
    >>> same_length("Picks", x=[1, 2], y=[3, 4])
    2
    """
    lengths = {key: len(column) for key, column in arrays.items()}
    first, length = next(iter(lengths.items()))
    for key, other in lengths.items():
        if other != length:
            raise ValueError(f"{name}: {key} has {other} values but {first} has {length}")
    return length


def finite(value: Any, name: str) -> float:
    """`value` as a finite float.

    Examples
    --------
    >>> finite(3, "x")
    3.0
    """
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a number, got {type(value).__name__}") from None
    if not math.isfinite(number):
        raise ValueError(f"{name} must be finite, got {number}")
    return number


def positive(value: Any, name: str) -> float:
    """`value` as a finite float > 0.

    Examples
    --------
    >>> positive(2, "dz")
    2.0
    """
    number = finite(value, name)
    if number <= 0:
        raise ValueError(f"{name} must be > 0, got {number}")
    return number


def optional_positive(value: Any, name: str) -> float | None:
    """None, or `value` as a finite float > 0.

    Examples
    --------
    >>> optional_positive(None, "radius") is None
    True
    """
    return None if value is None else positive(value, name)


def fraction(value: Any, name: str) -> float:
    """`value` as a float in [0, 1].

    Examples
    --------
    >>> fraction(0.25, "porosity")
    0.25
    """
    number = finite(value, name)
    if not 0.0 <= number <= 1.0:
        raise ValueError(f"{name} must be a fraction in [0, 1], got {number}")
    return number


def count(value: Any, name: str, minimum: int = 0) -> int:
    """`value` as an int >= `minimum` (numpy integers accepted, floats and bools refused).

    Examples
    --------
    >>> count(3, "nk", 1)
    3
    """
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, got bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, got {type(value).__name__}") from None
    if number < minimum:
        raise ValueError(f"{name} must be >= {minimum}, got {number}")
    return number


def text(value: Any, name: str) -> str:
    """`value` as a non-empty str.

    Examples
    --------
    >>> text("TopA", "name")
    'TopA'
    """
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, got {type(value).__name__}")
    if not value.strip():
        raise ValueError(f"{name} must not be empty")
    return value


def frozen_arrays(obj: object) -> None:
    """Marks every numpy array attribute of `obj` read-only (after unpickling too)."""
    for value in vars(obj).values():
        if isinstance(value, np.ndarray):
            value.flags.writeable = False
