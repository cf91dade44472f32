"""What the zorvastatic package adds to the engine's build.

Builds a 200 x 200 x 100-cell two-zone model with four wells' picks tied and an SGS porosity
pipeline, through `zv.build(spec)` and through the private builder alone (the same inputs,
lowered once beforehand), alternating, several times in one process; prints min and median
of each and the package's overhead. Then shows that no cube is copied on the way: the Python
allocations of a whole package build (tracemalloc, numpy included) against the size of one cube,
and the peak resident memory of a build either way, each in a fresh process.

Run after installing the package: ``python3 bench/package_overhead.py [--repeats N]``.
"""

from __future__ import annotations

import argparse
import json
import statistics
import subprocess
import sys
import time
import tracemalloc
import warnings
from functools import partial

import numpy as np

import zorvastatic as zv
from zorvastatic._lower import lower
from zorvastatic._model import Model

NODES = 201  # 200 x 200 columns
LAYERS = (50, 50)


def make_spec() -> zv.ModelSpec:
    lat = zv.Lattice(ncol=NODES, nrow=NODES, xori=456_000.0, yori=6_780_000.0, xinc=25.0, yinc=25.0)
    x, y = lat.node_coordinates()
    top = 1700.0 + 0.01 * (x - lat.xori) + 4.0 * np.sin((y - lat.yori) / 400.0)
    mid = top + 40.0 + 0.002 * (y - lat.yori)
    base = mid + 45.0
    fi = np.array([30.3, 170.6, 50.1, 140.4])
    fj = np.array([40.2, 30.7, 160.5, 150.8])
    wx, wy = lat.node_xy(fi, fj)
    nodes = lat.nearest_node(wx, wy)
    picks = zv.Picks(
        well=["W1", "W2", "W3", "W4"] * 3,
        horizon=["TopA"] * 4 + ["TopB"] * 4 + ["BaseB"] * 4,
        x=np.tile(wx, 3),
        y=np.tile(wy, 3),
        z=np.concatenate([s[nodes] + [1.0, -1.5, 0.5, 2.0] for s in (top, mid, base)]),
    )
    rng = np.random.default_rng(1)
    depth = np.arange(1650.0, 1900.0, 0.25)
    logs = [
        zv.WellLog(name, x0, y0, depth, rng.uniform(0.12, 0.3, depth.size))
        for name, x0, y0 in zip(["W1", "W2", "W3", "W4"], wx, wy, strict=True)
    ]
    return zv.ModelSpec(
        lattice=lat,
        horizons=[
            zv.Horizon("TopA", zv.Surface(lat, top)),
            zv.Horizon("TopB", zv.Surface(lat, mid)),
            zv.Horizon("BaseB", zv.Surface(lat, base)),
        ],
        zones=[
            zv.Zone("A", zv.Proportional(LAYERS[0]), zv.Contacts(goc=1720.0, owc=1760.0)),
            zv.Zone("B", zv.Proportional(LAYERS[1]), zv.Contacts(owc=1800.0)),
        ],
        well_ties=picks,
        tie_radius_m=500.0,
        pipelines=[
            zv.Pipeline(
                "PORO",
                logs,
                variogram=zv.Variogram("spherical", major=1500.0, minor=800.0, azimuth=30.0),
                seed=7,
                allow_mean_fill=True,
            )
        ],
        options=zv.BuildOptions(memory_budget=2**40),  # stays in memory: same road both ways
    )


def wrap(raw, spec):
    """What zv.build does after the engine: the Model and its warnings."""
    model = Model(raw, spec)
    for note in model.provenance.warnings:
        warnings.warn(note.message, zv.BuildWarning, stacklevel=2)
    return model


def timed(call):
    start = time.perf_counter()
    result = call()
    return time.perf_counter() - start, result


def peak_rss_mib() -> float:
    """The process's peak resident set (VmHWM: unlike ru_maxrss, not inherited across exec)."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    raise RuntimeError("no VmHWM in /proc/self/status")


def child(mode: str) -> None:
    """One build in a fresh process; prints its peak resident set in MiB."""
    spec = make_spec()
    builder = lower(spec)
    before = peak_rss_mib()
    if mode == "package":
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            model = zv.build(spec)
    else:
        model = builder.build()
    print(json.dumps({"before_mib": before, "peak_mib": peak_rss_mib()}))
    del model


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--child", choices=["package", "engine"])
    args = parser.parse_args()
    if args.child:
        child(args.child)
        return

    spec = make_spec()
    cells = (NODES - 1) ** 2 * sum(LAYERS)
    print(
        f"model: {NODES - 1} x {NODES - 1} x {sum(LAYERS)} = {cells:,} cells, two zones, "
        f"4 wells tied, SGS PORO; engine threads {zv.get_num_threads()}"
    )
    package, engine, own = [], [], []
    for _ in range(args.repeats):
        # The engine alone, from inputs lowered beforehand.
        builder = lower(spec)
        t_engine, raw = timed(builder.build)
        del raw, builder
        # The package end to end, and the share of it that is the package's own work: the
        # steps of zv.build timed one by one (lowering, the engine, wrapping and warnings).
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            t_package, model = timed(lambda: zv.build(spec))
            del model
            t_lower, builder = timed(lambda: lower(spec))
            t_inner, raw = timed(builder.build)
            t_wrap, model = timed(partial(wrap, raw, spec))
            del model, raw, builder
        engine.append(t_engine)
        package.append(t_package)
        own.append((t_lower + t_wrap) / t_inner * 100.0)

    def line(name, values, unit="s"):
        low, mid = min(values), statistics.median(values)
        return f"{name:<34} min {low:9.3f} {unit}   median {mid:9.3f} {unit}"

    print(line("engine build (private builder)", engine))
    print(line("package build zv.build(spec)", package))
    print(line("package's own work / engine work", own, "%"))
    for stat in (min, statistics.median):
        overhead = (stat(package) - stat(engine)) / stat(engine) * 100.0
        print(f"end-to-end difference ({stat.__name__}): {overhead:+.2f} %")

    tracemalloc.start()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        model = zv.build(spec)
    _, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    del model
    cube = cells * 8
    print(
        f"Python allocations during zv.build: peak {peak / 2**20:.2f} MiB; one float64 cube is "
        f"{cube / 2**20:.1f} MiB ({peak / cube * 100:.1f} % of it)"
    )
    for mode in ("engine", "package"):
        out = subprocess.run(
            [sys.executable, __file__, "--child", mode], capture_output=True, text=True, check=True
        )
        rss = json.loads(out.stdout)
        print(
            f"peak RSS, one build through the {mode:<7}: {rss['peak_mib']:8.1f} MiB "
            f"(inputs ready: {rss['before_mib']:.1f} MiB)"
        )


if __name__ == "__main__":
    main()
