"""Running a command with its standard error on a pseudo-terminal, as a user's shell would."""

from __future__ import annotations

import os
import pty
import subprocess


def stderr_on_a_terminal(argv: list[str], timeout: float) -> tuple[int, bytes]:
    """Runs `argv` with stderr on a bare terminal (one that tells no size); returns its exit
    status and everything it showed there.

    >>> import sys
    >>> stderr_on_a_terminal([sys.executable, "-c", "import sys; sys.stderr.write('hi')"], 30)
    (0, b'hi')
    """
    leader, follower = pty.openpty()
    child = subprocess.Popen(
        argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=follower
    )
    os.close(follower)
    shown = b""
    while True:
        try:
            chunk = os.read(leader, 4096)
        except OSError:  # the child closed the terminal
            break
        if not chunk:
            break
        shown += chunk
    os.close(leader)
    return child.wait(timeout=timeout), shown
