"""Spill stores seen from Python: a full spill directory, processes that die holding a spilled
model, forked children, a relative TMPDIR, and models too large to attempt.

A model spills when its live-set estimate exceeds half the machine's memory as /proc/meminfo
reports it. These tests run the interpreter in a private mount namespace (root only) where a
small /proc/meminfo, and where needed a small tmpfs as TMPDIR, stand in for a small machine.
"""

import os
import re
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

# MemTotal of the small machine: the spill budget is half of it, 512000 bytes.
SMALL_MEMORY_KIB = 1000
# 40 x 40 x 5 cells: a 1408000-byte streaming estimate, over that budget.
SPILLED = "n=41, nk=5"


def _can_unshare() -> bool:
    if shutil.which("unshare") is None:
        return False
    probe = subprocess.run(["unshare", "-m", "true"], check=False, capture_output=True)
    return probe.returncode == 0


needs_namespace = pytest.mark.skipif(
    not _can_unshare(), reason="a private mount namespace (unshare -m) needs root"
)


def run_small_machine(
    tmp_path: Path,
    script: str,
    *,
    tmpdir: Path | str,
    cwd: Path | None = None,
    tmpfs_bytes: int | None = None,
) -> subprocess.CompletedProcess:
    """Runs `script` in a fresh interpreter on the small machine, with TMPDIR set to `tmpdir`
    (a tmpfs of `tmpfs_bytes` mounted there when given). Returns the finished process."""
    meminfo = tmp_path / "meminfo"
    meminfo.write_text(f"MemTotal:       {SMALL_MEMORY_KIB} kB\n")
    mounts = f"mount --bind '{meminfo}' /proc/meminfo"
    if tmpfs_bytes is not None:
        mounts += f" && mount -t tmpfs -o size={tmpfs_bytes} tmpfs '{tmpdir}'"
    env = dict(os.environ, TMPDIR=str(tmpdir), ZV_SCRIPT=textwrap.dedent(script))
    return subprocess.run(
        [
            "unshare",
            "-m",
            "sh",
            "-c",
            f'{mounts} && exec "{sys.executable}" -c "$ZV_SCRIPT"',
        ],
        check=False,
        env=env,
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=300,
    )


def notice_path(stderr: str) -> str:
    """The store path the out-of-core notice names."""
    found = re.search(r"spilling geometry \+ cubes \(f32\) to (\S+)\n", stderr)
    assert found, stderr
    return found.group(1)


@needs_namespace
def test_a_full_spill_directory_is_a_clear_error_that_leaves_no_file(
    tmp_path: Path,
) -> None:
    roomy, small = tmp_path / "roomy", tmp_path / "small"
    roomy.mkdir()
    small.mkdir()
    done = run_small_machine(
        tmp_path,
        f"""
        import os, _zorvastatic as zs
        os.environ["TMPDIR"] = {str(roomy)!r}
        model = zs.build_flat_model({SPILLED})
        print(sum(os.path.getsize(os.path.join({str(roomy)!r}, f))
                  for f in os.listdir({str(roomy)!r}) if f.endswith(".zts")))
        del model
        os.environ["TMPDIR"] = {str(small)!r}
        try:
            zs.build_flat_model({SPILLED})
        except ValueError as error:
            print(error)
        print(os.listdir({str(small)!r}))
        """,
        tmpdir=small,
        tmpfs_bytes=256 * 1024,
    )
    assert done.returncode == 0, done.stderr
    store_bytes, message, left = done.stdout.splitlines()
    assert message == (
        "I/O error: a model of 40 x 40 x 5 cells needs 1408000 bytes of memory "
        f"(budget 512000 bytes) or {store_bytes} bytes in spill directory {small} "
        "(262144 bytes free): No space left on device (os error 28)"
    )
    assert left == "[]"


DEATHS = {
    "SIGKILL": "os.kill(os.getpid(), signal.SIGKILL)",
    "SIGTERM": "os.kill(os.getpid(), signal.SIGTERM)",
    "os._exit": "os._exit(3)",
    "crash": "os.abort()",
}


@needs_namespace
@pytest.mark.parametrize("death", DEATHS)
def test_the_store_of_a_dead_process_goes_at_the_next_spill(tmp_path: Path, death: str) -> None:
    spill = tmp_path / "spill"
    spill.mkdir()
    dead = run_small_machine(
        tmp_path,
        f"""
        import os, signal, _zorvastatic as zs
        model = zs.build_flat_model({SPILLED})
        {DEATHS[death]}
        """,
        tmpdir=spill,
    )
    assert dead.returncode != 0
    theirs = os.path.basename(notice_path(dead.stderr))
    assert sorted(os.listdir(spill)) == [theirs, theirs + ".lock"]

    alive = run_small_machine(
        tmp_path,
        f"""
        import os, _zorvastatic as zs
        model = zs.build_flat_model({SPILLED})
        print(sorted(os.listdir({str(spill)!r})))
        """,
        tmpdir=spill,
    )
    assert alive.returncode == 0, alive.stderr
    mine = os.path.basename(notice_path(alive.stderr))
    assert alive.stdout.strip() == str([mine, mine + ".lock"])
    assert os.listdir(spill) == []  # removed at normal exit


@needs_namespace
def test_a_forked_child_leaves_its_parents_store_alone(tmp_path: Path) -> None:
    spill = tmp_path / "spill"
    spill.mkdir()
    done = run_small_machine(
        tmp_path,
        f"""
        import os, sys, _zorvastatic as zs
        model = zs.build_flat_model({SPILLED})
        child = os.fork()
        if child == 0:
            del model
            sys.exit(0)
        os.waitpid(child, 0)
        print(len(os.listdir({str(spill)!r})), model.in_place()["cells_in_column"])
        """,
        tmpdir=spill,
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["2", "8000"]
    assert os.listdir(spill) == []


@needs_namespace
def test_a_relative_tmpdir_is_fixed_when_the_store_is_created(tmp_path: Path) -> None:
    done = run_small_machine(
        tmp_path,
        f"""
        import os, stat, _zorvastatic as zs
        model = zs.build_flat_model({SPILLED})
        os.chdir("/")
        spill = os.path.join({str(tmp_path)!r}, "rel")
        print(sorted(oct(stat.S_IMODE(os.stat(os.path.join(spill, f)).st_mode))
                     for f in os.listdir(spill)))
        del model
        print(os.listdir(spill))
        """,
        tmpdir="rel",
        cwd=tmp_path,
    )
    assert done.returncode == 0, done.stderr
    path = notice_path(done.stderr)
    assert os.path.dirname(path) == str(tmp_path / "rel")
    modes, left = done.stdout.splitlines()
    assert modes == "['0o600', '0o600']"  # the store and its lock: their owner's only
    assert left == "[]"


# Run with a 4 GiB address-space limit: an attempt to allocate the model would end in
# MemoryError instead of taking the machine's memory.
TOO_LARGE = """
import resource, _zorvastatic as zs
resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))
try:
    zs.build_flat_model({args})
except Exception as error:
    print(type(error).__name__, error)
"""


@pytest.mark.parametrize(
    ("args", "expected"),
    [
        (
            "n=20000, nk=2**64 - 1",
            (
                r"ValueError (grid error: a 20000 x 20000-node lattice needs \d+ bytes of "
                r"memory, this machine has \d+ bytes|I/O error: a model of 19999 x 19999 x 200 "
                r"cells needs \d+ bytes of memory .* bytes free\): No space left on device "
                r"\(os error 28\))"
            ),
        ),
        (
            "n=2**64 - 1",
            (
                r"ValueError grid error: a 18446744073709551615 x 18446744073709551615-node "
                r"lattice needs at least 18446744073709551615 bytes of memory, .*"
            ),
        ),
    ],
)
def test_a_model_too_large_for_memory_and_disk_is_refused_before_allocation(
    args: str, expected: str
) -> None:
    done = subprocess.run(
        [sys.executable, "-c", TOO_LARGE.format(args=args)],
        check=False,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    assert re.fullmatch(expected, done.stdout.strip()), done.stdout
