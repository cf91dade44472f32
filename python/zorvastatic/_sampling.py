"""Parameter tables for ensembles: draws from simple distributions and realisation seeds.

Every draw comes from its own stream, keyed by the ensemble seed, the realisation number and
the parameter's name, so growing an ensemble keeps its earlier realisations, and adding,
removing or reordering parameters keeps the others' values.
"""

from __future__ import annotations

import math
import zlib
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np

__all__ = ["Distribution", "realisation_seed", "sample_columns"]

# Spawn keys under the ensemble seed: (realisation, stream, ...).
_SEED_STREAM = 0
_PARAMETER_STREAM = 1


@dataclass(frozen=True)
class Distribution:
    """One parameter's distribution, checked: ``("uniform", low, high)``, ``("normal", mean,
    std)``, ``("triangular", low, mode, high)``, ``("discrete", values)`` or ``("discrete",
    values, weights)``, or a plain constant.

    Examples
    --------
    >>> Distribution.parse("OWC", ("triangular", 1715.0, 1720.0, 1735.0)).kind
    'triangular'
    >>> Distribution.parse("BO", ("normal", 1.25, -0.1))
    Traceback (most recent call last):
    ...
    ValueError: parameter 'BO': normal std must be finite and >= 0, got -0.1
    """

    name: str
    kind: str
    arguments: tuple[Any, ...]
    weights: tuple[float, ...] | None = None

    @classmethod
    def parse(cls, name: str, value: Any) -> Distribution:
        """Checks a distribution given as a tuple (or a constant) and returns it.

        Examples
        --------
        >>> Distribution.parse("SEEDLESS", 3).arguments
        (3,)
        """
        if not isinstance(name, str) or not name:
            raise TypeError(f"parameter names must be non-empty str, got {name!r}")
        label = f"parameter '{name}'"
        if isinstance(value, (str, bytes)) or not isinstance(value, Sequence):
            if isinstance(value, (bool, int, float, str, np.generic)):
                return cls(name, "constant", (value,))
            raise TypeError(f"{label}: expected a (kind, ...) tuple or a constant, got {value!r}")
        if not value or not isinstance(value[0], str):
            raise ValueError(f"{label}: the first item must name the kind, got {value!r}")
        kind, arguments = value[0].strip().lower(), tuple(value[1:])
        if kind == "discrete":
            return cls._discrete(name, label, arguments)
        counts = {"uniform": 2, "normal": 2, "triangular": 3}
        if kind not in counts:
            raise ValueError(
                f"{label}: kind must be 'uniform', 'normal', 'triangular' or 'discrete', "
                f"got {value[0]!r}"
            )
        if len(arguments) != counts[kind]:
            raise ValueError(f"{label}: {kind} takes {counts[kind]} numbers, got {len(arguments)}")
        numbers = tuple(_finite(v, f"{label}: {kind} arguments") for v in arguments)
        if kind == "uniform" and not numbers[0] <= numbers[1]:
            raise ValueError(f"{label}: uniform needs low <= high, got {numbers}")
        if kind == "normal" and not numbers[1] >= 0:
            raise ValueError(f"{label}: normal std must be finite and >= 0, got {numbers[1]}")
        if kind == "triangular" and not numbers[0] <= numbers[1] <= numbers[2]:
            raise ValueError(f"{label}: triangular needs low <= mode <= high, got {numbers}")
        return cls(name, kind, numbers)

    @classmethod
    def _discrete(cls, name: str, label: str, arguments: tuple[Any, ...]) -> Distribution:
        if len(arguments) not in (1, 2):
            raise ValueError(f"{label}: discrete takes values and optional weights")
        values = tuple(arguments[0])
        if not values:
            raise ValueError(f"{label}: discrete needs at least one value")
        if len(arguments) == 1:
            return cls(name, "discrete", values)
        weights = tuple(_finite(w, f"{label}: discrete weights") for w in arguments[1])
        if len(weights) != len(values):
            raise ValueError(f"{label}: {len(values)} discrete values but {len(weights)} weights")
        if min(weights) < 0 or sum(weights) <= 0:
            raise ValueError(f"{label}: discrete weights must be >= 0 with a positive sum")
        total = math.fsum(weights)
        return cls(name, "discrete", values, tuple(w / total for w in weights))

    def draw(self, rng: np.random.Generator) -> Any:
        """One value from `rng`.

        Examples
        --------
        >>> d = Distribution.parse("X", ("uniform", 2.0, 3.0))
        >>> 2.0 <= d.draw(np.random.default_rng(1)) <= 3.0
        True
        """
        a = self.arguments
        if self.kind == "constant":
            return a[0]
        if self.kind == "uniform":
            return float(rng.uniform(a[0], a[1]))
        if self.kind == "normal":
            return float(rng.normal(a[0], a[1]))
        if self.kind == "triangular":
            # numpy refuses a zero-width triangle; it is the constant.
            return a[0] if a[0] == a[2] else float(rng.triangular(a[0], a[1], a[2]))
        index = int(rng.choice(len(a), p=None if self.weights is None else list(self.weights)))
        value = a[index]
        return value.item() if isinstance(value, np.generic) else value


def _finite(value: Any, label: str) -> float:
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{label} must be numbers, got {value!r}") from None
    if not math.isfinite(number):
        raise ValueError(f"{label} must be finite, got {value!r}")
    return number


def realisation_seed(seed: int, real: int) -> int:
    """The integer seed of realisation `real` of an ensemble seeded `seed`, in ``[0, 2**63)``.

    It depends on nothing else, so realisation 3 has the same seed in an ensemble of 4 and
    of 400.

    Examples
    --------
    >>> realisation_seed(2026, 3) == realisation_seed(2026, 3)
    True
    >>> realisation_seed(2026, 3) != realisation_seed(2026, 4)
    True
    """
    words = np.random.SeedSequence(seed, spawn_key=(real, _SEED_STREAM)).generate_state(
        1, np.uint64
    )
    return int(words[0]) >> 1


def _name_key(name: str) -> int:
    return zlib.crc32(name.encode("utf-8"))


def sample_columns(distributions: Mapping[str, Any], n: int, seed: int) -> dict[str, list[Any]]:
    """REAL, one column per parameter (in the mapping's order) and SEED, `n` rows.

    Examples
    --------
    >>> columns = sample_columns({"X": ("discrete", ["a", "b"])}, 3, seed=1)
    >>> list(columns), columns["REAL"]
    (['REAL', 'X', 'SEED'], [0, 1, 2])
    """
    if not isinstance(distributions, Mapping):
        raise TypeError(
            f"distributions must be a dict of name to distribution, got "
            f"{type(distributions).__name__}"
        )
    parsed = [Distribution.parse(name, value) for name, value in distributions.items()]
    for reserved in ("REAL", "SEED"):
        if reserved in distributions:
            raise ValueError(f"'{reserved}' is a column of the table, not a parameter name")
    if isinstance(n, bool) or not isinstance(n, (int, np.integer)) or n < 0:
        raise ValueError(f"n must be an integer >= 0, got {n!r}")
    if isinstance(seed, bool) or not isinstance(seed, (int, np.integer)) or seed < 0:
        raise ValueError(f"seed must be an integer >= 0, got {seed!r}")
    columns: dict[str, list[Any]] = {"REAL": list(range(int(n)))}
    for distribution in parsed:
        key = _name_key(distribution.name)
        columns[distribution.name] = [
            distribution.draw(
                np.random.default_rng(
                    np.random.SeedSequence(seed, spawn_key=(real, _PARAMETER_STREAM, key))
                )
            )
            for real in range(int(n))
        ]
    columns["SEED"] = [realisation_seed(int(seed), real) for real in range(int(n))]
    return columns
