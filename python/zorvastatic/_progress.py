"""Progress of long engine work: a bar on the terminal, or the caller's own callback.

The engine's long loops report, on the calling thread every few milliseconds, what they are
doing and how far the whole call has come. Each call that takes ``progress=`` turns those
reports into `Progress` records whose fractions never decrease and end at exactly 1, and hands
them to the caller's callback or to a tqdm bar. Calls on other threads report to their own
callers: the engine reports to the thread that started the call, and each thread keeps its own
receiver.
"""

from __future__ import annotations

import os
import sys
import threading
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from typing import Any, TypeAlias

import _zorvastatic

__all__ = ["Progress", "ProgressArg"]


@dataclass(frozen=True)
class Progress:
    """How far a long call has come.

    Attributes
    ----------
    stage
        What the engine is doing ("layering the grid", "simulating layers", ...); "done" in the
        last record of a call that succeeded.
    fraction
        Share of the whole call done, from 0 to 1; never decreases within a call, and is
        exactly 1 in the last record.
    done, total
        Units of the stage done and to do (layers, rows, wells ...; the stage tells).

    Examples
    --------
    >>> Progress("layering the grid", 0.25, 10, 40).fraction
    0.25
    """

    stage: str
    fraction: float
    done: int
    total: int


#: What ``progress=`` accepts: None (a bar when stderr is a terminal and tqdm is installed),
#: True (a bar wherever the output goes; needs tqdm), False (nothing), or a callable taking a
#: `Progress`.
ProgressArg: TypeAlias = "bool | Callable[[Progress], object] | None"

#: The record that ends a call which succeeded.
DONE = Progress("done", 1.0, 1, 1)

# Seconds a call runs before a bar nobody asked for appears: quick calls stay quiet.
_BAR_DELAY_S = 0.5
_BAR_STEPS = 1000


class _Reporter:
    """Maps the engine's reports of one or more calls onto one non-decreasing fraction."""

    def __init__(self, sink: Callable[[Progress], object]) -> None:
        self._sink = sink
        self._low, self._high = 0.0, 1.0
        self._fraction = 0.0
        self._last: tuple[str, int, int, float] | None = None

    def engine(self, stage: str, done: int, total: int, fraction: float) -> None:
        """A report of the engine: `done` of `total` units of `stage`, `fraction` of the call."""
        share = min(max(float(fraction), 0.0), 1.0)
        now = max(self._fraction, self._low + (self._high - self._low) * share)
        if (stage, done, total, now) == self._last:
            return  # the engine asks again before anything moved
        self._last = (stage, done, total, now)
        self._fraction = now
        self._sink(Progress(stage, now, done, total))

    @contextmanager
    def part(self, low: float, high: float) -> Iterator[None]:
        """Engine calls in the block fill ``[low, high]`` of the whole, then counted done."""
        outer = self._low, self._high
        self._low, self._high = low, high
        self._last = None
        try:
            yield
        finally:
            self._low, self._high = outer
        self._fraction = max(self._fraction, high)

    def finish(self) -> None:
        self._fraction = 1.0
        self._sink(DONE)


# The engine calls one process-wide callback; it hands each report to the reporter of the
# thread whose call made it (the engine reports on the thread that started the call).
_local = threading.local()
_install_lock = threading.Lock()
_installed = 0
_previous: Any = None


def _dispatch(stage: str, done: int, total: int, fraction: float) -> None:
    reporter: _Reporter | None = getattr(_local, "reporter", None)
    if reporter is not None:
        reporter.engine(stage, done, total, fraction)


def _install() -> None:
    global _installed, _previous
    with _install_lock:
        if _installed == 0:
            _previous = _zorvastatic._set_progress_callback(_dispatch)
        _installed += 1


def _uninstall() -> None:
    global _installed, _previous
    with _install_lock:
        _installed -= 1
        if _installed == 0:
            _zorvastatic._set_progress_callback(_previous)
            _previous = None


def _tqdm_bar(description: str, explicit: bool) -> tuple[Callable[[Progress], None], Any]:
    if explicit:
        try:
            from tqdm.auto import tqdm
        except ImportError:
            raise ImportError(
                "progress=True needs tqdm: pip install zorvastatic[progress]"
            ) from None
    else:
        from tqdm import tqdm
    terminal: dict[str, Any] = {}
    if not explicit:  # a bar nobody asked for: only for calls that last, sized to the terminal
        columns, rows = _terminal_size()
        terminal = {"file": sys.stderr, "ncols": columns, "nrows": rows, "delay": _BAR_DELAY_S}
    bar = tqdm(
        total=_BAR_STEPS,
        desc=description,
        bar_format="{desc}: {percentage:3.0f}%|{bar}| {elapsed}<{remaining}{postfix}",
        leave=True,
        **terminal,
    )

    def show(report: Progress) -> None:
        steps = round(report.fraction * _BAR_STEPS)
        bar.set_postfix_str("" if report is DONE else report.stage, refresh=False)
        if steps > bar.n:
            bar.update(steps - bar.n)

    return show, bar


def _terminal_size() -> tuple[int, int]:
    """Columns and rows of the terminal on stderr; one that tells no size (a bare
    pseudo-terminal, where tqdm would draw nothing) counts as 80 x 24."""
    try:
        size = os.get_terminal_size(sys.stderr.fileno())
        columns, rows = size.columns, size.lines
    except (AttributeError, OSError, ValueError):
        columns = rows = 0
    return (columns if columns > 0 else 80, rows if rows > 0 else 24)


def _automatic_bar_wanted() -> bool:
    try:
        terminal = sys.stderr is not None and sys.stderr.isatty()
    except (AttributeError, ValueError):  # a replaced or closed stderr
        return False
    if not terminal:
        return False
    try:
        import tqdm  # noqa: F401
    except ImportError:
        return False
    return True


def check(progress: object) -> None:
    """Refuses a ``progress=`` argument that is neither None, a bool nor a callable.

    Examples
    --------
    >>> check(print); check(None); check(False)
    """
    if progress is None or isinstance(progress, bool) or callable(progress):
        return
    raise TypeError(
        f"progress must be None, True, False or a callable, not {type(progress).__name__}"
    )


@contextmanager
def reporting(progress: ProgressArg, description: str) -> Iterator[_Reporter | None]:
    """Reports the engine calls made in the block to what `progress` asks for.

    Yields the reporter (None when nothing listens), whose ``part(low, high)`` splits the
    block among several engine calls. When the block ends without an exception the last
    record, "done" at fraction 1, is sent; an exception (one raised by the callback included,
    which stops the engine's call) leaves the bar where it was.

    Examples
    --------
    >>> seen = []
    >>> with reporting(seen.append, "work"):
    ...     pass
    >>> seen
    [Progress(stage='done', fraction=1.0, done=1, total=1)]
    """
    check(progress)
    bar = None
    if callable(progress) and not isinstance(progress, bool):
        sink: Callable[[Progress], object] = progress
    elif progress is True or (progress is None and _automatic_bar_wanted()):
        sink, bar = _tqdm_bar(description, explicit=progress is True)
    else:
        yield None
        return

    reporter = _Reporter(sink)
    outer = getattr(_local, "reporter", None)
    _local.reporter = reporter
    _install()
    try:
        yield reporter
        reporter.finish()
    finally:
        _uninstall()
        _local.reporter = outer
        if bar is not None:
            bar.close()
