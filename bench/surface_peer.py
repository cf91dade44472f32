"""Surface solves through the package beside a peer's: ``gmt surface -T0.25``.

Wells at uniform random positions on a 9 km square (depth a plane and two Gaussian bumps) are
gridded on n x n nodes by ``zv.Surface.from_points(..., solve=True)`` and by GMT's ``surface``
(tension 0.25, default convergence) from the same points. Each solve runs in a fresh process;
the two alternate for several rounds. Prints the minimum and median wall time and the peak
memory of each, and the ratio of the medians.

Run after installing the package, with Debian's ``gmt`` on the path:
``python3 bench/surface_peer.py [--rounds 3] [--wells 50] [n ...]`` (default 301 1001).
"""

from __future__ import annotations

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

SIDE = 9000.0


def wells(count: int) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """The benchmark's wells: positions and depths, the same for every run."""
    rng = np.random.default_rng(20240611)
    x, y = rng.uniform(0, SIDE, count), rng.uniform(0, SIDE, count)
    z = (
        2000
        + 0.004 * x
        - 0.003 * y
        + 30 * np.exp(-((x - 3000) ** 2 + (y - 5000) ** 2) / 1.28e6)
        - 20 * np.exp(-((x - 6500) ** 2 + (y - 2000) ** 2) / 7.2e5)
    )
    return x, y, z


def solve_here(n: int, count: int) -> None:
    """One package solve in this process; prints seconds and peak MiB."""
    import zorvastatic as zv

    x, y, z = wells(count)
    lattice = zv.Lattice(ncol=n, nrow=n, xinc=SIDE / (n - 1), yinc=SIDE / (n - 1))
    start = time.perf_counter()
    zv.Surface.from_points(lattice, x, y, z, "TOP", solve=True)
    seconds = time.perf_counter() - start
    print(seconds, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024)


def ours(n: int, count: int, folder: str) -> tuple[float, float]:
    """Seconds and peak MiB of one package solve in a fresh interpreter."""
    out = subprocess.run(
        [sys.executable, __file__, "--solve-here", str(n), str(count)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout.split()
    return float(out[0]), float(out[1])


def peer(n: int, count: int, folder: str) -> tuple[float, float]:
    """Seconds and peak MiB of one ``gmt surface`` run on the same points."""
    points = os.path.join(folder, "points.xyz")
    np.savetxt(points, np.column_stack(wells(count)))
    command = ["/usr/bin/time", "-f", "%M", "gmt", "surface", points,
               f"-R0/{SIDE:g}/0/{SIDE:g}", f"-I{SIDE / (n - 1)}", "-T0.25",
               f"-G{os.path.join(folder, 'out.nc')}"]  # fmt: skip
    start = time.perf_counter()
    run = subprocess.run(command, check=True, capture_output=True, text=True)
    seconds = time.perf_counter() - start
    return seconds, float(run.stderr.split()[-1]) / 1024


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("sizes", nargs="*", type=int, default=[301, 1001])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--wells", type=int, default=50)
    parser.add_argument("--solve-here", nargs=2, type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.solve_here:
        solve_here(*args.solve_here)
        return
    if shutil.which("gmt") is None:
        sys.exit("gmt is not on the path (Debian: apt install gmt)")
    with tempfile.TemporaryDirectory() as folder:
        for n in args.sizes:
            times: dict[str, list[float]] = {"zorvastatic": [], "gmt surface": []}
            peaks: dict[str, float] = {"zorvastatic": 0.0, "gmt surface": 0.0}
            for _ in range(args.rounds):
                for name, run in (("zorvastatic", ours), ("gmt surface", peer)):
                    seconds, peak = run(n, args.wells, folder)
                    times[name].append(seconds)
                    peaks[name] = max(peaks[name], peak)
            for name, values in times.items():
                median = statistics.median(values)
                print(f"{n}^2, {args.wells} wells, {name}: min {min(values):.2f} s, "
                      f"median {median:.2f} s, peak {peaks[name]:.0f} MiB")  # fmt: skip
            ratio = statistics.median(times["gmt surface"]) / statistics.median(
                times["zorvastatic"]
            )
            print(f"{n}^2: the peer takes {ratio:.1f} times as long")


if __name__ == "__main__":
    main()
