"""Maps realisations over a dask cluster or a `concurrent.futures.Executor` and collects their
outcomes as they finish, each once, with failures (a worker's death included) as outcomes."""

from __future__ import annotations

import concurrent.futures
import logging
import os
import pickle
import sys
import uuid
from collections.abc import Callable, Iterator, Sequence
from contextlib import contextmanager
from functools import partial
from typing import Any

from ._optional import require
from ._progress import Progress, check
from ._realisation import Outcome, Row, run_realisation

__all__ = ["RealisationError", "collect"]

# The cluster made here gives a realisation up when its worker dies a second time (dask's
# default allows 3 deaths, and each costs a worker restart), and its processes check their
# event loops once a second rather than 50 times: an idle cluster then takes about 5 % of a
# core instead of 8 %, which the realisations get back.
CLUSTER_CONFIG = {
    "distributed.scheduler.allowed-failures": 1,
    "distributed.admin.tick.interval": "1s",
    # The dashboard's diagnostics sample every task's stack and the interpreter lock many times
    # a second: a cost on every realisation that a batch run never looks at.
    "distributed.worker.profile.enabled": False,
    "distributed.admin.system-monitor.gil.enabled": False,
}


class RealisationError(RuntimeError):
    """A realisation failed with an exception that could not travel back to be raised
    again here (it does not pickle); the message names it.

    Examples
    --------
    >>> str(RealisationError("realisation 4 failed: LockedError: ..."))
    'realisation 4 failed: LockedError: ...'
    """


def _failure(real: int, error: BaseException) -> Outcome:
    return Outcome(real, error_type=type(error).__name__, error_message=str(error), error=error)


def raise_for(outcome: Outcome) -> None:
    """Raises the realisation's own exception when it travelled, else a RealisationError."""
    if outcome.error is not None:
        raise outcome.error
    raise RealisationError(
        f"realisation {outcome.real} failed: {outcome.error_type}: {outcome.error_message}"
    )


def check_sendable(payload: Any, what: str, cloud: bool) -> None:
    """Refuses, before anything is submitted, what cannot travel to the workers."""
    dumps = pickle.dumps
    if cloud:
        dumps = require("cloudpickle", "ensemble", "run_ensemble()").dumps
    try:
        dumps(payload)
    except Exception as error:
        raise TypeError(f"{what} cannot be sent to the workers: {error}") from error


class _Bar:
    """Realisations done out of the total: a tqdm bar, a callback, or nothing."""

    def __init__(self, progress: Any, total: int) -> None:
        from ._progress import _automatic_bar_wanted, _terminal_size

        check(progress)
        self._total, self._done, self._failed = total, 0, 0
        self._callback: Callable[[Progress], object] | None = None
        self._bar = None
        if callable(progress) and not isinstance(progress, bool):
            self._callback = progress
        elif progress is True:
            try:
                from tqdm.auto import tqdm
            except ImportError:
                raise ImportError(
                    "progress=True needs tqdm: pip install zorvastatic[progress]"
                ) from None
            self._bar = tqdm(total=total, desc="realisations", unit="real", leave=True)
        elif progress is None and _automatic_bar_wanted():
            from tqdm import tqdm

            columns, rows = _terminal_size()  # a terminal that tells no size gets 80 x 24
            self._bar = tqdm(
                total=total,
                desc="realisations",
                unit="real",
                leave=True,
                file=sys.stderr,
                ncols=columns,
                nrows=rows,
            )

    def step(self, failed: bool) -> None:
        self._done += 1
        self._failed += failed
        if self._bar is not None:
            if failed:
                self._bar.set_postfix_str(f"{self._failed} failed", refresh=False)
            self._bar.update(1)
        if self._callback is not None:
            fraction = self._done / self._total if self._total else 1.0
            stage = "realisations" if self._done < self._total else "done"
            self._callback(Progress(stage, fraction, self._done, self._total))

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()


def collect(
    make_spec: Callable[[Row, int], Any],
    rows: Sequence[Row],
    volumetrics: Sequence[dict[str, Any]],
    *,
    client: Any,
    executor: concurrent.futures.Executor | None,
    n_workers: int | None,
    memory_limit: int | str | None,
    engine_threads: int | None,
    keep_going: bool,
    progress: Any,
) -> list[Outcome]:
    """Runs every row and returns the outcomes in the order they finished.

    With `keep_going` false the first failure cancels what has not finished and is raised.
    """
    bar = _Bar(progress, len(rows))
    try:
        if executor is not None:
            outcomes = _through_executor(
                executor, make_spec, rows, volumetrics, engine_threads, memory_limit
            )
        else:
            outcomes = _through_dask(
                client, make_spec, rows, volumetrics, n_workers, memory_limit, engine_threads
            )
        done: list[Outcome] = []
        for outcome in outcomes:
            failed = outcome.columns is None
            bar.step(failed)
            if failed and not keep_going:
                outcomes.close()  # cancels the others
                raise_for(outcome)
            done.append(outcome)
        return done
    finally:
        bar.close()


def _through_executor(
    executor: concurrent.futures.Executor,
    make_spec: Callable[[Row, int], Any],
    rows: Sequence[Row],
    volumetrics: Sequence[dict[str, Any]],
    engine_threads: int | None,
    memory_limit: int | str | None,
) -> Iterator[Outcome]:
    from ._realisation import parse_bytes

    limit = None if memory_limit in (None, "auto") else parse_bytes(memory_limit)  # type: ignore[arg-type]
    task = partial(
        run_realisation,
        make_spec=make_spec,
        engine_threads=engine_threads,
        memory_limit=limit,
        home_pid=os.getpid(),
    )
    futures = {
        executor.submit(task, row, settings): int(row["REAL"])
        for row, settings in zip(rows, volumetrics, strict=True)
    }
    try:
        for future in concurrent.futures.as_completed(futures):
            real = futures.pop(future)
            try:
                yield future.result()
            except Exception as error:  # a pool that broke, a result that did not unpickle
                yield _failure(real, error)
    finally:
        for future in futures:
            future.cancel()


@contextmanager
def _own_cluster(n_workers: int, memory_limit: int | str | None) -> Iterator[Any]:
    dask = require("dask", "ensemble", "run_ensemble()")
    distributed = require("distributed", "ensemble", "run_ensemble()")
    with dask.config.set(CLUSTER_CONFIG):
        cluster = distributed.LocalCluster(
            n_workers=n_workers,
            threads_per_worker=1,
            processes=True,
            memory_limit="auto" if memory_limit is None else memory_limit,
            dashboard_address=":0",  # a free port: never a clash with another cluster
            silence_logs=logging.CRITICAL,  # failures come back as rows; no log noise
        )
    try:
        with distributed.Client(cluster, set_as_default=False) as client:
            yield client
    finally:
        cluster.close()


def _through_dask(
    client: Any,
    make_spec: Callable[[Row, int], Any],
    rows: Sequence[Row],
    volumetrics: Sequence[dict[str, Any]],
    n_workers: int | None,
    memory_limit: int | str | None,
    engine_threads: int | None,
) -> Iterator[Outcome]:
    distributed = require("distributed", "ensemble", "run_ensemble()")
    if client is None:
        cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
        workers = n_workers if n_workers is not None else max(1, min(cores or 1, len(rows)))
        with _own_cluster(workers, memory_limit) as own:
            yield from _through_dask(
                own, make_spec, rows, volumetrics, None, memory_limit, engine_threads
            )
        return
    # No more realisations in flight than the cluster has threads: each waits on the client,
    # not in a worker's queue, so a worker that dies takes only the realisation it was
    # running, and a cluster that grows or shrinks is followed.
    # make_spec goes pickled: dask pickles tasks with the standard pickle, which sends a
    # function by name, and the workers may not be able to import it (a script, a SPEC file).
    pickled = require("cloudpickle", "ensemble", "run_ensemble()").dumps(make_spec)
    tag = uuid.uuid4().hex[:8]
    queue = iter(zip(rows, volumetrics, strict=True))
    real_of: dict[str, int] = {}

    def submit() -> Any:
        row, settings = next(queue)
        real = int(row["REAL"])
        future = client.submit(
            run_realisation,
            row,
            settings,
            key=f"zv-realisation-{real}-{tag}",
            make_spec=pickled,
            engine_threads=engine_threads,
            memory_limit=None,
            home_pid=-1,
        )
        real_of[future.key] = real
        return future

    def window() -> int:
        return max(1, sum(client.nthreads().values()))

    first = [submit() for _ in range(min(window(), len(rows)))]
    pending = {future.key: future for future in first}
    left = len(rows) - len(first)
    finished = distributed.as_completed(first, loop=client.loop)
    try:
        for future in finished:
            pending.pop(future.key, None)
            try:
                outcome = future.result()
            except Exception as error:  # KilledWorker and the like: the worker, not the task
                outcome = _failure(real_of[future.key], error)
            future.release()
            while left and len(pending) < window():
                added = submit()
                pending[added.key] = added
                finished.add(added)
                left -= 1
            yield outcome
    finally:
        if pending:
            client.cancel(list(pending.values()))
