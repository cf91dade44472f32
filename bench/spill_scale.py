"""Out-of-core scale run: a flat model above this machine's spill budget (half its physical
memory) takes the streaming road; reports wall time, peak anonymous resident memory while
building and while computing in_place(), the store's size, and in_place() throughput.

    python3 bench/spill_scale.py [n] [nk]      (default n=1001, nk=80: 80 million cells)
"""

import os
import sys
import tempfile
import threading
import time


def rss_anon_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    return 0


class PeakAnon:
    """Samples RssAnon every 5 ms while the block runs."""

    def __enter__(self):
        self.peak = rss_anon_kib()
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


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 1001
    nk = int(sys.argv[2]) if len(sys.argv) > 2 else 80
    with tempfile.TemporaryDirectory(prefix="zv-scale-") as spill_dir:
        os.environ["TMPDIR"] = spill_dir
        import _zorvastatic as zs

        cells = (n - 1) * (n - 1) * nk
        baseline = rss_anon_kib()
        with PeakAnon() as build_peak:
            start = time.perf_counter()
            model = zs.build_flat_model(n=n, nk=nk)
            build_s = time.perf_counter() - start
        stores = [os.path.join(spill_dir, f) for f in os.listdir(spill_dir) if f.endswith(".zts")]
        store_bytes = sum(os.path.getsize(f) for f in stores)
        with PeakAnon() as volume_peak:
            start = time.perf_counter()
            result = model.in_place()
            in_place_s = time.perf_counter() - start
        grv, hcpv = 1.0e6 * 50.0, 1.0e6 * 50.0 * 0.25 * 0.8 * 0.7
        print(f"cells                 {cells:,}")
        print(f"spilled to store      {'yes' if stores else 'no'} ({len(stores)} file)")
        print(f"build wall time       {build_s:.2f} s")
        print(
            f"peak anon RSS build   {(build_peak.peak - baseline) / 1024:.1f} MiB "
            "above the interpreter "
            f"({build_peak.peak / 1024:.1f} MiB total)"
        )
        print(f"store size            {store_bytes / 2**30:.2f} GiB")
        print(
            f"in_place wall time    {in_place_s:.2f} s ({cells / in_place_s / 1e6:.1f} M cells/s)"
        )
        print(f"peak anon RSS volume  {volume_peak.peak / 1024:.1f} MiB total")
        print(
            f"grv_m3                {result['grv_m3']!r} (analytic {grv!r}, "
            f"rel err {abs(result['grv_m3'] - grv) / grv:.2e})"
        )
        print(
            f"hcpv_m3               {result['hcpv_m3']!r} (analytic {hcpv!r}, "
            f"rel err {abs(result['hcpv_m3'] - hcpv) / hcpv:.2e})"
        )
        print(f"cells_in_column       {result['cells_in_column']:,}")
        del model
        print(f"store removed         {not any(os.path.exists(f) for f in stores)}")
        print(f"directory left empty  {not os.listdir(spill_dir)}")


if __name__ == "__main__":
    main()
