"""Ensembles: many realisations of a model over uncertain contacts, priors, surfaces and seeds,
run on a dask cluster (or any executor), summarised as P90/P50/P10 volumes.

``make_spec(row, seed)`` returns the `ModelSpec` of one row of parameters; it must be a
top-level function (it travels to the worker processes). `sample` draws the parameters,
`run_ensemble` runs them on a two-worker ``LocalCluster`` here, and the `Ensemble` it returns
holds the volumes of every realisation, the failures and the P-values.

Examples
--------
>>> import zorvastatic as zv
>>> from zorvastatic.ensemble import _example_make_spec as make_spec
>>> params = zv.ensemble.sample({"OWC": ("uniform", 2002.0, 2008.0)}, n=8, seed=2026)
>>> ens = zv.run_ensemble(make_spec, params, fluids=zv.Fluids(bo=1.25), n_workers=2,
...                       memory_limit="1GiB", progress=False)
>>> stoiip = ens.stats("STOIIP", by="ZONE")
>>> stoiip.ZONE.tolist(), stoiip.COUNT.tolist(), len(ens.failures)
(['Z', 'TOTAL'], [8, 8], 0)

Needs pandas and dask.distributed (``pip install zorvastatic[ensemble]``); with
``executor=`` (e.g. a ``ProcessPoolExecutor``) dask is not needed. From the shell:
``python -m zorvastatic ensemble SPEC.py --n 200 --out volumes.parquet``.
"""

from __future__ import annotations

import concurrent.futures
import math
from collections.abc import Callable, Mapping, Sequence
from typing import Any

import numpy as np

from ._ensemble_runner import RealisationError, check_sendable, collect
from ._optional import require
from ._realisation import MissingParameterError, Outcome, Row, make_checked_spec
from ._sampling import realisation_seed, sample_columns
from ._volumetrics import COLUMNS, Fluids

__all__ = [
    "Ensemble",
    "MissingParameterError",
    "RealisationError",
    "Row",
    "realisation_seed",
    "run_ensemble",
    "sample",
]

_VOLUMES = COLUMNS[3:]
_STATS = ("P90", "P50", "P10", "MEAN", "STD", "MIN", "MAX", "COUNT")
# The rows a volume column is defined on; other rows hold NaN by construction and add nothing.
_DEFINED_ON = {
    "HCPV": ("oil", "gas"),
    "STOIIP": ("oil",),
    "ASSOCIATEDGAS": ("oil",),
    "GIIP": ("gas",),
    "ASSOCIATEDOIL": ("gas",),
}
TOTAL = "TOTAL"


def _pandas() -> Any:
    return require("pandas", "ensemble", "zorvastatic.ensemble")


def sample(distributions: Mapping[str, Any], n: int, seed: int = 0) -> Any:
    """A table of `n` realisations' parameters drawn from `distributions`.

    Parameters
    ----------
    distributions : dict of str to tuple or constant
        Per parameter: ``("uniform", low, high)``, ``("normal", mean, std)``,
        ``("triangular", low, mode, high)``, ``("discrete", values)`` or ``("discrete",
        values, weights)``; a plain number or text is a constant.
    n : int
        Number of realisations.
    seed : int
        The ensemble's seed. Realisation r's draws depend only on `seed`, r and the
        parameter's name, so ``sample(d, 8, s)[:4]`` equals ``sample(d, 4, s)``, and adding a
        parameter leaves the others' values as they were.

    Returns
    -------
    pandas.DataFrame
        Columns REAL (0 to n - 1), the parameters in the given order, and SEED: the
        realisation's own seed in ``[0, 2**63)`` for its simulations (`realisation_seed`).

    Examples
    --------
    >>> params = sample({"OWC": ("uniform", 1715.0, 1735.0),
    ...                  "FACIES": ("discrete", ["channel", "sheet"], [3, 1])}, n=200, seed=2026)
    >>> list(params.columns), len(params)
    (['REAL', 'OWC', 'FACIES', 'SEED'], 200)
    >>> bool(params.OWC.between(1715.0, 1735.0).all())
    True
    >>> sample({"OWC": ("uniform", 1715.0, 1735.0)}, 4, 2026).equals(params[["REAL", "OWC",
    ...     "SEED"]].head(4))
    True
    """
    return _pandas().DataFrame(sample_columns(distributions, n, seed))


def _rows(parameters: Any, seed: int) -> tuple[Any, list[Row]]:
    """The parameter table with REAL and SEED columns, and one Row per realisation."""
    pandas = _pandas()
    frame = parameters.copy() if isinstance(parameters, pandas.DataFrame) else None
    if frame is None:
        frame = pandas.DataFrame(parameters)
    frame = frame.reset_index(drop=frame.index.name != "REAL" or "REAL" in frame.columns)
    for name in frame.columns:
        if not isinstance(name, str):
            raise TypeError(f"parameter names must be str, got {name!r}")
    if "REAL" not in frame.columns:
        frame.insert(0, "REAL", np.arange(len(frame), dtype=np.int64))
    reals = frame["REAL"].to_numpy()
    if len(frame) and (
        reals.dtype.kind not in "iu" or reals.min() < 0 or len(np.unique(reals)) != len(reals)
    ):
        raise ValueError("REAL must hold distinct integers >= 0, one per realisation")
    if "SEED" not in frame.columns:
        frame["SEED"] = [realisation_seed(seed, int(real)) for real in reals]
    seeds = frame["SEED"].to_numpy()
    if len(frame) and (seeds.dtype.kind not in "iu" or seeds.min() < 0):
        raise ValueError("SEED must hold integers >= 0")
    records = frame.to_dict(orient="records")
    rows = [Row({k: _plain(v) for k, v in record.items()}) for record in records]
    return frame, rows


def _plain(value: Any) -> Any:
    return value.item() if isinstance(value, np.generic) else value


def _volumetrics_arguments(
    fluids: Any, regions: Any, region_names: Any, region_name: str, rows: Sequence[Row]
) -> list[dict[str, Any]]:
    """Per row, the keywords of ``model.volumetrics``: a callable `fluids` is evaluated here,
    only its result travels."""
    arguments = []
    for row in rows:
        chosen = fluids(row) if callable(fluids) and not isinstance(fluids, Fluids) else fluids
        arguments.append(
            {
                "fluids": chosen,
                "regions": regions,
                "region_names": region_names,
                "region_name": region_name,
            }
        )
    return arguments


class Ensemble:
    """The results of `run_ensemble`.

    Attributes
    ----------
    table : pandas.DataFrame
        One row per realisation, zone, region and fluid: REAL, the parameters (SEED among
        them), ZONE, REGION, FLUID, BULK, NET, PORV, HCPV, STOIIP, GIIP, ASSOCIATEDGAS,
        ASSOCIATEDOIL, SPILLED (the model went to a store file) and SECONDS (build and table,
        where it ran). Sorted by REAL.
    failures : pandas.DataFrame
        REAL, ERROR (the exception's type), MESSAGE and TRACEBACK of each realisation that
        failed, sorted by REAL.
    warnings : pandas.DataFrame
        REAL and MESSAGE of every build warning.
    parameters : pandas.DataFrame
        The parameters of every realisation, failed ones included.

    Examples
    --------
    >>> from zorvastatic.ensemble import _example
    >>> ens = _example()
    >>> ens.table[["REAL", "OWC", "ZONE", "FLUID", "STOIIP"]].round(1).head(2)
       REAL     OWC ZONE  FLUID   STOIIP
    0     0  2003.5    Z    oil  28000.0
    1     0  2003.5    Z  water      NaN
    >>> len(ens.failures)
    0
    """

    def __init__(self, table: Any, failures: Any, warnings: Any, parameters: Any) -> None:
        self.table = table
        self.failures = failures
        self.warnings = warnings
        self.parameters = parameters

    def stats(self, column: str = "STOIIP", by: str | Sequence[str] | None = "ZONE") -> Any:
        """P90, P50, P10, mean, standard deviation, minimum, maximum and count over the
        realisations of `column`, per group of `by` and in total.

        A realisation's value for a group is the sum of `column` over the group's rows where
        the column is defined (STOIIP on oil rows, GIIP on gas rows, HCPV on both, the others
        on every row); a group without such rows counts 0, a NaN among them makes it NaN
        (e.g. GIIP without a gas formation volume factor). Failed realisations are left out
        (COUNT says how many took part).

        P-values follow the exceedance convention: P90 is the value exceeded by 90 % of the
        realisations, the 10th percentile; P10 the 90th. Percentiles interpolate linearly
        (``numpy.percentile(..., method="linear")``); STD has one degree of freedom removed.

        Parameters
        ----------
        column : str
            A volume column: BULK, NET, PORV, HCPV, STOIIP, GIIP, ASSOCIATEDGAS or
            ASSOCIATEDOIL.
        by : str or sequence of str, optional
            Columns of the table to group by (ZONE, REGION, FLUID or a parameter); a last row
            with TOTAL in each gives the sum over the groups. None: the total only.

        Returns
        -------
        pandas.DataFrame
            The `by` columns, then P90, P50, P10, MEAN, STD, MIN, MAX, COUNT.

        Examples
        --------
        >>> from zorvastatic.ensemble import _example
        >>> table = _example().stats("STOIIP", by="ZONE")
        >>> table.ZONE.tolist(), int(table.COUNT[0])
        (['Z', 'TOTAL'], 6)
        >>> bool((table.P90 <= table.P50).all() and (table.P50 <= table.P10).all())
        True
        """
        pandas = _pandas()
        if column not in _VOLUMES:
            raise KeyError(
                f"stats are over a volume column ({', '.join(_VOLUMES)}), got {column!r}"
            )
        keys = [] if by is None else [by] if isinstance(by, str) else list(by)
        for key in keys:
            if key not in self.table.columns or key in _VOLUMES:
                raise KeyError(f"cannot group by {key!r}: not a label column of the table")
        table = self.table
        defined = table["FLUID"].isin(_DEFINED_ON.get(column, ("oil", "gas", "water")))
        values = table[column].where(defined, 0.0)
        frame = pandas.DataFrame(
            {
                "REAL": table["REAL"],
                **{k: table[k] for k in keys},
                "VALUE": values,
                "NAN": values.isna(),
            }
        )
        reals = self.parameters["REAL"][~self.parameters["REAL"].isin(self.failures["REAL"])]
        per_real = _sums(frame, ["REAL", *keys], pandas)
        rows = []
        if keys:
            # A column per group; a group a realisation lacks is 0 there.
            wide = per_real.unstack(keys, fill_value=0.0)
            wide = wide.reindex(index=reals.to_numpy(), fill_value=0.0)
            for group in wide.columns:
                labels = group if isinstance(group, tuple) else (group,)
                rows.append((*labels, *_summary(wide[group].to_numpy())))
        total = _sums(frame, ["REAL"], pandas).reindex(reals.to_numpy(), fill_value=0.0)
        rows.append((*[TOTAL] * len(keys), *_summary(total.to_numpy())))
        result = pandas.DataFrame(rows, columns=[*keys, *_STATS])
        result["COUNT"] = result["COUNT"].astype(np.int64)
        return result

    def __repr__(self) -> str:
        done = self.table["REAL"].nunique() if len(self.table) else 0
        return (
            f"<Ensemble {len(self.parameters)} realisations: {done} done, "
            f"{len(self.failures)} failed, {len(self.table)} rows>"
        )


def _sums(frame: Any, keys: list[str], pandas: Any) -> Any:
    """Sums of VALUE per group of `keys`; NaN where any summed value is NaN."""
    grouped = frame.groupby(keys, sort=True, dropna=False)
    sums = grouped["VALUE"].sum()
    return sums.where(~grouped["NAN"].any(), math.nan)


def _summary(values: np.ndarray) -> tuple[float, ...]:
    values = np.asarray(values, dtype=np.float64)
    if values.size == 0:
        return (math.nan,) * 7 + (0,)
    p90, p50, p10 = np.percentile(values, [10.0, 50.0, 90.0], method="linear")
    std = float(np.std(values, ddof=1)) if values.size > 1 else math.nan
    return (
        float(p90),
        float(p50),
        float(p10),
        float(np.mean(values)),
        std,
        float(np.min(values)),
        float(np.max(values)),
        int(values.size),
    )


def run_ensemble(
    make_spec: Callable[[Row, int], Any],
    parameters: Any,
    *,
    fluids: Fluids | Mapping[str, Fluids] | Callable[[Row], Any] | None = None,
    regions: Any = None,
    region_names: Mapping[int, str] | None = None,
    region_name: str = "ALL",
    client: Any = None,
    executor: concurrent.futures.Executor | None = None,
    n_workers: int | None = None,
    memory_limit: int | str | None = "auto",
    engine_threads: int | None = 1,
    keep_going: bool = True,
    progress: Any = None,
    seed: int = 0,
) -> Ensemble:
    """Builds every realisation of `parameters` with ``make_spec(row, seed)`` on a dask
    cluster (or an executor) and gathers their volumes tables.

    Each task builds its model, computes ``model.volumetrics`` and returns the rows, never
    the model. Where it runs, it caps the engine at `engine_threads` threads and gives the
    build a memory budget of half the worker's memory limit, with stores in the worker's
    local directory: a realisation too large for that budget streams to a store file
    (SPILLED) instead of growing until the worker is killed. A realisation that raises, or
    whose worker dies, becomes a row of ``failures`` while the others go on.

    Parameters
    ----------
    make_spec : callable
        ``make_spec(row, seed) -> ModelSpec``; `row` gives the realisation's parameters
        (``row.OWC`` or ``row["OWC"]``, a missing one raises a KeyError naming it), `seed`
        is its SEED. It is called here once for the first row, then travels to the workers
        with what it refers to: pickled once by cloudpickle (so a function of a script the
        workers cannot import goes by value) and unpickled once per worker; an executor
        pickles it its own way. Keep large inputs in files or in an importable module.
    parameters : pandas.DataFrame or dict of columns
        One row per realisation, e.g. from `sample`. REAL and SEED are taken from the
        columns of those names when present, else REAL is 0 to n - 1 and SEED
        ``realisation_seed(seed, REAL)``.
    fluids : Fluids, dict of str to Fluids, or callable, optional
        As ``model.volumetrics`` takes it, or ``fluids(row)`` giving one per realisation
        (called here, before submission).
    regions, region_names, region_name
        Passed to ``model.volumetrics``.
    client : distributed.Client, optional
        A cluster to use. None (and no `executor`): a ``LocalCluster`` of `n_workers`
        single-threaded worker processes, closed at the end.
    executor : concurrent.futures.Executor, optional
        Any executor instead of dask (a ``ProcessPoolExecutor`` needs no dask). In a thread
        pool, the realisations run in this process and the engine's thread cap is left as it
        is. A process pool whose process dies is broken for good: the realisations not
        finished by then fail too (``BrokenProcessPool``), where a dask cluster restarts the
        worker and fails only the realisation it was running.
    n_workers : int, optional
        Workers of the cluster made here; default one per processor, at most one per
        realisation.
    memory_limit : int, str or "auto"
        Memory limit of each worker of the cluster made here (dask's meaning: "auto" shares
        the machine among the workers), or, with an executor, of each process (default: the
        process's own limit, else the engine's default budget). A dask worker's own limit
        always decides its budget.
    engine_threads : int or None
        The engine's threads per worker; None leaves the cap as it is. Results do not depend
        on it.
    keep_going : bool
        False: the first failure cancels the remaining realisations and is raised.
    progress : None, bool or callable
        A bar of realisations done: None shows one when stderr is a terminal and tqdm is
        installed, True always (needs tqdm), False never; a callable gets a `Progress`
        record after each realisation.
    seed : int
        Seeds realisations that have no SEED column.

    Returns
    -------
    Ensemble

    Raises
    ------
    TypeError, KeyError, ValueError
        Before anything is submitted: `make_spec` or its first realisation's spec cannot
        travel, is not a ModelSpec, or asks for a parameter the table lacks.

    Examples
    --------
    >>> from concurrent.futures import ThreadPoolExecutor
    >>> from zorvastatic.ensemble import _example_make_spec
    >>> params = sample({"OWC": ("uniform", 2002.0, 2008.0)}, n=3, seed=7)
    >>> with ThreadPoolExecutor(2) as pool:
    ...     ens = run_ensemble(_example_make_spec, params, executor=pool, progress=False)
    >>> ens.table.REAL.unique().tolist(), list(ens.stats("BULK", by=None).columns[:3])
    ([0, 1, 2], ['P90', 'P50', 'P10'])
    """
    pandas = _pandas()
    if not callable(make_spec):
        raise TypeError(f"make_spec must be callable, got {type(make_spec).__name__}")
    if client is not None and executor is not None:
        raise ValueError("give a dask client or an executor, not both")
    if executor is not None and not isinstance(executor, concurrent.futures.Executor):
        raise TypeError(
            f"executor must be a concurrent.futures.Executor, got {type(executor).__name__}"
        )
    if n_workers is not None and (isinstance(n_workers, bool) or int(n_workers) < 1):
        raise ValueError(f"n_workers must be >= 1, got {n_workers!r}")
    frame, rows = _rows(parameters, seed)
    arguments = _volumetrics_arguments(fluids, regions, region_names, region_name, rows)
    if rows:
        make_checked_spec(make_spec, rows[0])  # a bad make_spec fails here, not on every worker
        cloud = executor is None
        check_sendable(make_spec, "make_spec", cloud)
        check_sendable(arguments[0], "the volumetrics arguments", cloud)
    outcomes = (
        collect(
            make_spec,
            rows,
            arguments,
            client=client,
            executor=executor,
            n_workers=n_workers,
            memory_limit=memory_limit,
            engine_threads=engine_threads,
            keep_going=keep_going,
            progress=progress,
        )
        if rows
        else []
    )
    return _assemble(frame, outcomes, pandas)


def _assemble(frame: Any, outcomes: list[Outcome], pandas: Any) -> Ensemble:
    position = {int(real): n for n, real in enumerate(frame["REAL"].tolist())}
    done = sorted((o for o in outcomes if o.columns is not None), key=lambda o: o.real)
    failed = sorted((o for o in outcomes if o.columns is None), key=lambda o: o.real)
    counts = [len(o.columns["ZONE"]) for o in done]  # type: ignore[index]
    taken = np.repeat(np.array([position[o.real] for o in done], dtype=np.intp), counts)
    parts = frame.iloc[taken].reset_index(drop=True)
    volumes: dict[str, Any] = {}
    for name in COLUMNS:
        pieces = [o.columns[name] for o in done]  # type: ignore[index]
        kind = object if name in ("ZONE", "REGION", "FLUID") else np.float64
        volumes[name] = np.concatenate(pieces) if pieces else np.array([], dtype=kind)
    volumes["SPILLED"] = np.repeat([o.spilled for o in done], counts).astype(bool)
    volumes["SECONDS"] = np.repeat([o.seconds for o in done], counts).astype(np.float64)
    table = pandas.concat([parts, pandas.DataFrame(volumes)], axis=1)
    failures = pandas.DataFrame(
        {
            "REAL": np.array([o.real for o in failed], dtype=np.int64),
            "ERROR": [o.error_type for o in failed],
            "MESSAGE": [o.error_message for o in failed],
            "TRACEBACK": [o.error_traceback for o in failed],
        }
    )
    notes = [(o.real, message) for o in done for message in o.warnings]
    warnings = pandas.DataFrame(
        {
            "REAL": np.array([real for real, _ in notes], dtype=np.int64),
            "MESSAGE": [message for _, message in notes],
        }
    )
    return Ensemble(table, failures, warnings, frame)


def _example_make_spec(row: Row, seed: int) -> Any:
    """A 3 x 3-node flat model whose OWC is the row's, for the examples."""
    import dataclasses

    from ._model import _example_spec
    from ._spec import Contacts

    spec = _example_spec()
    zone = dataclasses.replace(spec.zones[0], contacts=Contacts(owc=row.OWC))
    return dataclasses.replace(spec, zones=[zone])


def _example() -> Ensemble:
    from concurrent.futures import ThreadPoolExecutor

    params = sample({"OWC": ("uniform", 2002.0, 2008.0)}, n=6, seed=7)
    with ThreadPoolExecutor(2) as pool:
        return run_ensemble(_example_make_spec, params, executor=pool, progress=False)
