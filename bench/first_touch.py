"""The first touch of fresh anonymous memory, the floor under every large build, in fresh
processes: GiB mapped and written once on ordinary pages, on huge pages asked for by advice
(as large arrays were before), and faulted in by one call before it is written (as they are now).

    python3 bench/first_touch.py [--gib 2] [--runs 3]

Where the kernel compacts memory in the fault of an advised region (THP defrag "madvise" or
"always"), or where huge pages come from memory the host must first back (a virtual machine that
reports free pages), the advised case is the slow one.
"""

from __future__ import annotations

import argparse
import json
import mmap
import os
import statistics
import subprocess
import sys
import time

MADV_POPULATE_WRITE = 23
MODES = ("plain", "huge pages", "populate")


def touch(gib: float, mode: str) -> dict[str, float]:
    import numpy as np

    size = int(gib * 2**30)
    t0, r0 = time.perf_counter(), os.times()
    region = mmap.mmap(-1, size)
    if mode == "huge pages":
        region.madvise(mmap.MADV_HUGEPAGE)
    if mode == "populate":
        region.madvise(MADV_POPULATE_WRITE)
    np.frombuffer(region, dtype=np.uint8).fill(1)
    t1, r1 = time.perf_counter(), os.times()
    return {"wall": t1 - t0, "user": r1.user - r0.user, "sys": r1.system - r0.system}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gib", type=float, default=2.0)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--child", choices=MODES, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        print(json.dumps(touch(args.gib, args.child)))
        return
    with open("/sys/kernel/mm/transparent_hugepage/defrag") as defrag:
        print(f"THP defrag: {defrag.read().strip()}; load {os.getloadavg()[0]:.2f}")
    print(
        f"{args.gib} GiB, {args.runs} runs each, in turn: GB/s and system seconds (min median max)"
    )
    results: dict[str, list[dict[str, float]]] = {mode: [] for mode in MODES}
    for _ in range(args.runs):
        for mode in MODES:
            child = subprocess.run(
                [sys.executable, __file__, "--gib", str(args.gib), "--child", mode],
                check=True,
                capture_output=True,
                text=True,
            )
            results[mode].append(json.loads(child.stdout))
    for mode, runs in results.items():
        rates = sorted(args.gib * 2**30 / r["wall"] / 1e9 for r in runs)
        system = sorted(r["sys"] for r in runs)
        print(
            f"  {mode:12s} {rates[0]:6.2f} {statistics.median(rates):6.2f} {rates[-1]:6.2f} GB/s"
            f"   {system[0]:5.2f} {statistics.median(system):5.2f} {system[-1]:5.2f} s system"
        )
    print(f"load {os.getloadavg()[0]:.2f}")


if __name__ == "__main__":
    main()
