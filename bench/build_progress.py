"""How long each stage of a build takes, per cell: the figures behind the shares of its progress.

    python3 bench/build_progress.py [--n 201] [--nk 50]

Builds, with the installed package, four models over n x n nodes and nk layers (a single zone
with a simulated PORO, two zones with constant priors, and both again over a memory budget of
one byte, so that they are written to a store) and then reads the bundles of the spilled
two-zone model. The engine's progress callback timestamps each stage; the table gives when each
stage was first and last heard, its time per cell in nanoseconds, and the fraction of the call
the engine reported meanwhile, which should grow about as fast as the time does. The constants
of src/zorvastatic/model/build_progress.cpp come from these figures.
"""

from __future__ import annotations

import argparse
import tempfile
import time
from collections.abc import Callable
from typing import Any

import numpy as np

import _zorvastatic
import zorvastatic as zv


def spec(n: int, nk: int, zones: int, pipeline: bool, spill_dir: str | None) -> zv.ModelSpec:
    lat = zv.Lattice(ncol=n, nrow=n, xinc=50.0, yinc=50.0)
    x, y = lat.node_coordinates()
    dip = 0.01 * x + 0.005 * y
    tops = [2000.0, 2040.0, 2100.0][: zones + 1]
    horizons = [zv.Horizon(f"H{z}", zv.Surface(lat, top + dip)) for z, top in enumerate(tops)]
    layers = [
        zv.Zone(f"Z{z}", zv.Proportional(nk // zones), zv.Contacts(owc=2080.0))
        for z in range(zones)
    ]
    pipelines = []
    if pipeline:
        depth = np.arange(2000.05, 2200.0, 0.1)
        step = (n - 1) // 5
        logs = [
            zv.WellLog(
                f"W{w}",
                *lat.node_xy(step * (1 + w % 4), step * (1 + w // 4)),
                depth,
                0.2 + 0.05 * np.sin(depth / 7.0 + w),
            )
            for w in range(16)
        ]
        variogram = zv.Variogram("spherical", major=40.0 * n)
        pipelines = [zv.Pipeline("PORO", logs, variogram=variogram, seed=1, allow_mean_fill=True)]
    options = zv.BuildOptions(memory_budget=1, spill_dir=spill_dir) if spill_dir else None
    return zv.ModelSpec(
        lat, horizons, layers, pipelines=pipelines, options=options or zv.BuildOptions()
    )


def timed(label: str, cells: int, call: Callable[[], Any]) -> Any:
    heard: list[tuple[float, str, float]] = []
    start = time.perf_counter()

    def record(stage: str, done: int, total: int, fraction: float) -> None:
        heard.append((time.perf_counter() - start, stage, fraction))

    previous = _zorvastatic._set_progress_callback(record)
    try:
        result = call()
    finally:
        _zorvastatic._set_progress_callback(previous)
    seconds = time.perf_counter() - start
    print(f"{label}: {seconds:.2f} s, {len(heard)} reports")
    stages: dict[str, list[float]] = {}
    for at, stage, fraction in heard:
        first = stages.setdefault(stage, [at, at, fraction, fraction])
        first[1], first[3] = at, fraction
    names = list(stages)
    for n, stage in enumerate(names):
        first, last, low, high = stages[stage]
        # A stage runs until the next one is first heard (or the call ends).
        end = stages[names[n + 1]][0] if n + 1 < len(names) else seconds
        per_cell = (end - first) / cells * 1e9
        print(
            f"  {first:6.2f} .. {end:6.2f} s  {per_cell:7.0f} ns/cell  "
            f"fraction {low:.2f} .. {high:.2f}  {stage}"
        )
    return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=201, help="nodes along each side")
    parser.add_argument("--nk", type=int, default=50, help="layers")
    args = parser.parse_args()
    n, nk = args.n, args.nk
    cells = (n - 1) ** 2 * nk
    print(f"{n - 1} x {n - 1} x {nk} = {cells:,} cells, {zv.get_num_threads()} threads")
    with tempfile.TemporaryDirectory() as store:
        builds = [
            ("single zone, simulated PORO", 1, True, None),
            ("two zones, priors", 2, False, None),
            ("single zone over budget (streamed)", 1, False, store),
            ("two zones over budget", 2, False, store),
        ]
        model = None
        for label, zones, pipeline, spill_dir in builds:
            made = spec(n, nk, zones, pipeline, spill_dir)
            model = timed(label, cells, lambda made=made: zv.build(made, progress=False))
        assert model is not None and model.spilled
        raw = model.raw
        timed("map bundle, spilled", cells, lambda: raw.map_bundle("PORO", 0))
        line = [(0.0, 0.0), (50.0 * (n - 1), 50.0 * (n - 1))]
        timed("section bundle, spilled", cells, lambda: raw.intersection_bundle(line, "PORO"))
        timed("volume bundle, spilled", cells, lambda: raw.volume_bundle("PORO"))
        model.close()


if __name__ == "__main__":
    main()
