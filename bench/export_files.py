"""Grid file export: our GRDECL and EGRID writers against xtgeo's own writers on the same grid,
wall time and peak anonymous resident memory above what the process held before writing (each
writer runs in its own process); optionally a float32
memory-mapped grid (as a spilled model hands out) exported to GRDECL and EGRID, to show that
resident memory stays bounded.

    PYTHONPATH=python python3 bench/export_files.py [ni nj nk]           (default 200 200 100)
    PYTHONPATH=python python3 bench/export_files.py --memmap ni nj nk    (float32 zcorn on disk)
"""

from __future__ import annotations

import os
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

from zorvastatic.io import CornerPointArrays, to_xtgeo, write_egrid, write_grdecl


def rss_anon_kib() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    return 0


class PeakAnon:
    """Samples RssAnon every 5 ms while the block runs."""

    def __enter__(self):
        self.base = self.peak = rss_anon_kib()
        self.running = True
        self.thread = threading.Thread(target=self._sample, daemon=True)
        self.thread.start()
        return self

    def _sample(self):
        while self.running:
            self.peak = max(self.peak, rss_anon_kib())
            time.sleep(0.005)

    def __exit__(self, *exc):
        self.running = False
        self.thread.join()
        self.peak = max(self.peak, rss_anon_kib())


def dipping_grid(ni: int, nj: int, nk: int, zcorn: np.ndarray | None = None) -> CornerPointArrays:
    """A rotated grid of dipping, gently folded layers, 50 x 50 m columns, 1 m layers, at real map
    coordinates."""
    box = CornerPointArrays.box(
        (ni, nj, nk), increments=(50.0, 50.0, 1.0), origin=(456_000.0, 6_780_000.0), rotation=30.0
    )
    pj, pi = np.mgrid[0 : nj + 1, 0 : ni + 1].astype(np.float64)
    top = 2000.0 + 0.01 * 50.0 * pi - 0.02 * 50.0 * pj + 3.0 * np.sin(pi / 7.0) * np.cos(pj / 11.0)
    if zcorn is None:
        zcorn = np.empty((nk, nj, ni, 8))
    for k in range(nk):
        for n in range(4):
            di, dj = n % 2, n // 2
            face = top[dj : dj + nj, di : di + ni]
            zcorn[k, :, :, n] = face + k
            zcorn[k, :, :, n + 4] = face + k + 1
    coord = box.coord.copy()
    coord[..., 2], coord[..., 5] = top.min() - 10.0, top.max() + nk + 10.0
    return CornerPointArrays(box.dims, coord, zcorn, box.actnum)


def measure(label: str, action) -> None:
    with PeakAnon() as peak:
        start = time.perf_counter()
        action()
        seconds = time.perf_counter() - start
    extra = (peak.peak - peak.base) / 1024
    print(f"{label:<34} {seconds:8.2f} s   peak anon RSS +{extra:8.1f} MiB")


CASES = {
    "zorvastatic write_grdecl": ("ours.grdecl", lambda grid, path: write_grdecl(path, grid)),
    "xtgeo Grid.to_file grdecl": (
        "xt.grdecl",
        lambda grid, path: grid.to_file(path, fformat="grdecl"),
    ),
    "zorvastatic write_egrid": ("ours.egrid", lambda grid, path: write_egrid(path, grid)),
    "xtgeo Grid.to_file egrid": (
        "xt.egrid",
        lambda grid, path: grid.to_file(path, fformat="egrid"),
    ),
}


def run_case(label: str, ni: int, nj: int, nk: int, folder: str) -> None:
    """One writer on a freshly built grid, in this process alone (so peaks do not mix)."""
    grid = dipping_grid(ni, nj, nk)
    if label.startswith("xtgeo"):
        grid = to_xtgeo(grid)
    name, write = CASES[label]
    path = os.path.join(folder, name)
    measure(label, lambda: write(grid, path))
    print(f"{'':<34} file {os.path.getsize(path) / 2**20:8.1f} MiB")


def compare(ni: int, nj: int, nk: int, folder: str) -> None:
    print(
        f"{ni} x {nj} x {nk} = {ni * nj * nk:,} cells; "
        f"float64 zcorn {ni * nj * nk * 64 / 2**20:.0f} MiB"
    )
    for label in CASES:
        subprocess.run(
            [sys.executable, __file__, "--case", label, str(ni), str(nj), str(nk), folder],
            check=True,
        )


def memmapped(ni: int, nj: int, nk: int, folder: str) -> None:
    path = os.path.join(folder, "zcorn.f4")
    store = np.memmap(path, dtype=np.float32, mode="w+", shape=(nk, nj, ni, 8))
    dipping_grid(ni, nj, nk, zcorn=store)
    store.flush()
    del store
    zcorn = np.memmap(path, dtype=np.float32, mode="r", shape=(nk, nj, ni, 8))
    grid = CornerPointArrays(
        (ni, nj, nk),
        dipping_grid(ni, nj, 1).coord,
        zcorn,
        np.ones((ni, nj, nk), dtype=np.int32, order="F"),
    )
    print(
        f"memory-mapped float32 zcorn: {ni} x {nj} x {nk} = {ni * nj * nk:,} cells, "
        f"{zcorn.nbytes / 2**30:.2f} GiB on disk "
        f"(actnum {grid.actnum.nbytes / 2**20:.0f} MiB in memory)"
    )
    measure(
        "zorvastatic write_egrid (memmap)",
        lambda: write_egrid(os.path.join(folder, "m.egrid"), grid),
    )
    os.unlink(os.path.join(folder, "m.egrid"))
    measure(
        "zorvastatic write_grdecl (memmap)",
        lambda: write_grdecl(os.path.join(folder, "m.grdecl"), grid),
    )


def main() -> None:
    args = sys.argv[1:]
    if args and args[0] == "--case":
        run_case(args[1], int(args[2]), int(args[3]), int(args[4]), args[5])
        return
    mapped = bool(args) and args[0] == "--memmap"
    if mapped:
        args = args[1:]
    ni, nj, nk = (int(a) for a in args) if args else (200, 200, 100)
    with tempfile.TemporaryDirectory(
        prefix="zv-export-", dir=os.environ.get("TMPDIR", "/tmp")
    ) as folder:
        (memmapped if mapped else compare)(ni, nj, nk, folder)


if __name__ == "__main__":
    main()
