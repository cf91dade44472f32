"""How big the viewer page of a 200 x 200 x 50 model is, and how fast headless chromium draws it.

    python3 bench/viewer_page.py [--ni 200 --nj 200 --nk 50] [--runs 3] [--keep PATH]

Needs the installed extension and package, plotly, playwright and the system chromium
(scripts/deps.sh). Prints the time to make the bundles and write the page, the page's size, and
the browser's own clock (milliseconds since navigation started) at three moments, as the median
of the runs:

- first screen: a 1280 x 900 window; the map and the section (the panels in view) are drawn;
- volume: the same window scrolled down to the 3-D panel, which is drawn once it comes into view;
- all at once: a 1280 x 2400 window that shows every panel, all three drawn;

and the same for the 10 x 10 x 5 flat model: the cost of plotly.js and of a WebGL scene in
software rendering, which every page pays whatever the model. "browser CPU" sums the CPU time of
all browser processes (page, GPU, browser) over the load: the work, whatever else the machine runs.

Every request other than file: and data: is refused, as in the tests.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time
from pathlib import Path

import psutil

import _zorvastatic as zs
from zorvastatic import viewer

CHROMIUM_ARGS = ["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader"]
READY = "html[data-zv-ready], html[data-zv-error]"


def build(ni: int, nj: int, nk: int):
    if ni != nj:
        raise SystemExit("the flat test model is square: use --ni equal to --nj")
    spacing = 50.0
    area = (ni * spacing) ** 2
    return zs.build_flat_model(
        n=ni + 1, nk=nk, area_m2=area, gross_height_m=float(nk) * 2.0, owc_m=2000.0 + nk
    )


def timed(label: str, call, report: list):
    start = time.perf_counter()
    result = call()
    report.append((label, time.perf_counter() - start))
    return result


def browser_cpu() -> dict[int, float]:
    """CPU seconds used so far by each of the browser's processes (pages, GPU and the rest)."""
    used = {}
    for child in psutil.Process().children(recursive=True):
        try:
            if "chrom" in child.name():
                times = child.cpu_times()
                used[child.pid] = times.user + times.system
        except psutil.NoSuchProcess:
            pass
    return used


def cpu_ms_since(before: dict[int, float]) -> float:
    """The browser's CPU time since ``before``, in ms: the work the page costs, whatever else the
    machine is busy with (a process that ended meanwhile, like a closed page's, is left out)."""
    return sum(seconds - before.get(pid, 0.0) for pid, seconds in browser_cpu().items()) * 1000.0


def open_page(browser, path: Path, height: int, scroll: bool) -> dict:
    cpu = browser_cpu()
    page = browser.new_page(viewport={"width": 1280, "height": height})
    problems: list[str] = []
    page.on("pageerror", lambda e: problems.append(str(e)))
    page.on("console", lambda m: problems.append(m.text) if m.type == "error" else None)
    page.route(
        "**/*",
        lambda r: r.continue_() if r.request.url.startswith(("file:", "data:")) else r.abort(),
    )
    page.goto(path.as_uri())
    if scroll:
        page.wait_for_function(
            "window.zorvastaticViewer && zorvastaticViewer.timings.section", timeout=120_000
        )
        first = page.evaluate("({...zorvastaticViewer.timings})")
        first_cpu_ms = cpu_ms_since(cpu)
        page.evaluate("zorvastaticViewer.timings.scrolled = performance.now()")
        page.locator("#zv-volume").scroll_into_view_if_needed()
    page.wait_for_selector(READY, state="attached", timeout=120_000)
    timings = page.evaluate("({...zorvastaticViewer.timings})")
    timings["cpu_ms"] = cpu_ms_since(cpu)
    if scroll:
        timings["first_screen"] = max(first["map"], first["section"])
        timings["first_screen_cpu_ms"] = first_cpu_ms
    if page.get_attribute("html", "data-zv-error") or problems:
        raise SystemExit(
            f"the page failed: {page.get_attribute('html', 'data-zv-error')} {problems}"
        )
    page.close()
    return timings


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ni", type=int, default=200)
    parser.add_argument("--nj", type=int, default=200)
    parser.add_argument("--nk", type=int, default=50)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--keep", type=Path, help="also keep the page at this path")
    args = parser.parse_args()
    from playwright.sync_api import sync_playwright

    steps: list[tuple[str, float]] = []
    model = timed("build the model", lambda: build(args.ni, args.nj, args.nk), steps)
    bundles = {
        "map": timed("map bundle", lambda: model.map_bundle("PORO", 0), steps),
        "intersection": timed(
            "section bundle (diagonal)",
            lambda: model.intersection_bundle(
                [(0.0, 0.0), (args.ni * 50.0, args.nj * 50.0)], "PORO"
            ),
            steps,
        ),
        "volume": timed("volume bundle", lambda: model.volume_bundle("PORO"), steps),
    }
    folder = Path(tempfile.mkdtemp(prefix="zv-bench-"))
    path = folder / "model.html"
    timed(
        "write the page",
        lambda: viewer.write_html(
            path,
            map_bundle=bundles["map"],
            intersection_bundle=bundles["intersection"],
            volume_bundle=bundles["volume"],
            title=f"{args.ni} x {args.nj} x {args.nk}",
        ),
        steps,
    )
    size = path.stat().st_size
    if args.keep:
        shutil.copy(path, args.keep)
    # The same page for the 10 x 10 x 5 flat model: what plotly.js and a page cost at all.
    small = folder / "small.html"
    flat = zs.build_flat_model()
    viewer.write_html(
        small,
        map_bundle=flat.map_bundle("PORO", 0),
        intersection_bundle=flat.intersection_bundle([(0.0, 450.0), (1000.0, 450.0)], "PORO"),
        volume_bundle=flat.volume_bundle("PORO"),
    )

    screen, all_at_once, baseline = [], [], []
    with sync_playwright() as playwright:
        browser = playwright.chromium.launch(
            executable_path=shutil.which("chromium") or "/usr/bin/chromium", args=CHROMIUM_ARGS
        )
        open_page(browser, path, 2400, scroll=False)  # warm-up: a browser's first page pays extra
        for _ in range(args.runs):
            screen.append(open_page(browser, path, 900, scroll=True))
            all_at_once.append(open_page(browser, path, 2400, scroll=False))
            baseline.append(open_page(browser, small, 2400, scroll=False))
        browser.close()
    shutil.rmtree(folder)

    print(f"model {args.ni} x {args.nj} x {args.nk} = {args.ni * args.nj * args.nk:,} cells")
    for label, seconds in steps:
        print(f"  {label:28s} {seconds:8.2f} s")
    print(
        f"page {size / 1e6:.1f} MB: bundles map {len(bundles['map']) / 1e6:.1f} MB, "
        f"section {len(bundles['intersection']) / 1e6:.1f} MB, "
        f"volume {len(bundles['volume']) / 1e6:.1f} MB"
    )

    def median(runs, key):
        return statistics.median(r[key] for r in runs)

    print(f"headless chromium, median of {args.runs} (ms since navigation started)")
    print(f"  script starts (page parsed, plotly.js compiled) {median(all_at_once, 'script'):8.0f}")
    print(
        f"  1280 x 900, first screen (map + section) drawn {median(screen, 'first_screen'):8.0f}"
        f"   (browser CPU {median(screen, 'first_screen_cpu_ms'):.0f} ms)"
    )
    print(
        f"  1280 x 900, volume drawn after scrolling to it {median(screen, 'volume'):8.0f}"
        f"   ({statistics.median(r['volume'] - r['scrolled'] for r in screen):.0f} "
        "after the scroll)"
    )
    print(
        f"  1280 x 2400, all three drawn                   {median(all_at_once, 'ready'):8.0f}"
        f"   (browser CPU {median(all_at_once, 'cpu_ms'):.0f} ms, "
        f"load average {os.getloadavg()[0]:.1f})"
    )
    print(
        f"    map {median(all_at_once, 'map'):.0f}, section {median(all_at_once, 'section'):.0f}, "
        f"volume {median(all_at_once, 'volume'):.0f}"
    )
    print(
        f"  the same for the 10 x 10 x 5 model            {median(baseline, 'ready'):8.0f}"
        f"   (browser CPU {median(baseline, 'cpu_ms'):.0f} ms; script starts at "
        f"{median(baseline, 'script'):.0f})"
    )


if __name__ == "__main__":
    sys.exit(main())
