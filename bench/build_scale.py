"""Whole builds and in_place() at the sizes users have, each run in a fresh process.

    python3 bench/build_scale.py [--runs 3] [--threads 1] [--fragment] [--against PYTHON] [case ...]

Cases (default: flat-300 flat-1000 surface-300 stack-300):

    flat-300           build_flat_model(n=301, nk=100)                       9 M cells
    flat-1000          build_flat_model(n=1001, nk=50)                      50 M cells
    surface-300        one zone under a dipping, folded top, 300 x 300 x 100
    surface-1000       the same at 1000 x 1000 x 50
    stack-300          three zones, 300 x 300 x 99
    stack-1000         three zones, 1000 x 1000 x 51
    spill-1000         build_flat_model(n=1001, nk=80), over the default budget: streamed
    surface-80-memory  one zone, 1000 x 1000 x 80, in memory (a budget of 1 TiB)
    surface-80-spill   the same over a 1 GiB budget: streamed into a store
    stack-spill        three zones, 1000 x 1000 x 60, over a 1 GiB budget

For every case the table gives the minimum, median and maximum over the runs of the build's
wall, user and system time and throughput, then the same for in_place(), the process's peak
resident memory during the build beside the model's own arrays (corner depths, pillars and
cubes at 8 bytes a value; the peak resident memory counts the store's mapped pages too, the
anonymous peak, sampled every 5 ms by a thread that runs where a call releases the interpreter
lock, does not), and the compaction stalls and huge-page faults the system counted
meanwhile (system-wide counters: other processes add to them).

For spilled models the read bound is measured in the same process: the store file read once
through a fresh mapping (sum of its 64-bit words), just before in_place(). For models built in
memory, "write once" is the time to hand a store's worth of bytes (44 a cell, plus the pillars) to
the page cache of a reserved file with plain positioned writes of 64 KiB from one buffer, unflushed,
as an unkept store is: a streamed build of the same model aims at no more than the in-memory build
plus that. Page faults are the process's own (minor and major) during the build.

--against runs every case also with another interpreter (one with an earlier build of the
extension installed), alternating run by run with this one so that both see the same load, and
reports both.

--fragment first runs a process that fills most of the free memory with anonymous pages
interleaved page by page with the page cache of a scratch file, then exits: the memory it frees
is then in small pieces between cached pages, as after other large processes ran. The scratch
file is removed after the measured run.
"""

from __future__ import annotations

import argparse
import json
import mmap
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

# name: (kind, nodes per side, layers, zones, memory budget: None for the default, else bytes)
CASES = {
    "flat-300": ("flat", 301, 100, 1, None),
    "flat-1000": ("flat", 1001, 50, 1, None),
    "surface-300": ("surface", 301, 100, 1, None),
    "surface-1000": ("surface", 1001, 50, 1, None),
    "stack-300": ("surface", 301, 99, 3, None),
    "stack-1000": ("surface", 1001, 51, 3, None),
    "spill-1000": ("flat", 1001, 80, 1, None),
    "surface-80-memory": ("surface", 1001, 80, 1, 1 << 40),
    "surface-80-spill": ("surface", 1001, 80, 1, 1 << 30),
    "stack-spill": ("surface", 1001, 60, 3, 1 << 30),
}
PAGE = 4096


def vmstat() -> dict[str, int]:
    with open("/proc/vmstat") as stat:
        return {k: int(v) for k, v in (line.split() for line in stat)}


def status_kib(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


class PeakAnon:
    """The largest anonymous resident memory seen every 5 ms while the block runs, in KiB."""

    def __enter__(self) -> PeakAnon:
        import threading

        self.peak = status_kib("RssAnon")
        self.running = True
        self.thread = threading.Thread(target=self._sample, daemon=True)
        self.thread.start()
        return self

    def _sample(self) -> None:
        while self.running:
            self.peak = max(self.peak, status_kib("RssAnon"))
            time.sleep(0.005)

    def __exit__(self, *exc: object) -> None:
        self.running = False
        self.thread.join()
        self.peak = max(self.peak, status_kib("RssAnon"))


def reset_peak() -> None:
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")


def spec(n: int, nk: int, zones: int, budget: int | None, spill_dir: str):  # type: ignore[no-untyped-def]
    import numpy as np

    import zorvastatic as zv

    lat = zv.Lattice(ncol=n, nrow=n, xinc=50.0, yinc=50.0)
    x, y = lat.node_coordinates()
    top = 2000.0 + 0.01 * x + 0.005 * y + 8.0 * np.sin(x / 900.0) * np.sin(y / 700.0)
    offsets = [0.0, 40.0, 70.0, 100.0][: zones + 1] if zones > 1 else [0.0, 100.0]
    horizons = [zv.Horizon(f"H{h}", zv.Surface(lat, top + dz)) for h, dz in enumerate(offsets)]
    layers = [
        zv.Zone(f"Z{z}", zv.Proportional(nk // zones), zv.Contacts(owc=2150.0))
        for z in range(zones)
    ]
    options = (
        zv.BuildOptions(memory_budget=budget, spill_dir=spill_dir)
        if budget is not None
        else zv.BuildOptions(spill_dir=spill_dir)
    )
    return zv.ModelSpec(lat, horizons, layers, options=options)


def read_bound(path: str) -> tuple[float, int]:
    """Seconds to read the whole file once through a fresh mapping, and its size."""
    import numpy as np

    size = os.path.getsize(path)
    with open(path, "rb") as file:
        mapped = mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)
        words = np.frombuffer(mapped, dtype=np.uint64, count=size // 8)
        start = time.perf_counter()
        np.add.reduce(words)
        seconds = time.perf_counter() - start
        del words
        mapped.close()
    return seconds, size


def write_once(folder: str, size: int) -> float:
    """Seconds to write `size` bytes into a freshly reserved file with positioned writes of 64 KiB
    from one buffer (the fastest size here: larger writes make the page cache allocate larger
    folios, which can stall), without flushing them."""
    path = os.path.join(folder, "write-once.bin")
    chunk = memoryview(bytes(range(256)) * (64 << 10 >> 8))
    fd = os.open(path, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o600)
    try:
        os.posix_fallocate(fd, 0, size)
        start = time.perf_counter()
        for offset in range(0, size, len(chunk)):
            os.pwrite(fd, chunk[: size - offset], offset)
        seconds = time.perf_counter() - start
    finally:
        os.close(fd)
        os.unlink(path)
    return seconds


def run_case(name: str, threads: int) -> dict[str, float]:
    """One build and one in_place() in this process; prints its figures as JSON."""
    import _zorvastatic as zs

    kind, n, nk, zones, budget = CASES[name]
    zs._set_max_threads(threads)
    cells = (n - 1) * (n - 1) * (nk // zones * zones)
    out: dict[str, float] = {"cells": cells}
    with tempfile.TemporaryDirectory(prefix="zv-scale-") as spill_dir:
        os.environ["TMPDIR"] = spill_dir
        made = spec(n, nk, zones, budget, spill_dir) if kind != "flat" else None
        rss_before = status_kib("VmRSS")
        reset_peak()
        stats = vmstat()
        anon_before = status_kib("RssAnon")
        faults = resource.getrusage(resource.RUSAGE_SELF)
        with PeakAnon() as anon:
            t0, r0 = time.perf_counter(), os.times()
            if made is None:
                raw = zs.build_flat_model(n=n, nk=nk)
                model = None
            else:
                import zorvastatic as zv

                model = zv.build(made, progress=False)
                raw = model.raw
            t1, r1 = time.perf_counter(), os.times()
        faulted = resource.getrusage(resource.RUSAGE_SELF)
        out["build_faults_k"] = (
            faulted.ru_minflt + faulted.ru_majflt - faults.ru_minflt - faults.ru_majflt
        ) / 1e3
        out["build_anon_mib"] = (anon.peak - anon_before) / 1024
        after = vmstat()
        out["build_wall"] = t1 - t0
        out["build_user"] = r1.user - r0.user
        out["build_sys"] = r1.system - r0.system
        out["build_peak_mib"] = (status_kib("VmHWM") - rss_before) / 1024
        out["compact_stalls"] = after["compact_stall"] - stats["compact_stall"]
        out["thp_faults"] = after["thp_fault_alloc"] - stats["thp_fault_alloc"]
        values = 8 + len(raw.property_names())
        out["arrays_mib"] = (8.0 * values * cells + 48.0 * n * n) / 2**20
        out["spilled"] = float(raw._spilled())
        if raw._spilled():
            seconds, size = read_bound(raw._store_path())
            out["read_bound_cells_s"] = cells / seconds / 1e6
            out["store_gib"] = size / 2**30
        else:
            out["write_once"] = write_once(spill_dir, 44 * cells + 48 * n * n)
        reset_peak()
        rss_before = status_kib("VmRSS")
        anon_before = status_kib("RssAnon")
        with PeakAnon() as anon:
            t0, r0 = time.perf_counter(), os.times()
            raw.in_place()
            t1, r1 = time.perf_counter(), os.times()
        out["in_place_anon_mib"] = (anon.peak - anon_before) / 1024
        out["in_place_wall"] = t1 - t0
        out["in_place_user"] = r1.user - r0.user
        out["in_place_sys"] = r1.system - r0.system
        out["in_place_peak_mib"] = (status_kib("VmHWM") - rss_before) / 1024
        if model is not None:
            model.close()
        del raw, model
    return out


def fragment(folder: str) -> str:
    """Anonymous pages interleaved with cached file pages over most of the free memory; the
    anonymous ones are freed when this function's process exits. Returns the scratch file."""
    with open("/proc/meminfo") as info:
        free_kib = next(int(line.split()[1]) for line in info if line.startswith("MemFree:"))
    total = int(free_kib * 1024 * 0.6) // (4 * PAGE) * (4 * PAGE)
    anon_bytes = total // 4 * 3
    path = os.path.join(folder, "fragment.bin")
    anon = mmap.mmap(-1, anon_bytes)
    anon.madvise(mmap.MADV_NOHUGEPAGE)
    page = b"\1" * PAGE
    with open(path, "wb", buffering=0) as file:
        for offset in range(0, anon_bytes, 3 * PAGE):
            anon[offset] = 1
            anon[offset + PAGE] = 1
            anon[offset + 2 * PAGE] = 1
            file.write(page)
    return path


def summary(values: list[float], unit: str = "") -> str:
    return f"{min(values):8.2f} {statistics.median(values):8.2f} {max(values):8.2f}{unit}"


def report(name: str, runs: list[dict[str, float]]) -> None:
    cells = runs[0]["cells"]
    for r in runs:
        if "write_once" in r:
            r["build_plus_write"] = r["build_wall"] + r["write_once"]
    print(f"\n{name}: {cells / 1e6:.1f} M cells, {len(runs)} runs (min median max)")

    def row(label: str, key: str, unit: str = "") -> None:
        print(f"  {label:28s}{summary([r[key] for r in runs], unit)}")

    for stage in ("build", "in_place"):
        row(f"{stage} wall s", f"{stage}_wall")
        row(f"{stage} user s", f"{stage}_user")
        row(f"{stage} system s", f"{stage}_sys")
        print(
            f"  {stage + ' M cells/s':28s}"
            f"{summary([cells / r[stage + '_wall'] / 1e6 for r in runs])}"
        )
        print(
            f"  {stage + ' system share %':28s}"
            f"{summary([100 * r[stage + '_sys'] / r[stage + '_wall'] for r in runs])}"
        )
        if stage == "build":
            row("build page faults k", "build_faults_k")
        row(f"{stage} peak RSS MiB", f"{stage}_peak_mib")
        row(f"{stage} peak anon MiB", f"{stage}_anon_mib")
    print(f"  {'model arrays MiB':28s}{runs[0]['arrays_mib']:8.1f}")
    print(
        f"  {'build peak / arrays':28s}"
        f"{summary([r['build_peak_mib'] / r['arrays_mib'] for r in runs])}"
    )
    row("compaction stalls", "compact_stalls")
    row("huge-page faults", "thp_faults")
    if not runs[0]["spilled"]:
        row("write once s", "write_once")
        row("build + write once s", "build_plus_write")
    if runs[0]["spilled"]:
        row("store GiB", "store_gib")
        row("read bound M cells/s", "read_bound_cells_s")
        shares = [r["cells"] / r["in_place_wall"] / 1e6 / r["read_bound_cells_s"] for r in runs]
        print(f"  {'in_place / read bound':28s}{summary(shares)}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "cases", nargs="*", default=["flat-300", "flat-1000", "surface-300", "stack-300"]
    )
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--fragment", action="store_true")
    parser.add_argument("--against", help="another interpreter to run every case with too")
    parser.add_argument("--child", help=argparse.SUPPRESS)
    parser.add_argument("--fragment-into", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        print(json.dumps(run_case(args.child, args.threads)))
        return
    if args.fragment_into:
        print(fragment(args.fragment_into))
        return
    for name in args.cases:
        if name not in CASES:
            parser.error(f"unknown case {name!r}; known: {', '.join(CASES)}")
    with open("/sys/kernel/mm/transparent_hugepage/defrag") as defrag:
        print(f"THP defrag: {defrag.read().strip()}; load {os.getloadavg()[0]:.2f}")
    script = os.path.abspath(__file__)
    interpreters = [sys.executable] + ([args.against] if args.against else [])
    for name in args.cases:
        runs: dict[str, list[dict[str, float]]] = {python: [] for python in interpreters}
        for _ in range(args.runs):
            for python in interpreters:
                with tempfile.TemporaryDirectory(prefix="zv-fragment-") as folder:
                    if args.fragment:
                        subprocess.run(
                            [python, script, "--fragment-into", folder],
                            check=True,
                            capture_output=True,
                        )
                    child = subprocess.run(
                        [python, script, "--child", name, "--threads", str(args.threads)],
                        check=True,
                        capture_output=True,
                        text=True,
                    )
                runs[python].append(json.loads(child.stdout.strip().splitlines()[-1]))
        for python in interpreters:
            report(name if len(interpreters) == 1 else f"{name} with {python}", runs[python])
    print(f"\nload {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
