"""A built model's arrays and files: view cost at two model sizes, GRDECL and EGRID export of a
built model against xtgeo's own writers on the same grid (wall time, peak anonymous resident
memory above the process's before the call), and GRDECL export of a spilled model streamed from
its store (peak anonymous and total resident memory).

    python3 bench/model_export.py views                    view cost at 4,000 and 4 M cells
    python3 bench/model_export.py files [ni nj nk]         default 200 200 100
    python3 bench/model_export.py spilled [n nk]           default n=1001 nodes, nk=80: 80 M cells
"""

from __future__ import annotations

import os
import sys
import tempfile
import threading
import time

import numpy as np

import zorvastatic as zv


def status_kib(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


class Peak:
    """Samples RssAnon and VmRSS every 5 ms while the block runs."""

    def __enter__(self):
        self.base_anon, self.base_rss = status_kib("RssAnon"), status_kib("VmRSS")
        self.anon, self.rss = self.base_anon, self.base_rss
        self.running = True
        self.thread = threading.Thread(target=self._sample, daemon=True)
        self.thread.start()
        return self

    def _sample(self):
        while self.running:
            self.anon = max(self.anon, status_kib("RssAnon"))
            self.rss = max(self.rss, status_kib("VmRSS"))
            time.sleep(0.005)

    def __exit__(self, *exc):
        self.running = False
        self.thread.join()

    def report(self, label: str, seconds: float) -> None:
        extra = (self.anon - self.base_anon) / 1024
        print(
            f"{label:<34} {seconds:8.2f} s   +{extra:8.1f} MiB anon   "
            f"peak RSS {self.rss / 1024:8.1f} MiB"
        )


def spec(ni: int, nj: int, nk: int, **options) -> zv.ModelSpec:
    """One zone between two dipping, gently folded surfaces on a rotated lattice of 50 m columns."""
    lat = zv.Lattice(ni + 1, nj + 1, 456_000.0, 6_780_000.0, 50.0, 50.0, rotation=30.0)
    i, j = np.meshgrid(np.arange(ni + 1), np.arange(nj + 1), indexing="ij")
    top = 2000.0 + 0.5 * i - 1.0 * j + 3.0 * np.sin(i / 7.0) * np.cos(j / 11.0)
    return zv.ModelSpec(
        lat,
        [zv.Horizon("Top", zv.Surface(lat, top)), zv.Horizon("Base", zv.Surface(lat, top + nk))],
        [zv.Zone("Z", zv.Proportional(nk), zv.Contacts(owc=2150.0))],
        options=zv.BuildOptions(**options),
    )


def timed(label: str, action) -> None:
    with Peak() as peak:
        start = time.perf_counter()
        action()
        seconds = time.perf_counter() - start
    peak.report(label, seconds)


def views() -> None:
    for dims in ((20, 20, 10), (200, 200, 100)):
        model = zv.build(spec(*dims))
        for label, view in (
            ("property('PORO')", lambda m=model: m.property("PORO")),
            ("zcorn()", lambda m=model: m.zcorn()),
            ("coord(world=False)", lambda m=model: m.coord(world=False)),
        ):
            calls = 20_000
            start = time.perf_counter()
            for _ in range(calls):
                view()
            micro = (time.perf_counter() - start) / calls * 1e6
            cells = dims[0] * dims[1] * dims[2]
            print(f"{cells:>10} cells  {label:<20} {micro:7.2f} µs per call")


def files(ni: int, nj: int, nk: int) -> None:
    import xtgeo  # noqa: F401  (imported before timing)

    model = zv.build(spec(ni, nj, nk))
    print(f"{ni} x {nj} x {nk} = {ni * nj * nk} cells, in memory")
    with tempfile.TemporaryDirectory(prefix="zv-export-") as folder:
        timed("zorvastatic to_grdecl", lambda: model.to_grdecl(os.path.join(folder, "a.grdecl")))
        timed("zorvastatic to_egrid", lambda: model.to_egrid(os.path.join(folder, "a.egrid")))
        grid = model.to_xtgeo(properties=[])
        timed(
            "xtgeo Grid.to_file grdecl",
            lambda: grid.to_file(os.path.join(folder, "x.grdecl"), fformat="grdecl"),
        )
        timed(
            "xtgeo Grid.to_file egrid",
            lambda: grid.to_file(os.path.join(folder, "x.egrid"), fformat="egrid"),
        )
        for name in sorted(os.listdir(folder)):
            print(f"  {name:<10} {os.path.getsize(os.path.join(folder, name)) / 2**20:9.1f} MiB")


def spilled(n: int, nk: int) -> None:
    with tempfile.TemporaryDirectory(prefix="zv-spilled-") as folder:
        start = time.perf_counter()
        model = zv.build(spec(n - 1, n - 1, nk, memory_budget=1, spill_dir=folder))
        print(
            f"{(n - 1) ** 2 * nk} cells, spilled={model.spilled}, built in "
            f"{time.perf_counter() - start:.1f} s"
        )
        path = os.path.join(folder, "spilled.grdecl")
        timed("to_grdecl from the store", lambda: model.to_grdecl(path))
        print(f"  file {os.path.getsize(path) / 2**30:.2f} GiB")


def main() -> None:
    what = sys.argv[1] if len(sys.argv) > 1 else "files"
    numbers = [int(v) for v in sys.argv[2:]]
    if what == "views":
        views()
    elif what == "files":
        files(*(numbers or [200, 200, 100]))
    elif what == "spilled":
        spilled(*(numbers or [1001, 80]))
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
