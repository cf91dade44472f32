"""One realisation of an ensemble, as a worker runs it: limits from the worker, build, table.

The task returns columns of plain numbers and names, never a model: a model holds engine
memory (or a store file) that only lives in the process that built it.
"""

from __future__ import annotations

import dataclasses
import functools
import os
import pickle
import re
import resource
import sys
import time
import traceback
from collections.abc import Callable, Iterator, Mapping
from dataclasses import dataclass, field
from typing import Any

import numpy as np

__all__ = ["Outcome", "Row", "WorkerLimits", "parse_bytes", "run_realisation"]

_UNITS = {
    "": 1,
    "b": 1,
    "kb": 10**3,
    "mb": 10**6,
    "gb": 10**9,
    "tb": 10**12,
    "kib": 2**10,
    "mib": 2**20,
    "gib": 2**30,
    "tib": 2**40,
}


def parse_bytes(value: int | str) -> int:
    """Bytes from an integer or a text such as ``"6GiB"``, ``"512 MB"`` or ``"1e9"``.

    Examples
    --------
    >>> parse_bytes("6GiB"), parse_bytes("512 MB"), parse_bytes(1024)
    (6442450944, 512000000, 1024)
    """
    if isinstance(value, (int, np.integer)) and not isinstance(value, bool):
        number, unit = float(value), ""
    elif isinstance(value, str):
        match = re.fullmatch(r"\s*([0-9.]+(?:e[0-9]+)?)\s*([a-zA-Z]*)\s*", value)
        if match is None or match.group(2).lower() not in _UNITS:
            raise ValueError(f"memory sizes look like 6GiB, 512MB or 1000000, got {value!r}")
        number, unit = float(match.group(1)), match.group(2).lower()
    else:
        raise TypeError(f"a memory size must be an int or a str, got {type(value).__name__}")
    size = int(number * _UNITS[unit])
    if size <= 0:
        raise ValueError(f"a memory size must be positive, got {value!r}")
    return size


class MissingParameterError(KeyError, AttributeError):
    """A parameter the realisation's row does not have (both a KeyError and an
    AttributeError, so ``row["X"]``, ``row.X`` and ``hasattr`` behave as usual)."""

    def __str__(self) -> str:
        return str(self.args[0])


class Row(Mapping[str, Any]):
    """The parameters of one realisation: ``row["OWC"]`` or ``row.OWC``, plus ``row.REAL`` and
    ``row.SEED``.

    Examples
    --------
    >>> row = Row({"REAL": 3, "OWC": 1725.0, "SEED": 99})
    >>> row.OWC, row["REAL"], dict(row)["SEED"]
    (1725.0, 3, 99)
    >>> row.GOC
    Traceback (most recent call last):
    ...
    zorvastatic._realisation.MissingParameterError: realisation 3 has no parameter 'GOC'; it has OWC
    """

    __slots__ = ("_values",)

    def __init__(self, values: Mapping[str, Any]) -> None:
        object.__setattr__(self, "_values", dict(values))

    def __getitem__(self, name: str) -> Any:
        try:
            return self._values[name]
        except KeyError:
            given = [k for k in self._values if k not in ("REAL", "SEED")]
            real = self._values.get("REAL", "?")
            raise MissingParameterError(
                f"realisation {real} has no parameter {name!r}; it has "
                f"{', '.join(given) if given else 'none'}"
            ) from None

    def __getattr__(self, name: str) -> Any:
        if name.startswith("__"):
            raise AttributeError(name)
        return self[name]

    def __setattr__(self, name: str, value: Any) -> None:
        raise AttributeError("a realisation's row is read-only")

    def __iter__(self) -> Iterator[str]:
        return iter(self._values)

    def __len__(self) -> int:
        return len(self._values)

    def __repr__(self) -> str:
        return f"Row({self._values!r})"

    def __reduce__(self) -> Any:
        return (Row, (self._values,))


@dataclass(frozen=True)
class WorkerLimits:
    """What a realisation may use where it runs: engine threads (None: leave the cap as it
    is), the memory budget above which a model goes to a store file, and where that store goes.
    """

    engine_threads: int | None
    memory_budget: int | None
    spill_dir: str | None


@dataclass
class Outcome:
    """What a realisation sends back: its table, or why it has none."""

    real: int
    columns: dict[str, np.ndarray] | None = None
    spilled: bool = False
    seconds: float = float("nan")
    warnings: list[str] = field(default_factory=list)
    error_type: str | None = None
    error_message: str | None = None
    error_traceback: str | None = None
    error: BaseException | None = None


def _dask_worker() -> Any:
    distributed = sys.modules.get("distributed")  # a dask worker has imported it already
    if distributed is None:
        return None
    try:
        return distributed.get_worker()
    except ValueError:  # not running in a dask worker
        return None


def _process_memory_limit() -> int | None:
    """The smallest memory limit this process lives under: its address-space limit or its
    control group's; None when neither is set."""
    limits = []
    soft, _ = resource.getrlimit(resource.RLIMIT_AS)
    if soft not in (resource.RLIM_INFINITY, -1) and soft > 0:
        limits.append(int(soft))
    for path in ("/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"):
        try:
            with open(path) as file:
                text = file.read().strip()
        except OSError:
            continue
        if text.isdigit() and int(text) < 2**60:
            limits.append(int(text))
    return min(limits) if limits else None


def local_limits(
    engine_threads: int | None, memory_limit: int | None, home_pid: int
) -> WorkerLimits:
    """The limits of the process running a realisation.

    In a dask worker: half the worker's memory limit as the budget, its local directory for
    stores. Elsewhere: half of `memory_limit` when given, else half the process's own limit,
    else the engine's default; stores in the default directory. In the process that started
    the ensemble (`home_pid`, e.g. a thread pool) the thread cap is left alone: it is
    process-wide and the caller's.
    """
    worker = _dask_worker()
    if worker is not None:
        limit = worker.memory_manager.memory_limit
        return WorkerLimits(
            engine_threads,
            None if not limit else int(limit) // 2,
            str(worker.local_directory),
        )
    if memory_limit is None:
        memory_limit = _process_memory_limit()
    threads = None if os.getpid() == home_pid else engine_threads
    return WorkerLimits(threads, None if memory_limit is None else memory_limit // 2, None)


def _bounded_spec(spec: Any, limits: WorkerLimits) -> Any:
    """The ModelSpec with the worker's budget (or its own, when smaller) and store directory
    (unless it names one)."""
    options = spec.options
    budget = options.memory_budget
    if limits.memory_budget is not None:
        budget = (
            limits.memory_budget if budget == "auto" else min(int(budget), limits.memory_budget)
        )
    spill_dir = options.spill_dir if options.spill_dir is not None else limits.spill_dir
    if budget == options.memory_budget and spill_dir == options.spill_dir:
        return spec
    options = dataclasses.replace(options, memory_budget=budget, spill_dir=spill_dir)
    return dataclasses.replace(spec, options=options)


def make_checked_spec(make_spec: Callable[[Row, int], Any], row: Row) -> Any:
    """``make_spec(row, row.SEED)``, refused unless it is a ModelSpec."""
    from ._spec import ModelSpec

    spec = make_spec(row, row["SEED"])
    if not isinstance(spec, ModelSpec):
        raise TypeError(
            f"make_spec must return a ModelSpec, got {type(spec).__name__} for realisation "
            f"{row['REAL']}"
        )
    return spec


@functools.lru_cache(maxsize=4)
def _loaded(payload: bytes) -> Callable[[Row, int], Any]:
    """make_spec from its pickle, once per worker process for an ensemble's tasks."""
    return pickle.loads(payload)  # the pickle our own client made


def run_realisation(
    row: Row,
    volumetrics: Mapping[str, Any],
    *,
    make_spec: Callable[[Row, int], Any] | bytes,
    engine_threads: int | None,
    memory_limit: int | None,
    home_pid: int,
) -> Outcome:
    """Builds realisation `row` and computes its volumes table, where it runs.

    `make_spec` may come pickled (by cloudpickle, so a function of a module the worker
    cannot import travels by value). Any exception becomes the outcome's error (the exception
    itself travels too when it pickles); a model never leaves the function.
    """
    from ._lower import lower
    from ._model import Model
    from ._threads import set_num_threads

    real = int(row["REAL"])
    start = time.perf_counter()
    try:
        limits = local_limits(engine_threads, memory_limit, home_pid)
        if limits.engine_threads is not None:
            set_num_threads(limits.engine_threads)
        if isinstance(make_spec, bytes):
            make_spec = _loaded(make_spec)
        spec = _bounded_spec(make_checked_spec(make_spec, row), limits)
        # As `build`, without issuing the build's warnings: they are kept per realisation
        # (a warnings filter would be process-wide, and realisations may share a process).
        with Model(lower(spec).build(), spec) as model:
            columns = model.volumetrics(**volumetrics, as_frame=False)
            return Outcome(
                real,
                columns,
                spilled=model.spilled,
                seconds=time.perf_counter() - start,
                warnings=[note.message for note in model.provenance.warnings],
            )
    except Exception as error:  # every failure is the realisation's, reported, not raised
        return Outcome(
            real,
            seconds=time.perf_counter() - start,
            error_type=type(error).__name__,
            error_message=str(error),
            error_traceback="".join(traceback.format_exception(error)),
            error=_portable(error),
        )


def _portable(error: BaseException) -> BaseException | None:
    """`error` when it survives pickling (so the caller may raise it again), else None."""
    try:
        pickle.loads(pickle.dumps(error))
    except Exception:
        return None
    error.__traceback__ = None
    return error
