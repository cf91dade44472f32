"""The engine's worker threads: a process-wide cap, also read from ``ZV_NUM_THREADS``.

Results never depend on the thread count; the cap only shares the machine.
"""

from __future__ import annotations

import os
import threading
from collections.abc import Iterator
from contextlib import contextmanager

import _zorvastatic

from . import _checks

__all__ = ["get_num_threads", "set_num_threads", "thread_limit"]

_lock = threading.Lock()
_cap: int | None = None  # None: as the environment says


def _environment_cap() -> int:
    text = os.environ.get("ZV_NUM_THREADS", "")
    return int(text) if text.isdigit() else 0


def set_num_threads(threads: int | None) -> None:
    """Caps the engine's worker pool at `threads` threads for the whole process.

    None lifts the cap (the pool uses every processor). ``ZV_NUM_THREADS`` sets the initial
    cap.

    Examples
    --------
    >>> set_num_threads(1); get_num_threads()
    1
    >>> set_num_threads(None)
    """
    global _cap
    value = 0 if threads is None else _checks.count(threads, "threads", 1)
    with _lock:
        _zorvastatic._set_max_threads(value)
        _cap = value


def get_num_threads() -> int:
    """The number of threads the engine may use now.

    Examples
    --------
    >>> get_num_threads() >= 1
    True
    """
    return int(_zorvastatic._get_max_threads())


@contextmanager
def thread_limit(threads: int | None) -> Iterator[None]:
    """Caps the worker pool inside a ``with`` block, then restores the previous cap.

    The cap is process-wide: it applies to builds started from any thread meanwhile.

    Examples
    --------
    >>> with thread_limit(1):
    ...     get_num_threads()
    1
    """
    previous = _cap
    set_num_threads(threads)
    try:
        yield
    finally:
        with _lock:
            restored = _environment_cap() if previous is None else previous
            _zorvastatic._set_max_threads(restored)
            globals()["_cap"] = previous
