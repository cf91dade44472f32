"""Progress of long work through the real engine: builds, spilled builds, viewer bundles."""

import os
import sys
import threading

import numpy as np
import pytest

import _zorvastatic
import zorvastatic as zv
from terminal import stderr_on_a_terminal

DONE = zv.Progress("done", 1.0, 1, 1)


def spec(n=81, nk=30, zones=1, pipeline=True, spill_dir=None):
    """Dipping horizons over n x n nodes; a simulated PORO; a store when `spill_dir` is given."""
    lat = zv.Lattice(ncol=n, nrow=n, xinc=50.0, yinc=50.0)
    x, y = lat.node_coordinates()
    dip = 0.01 * x + 0.005 * y
    tops = [2000.0, 2030.0, 2060.0][: zones + 1]
    horizons = [zv.Horizon(f"H{z}", zv.Surface(lat, top + dip)) for z, top in enumerate(tops)]
    layers = [
        zv.Zone(f"Z{z}", zv.Proportional(nk // zones), zv.Contacts(owc=2050.0))
        for z in range(zones)
    ]
    pipelines = []
    if pipeline:
        depth = np.arange(2000.05, 2200.0, 0.1)
        logs = [
            zv.WellLog(f"W{w}", *lat.node_xy(10 + 20 * (w % 4), 10 + 20 * (w // 4)), depth,
                       0.2 + 0.05 * np.sin(depth / 7.0 + w))
            for w in range(16)
        ]  # fmt: skip
        variogram = zv.Variogram("spherical", major=1500.0)
        pipelines = [zv.Pipeline("PORO", logs, variogram=variogram, seed=1, allow_mean_fill=True)]
    options = (
        zv.BuildOptions(memory_budget=1, spill_dir=str(spill_dir))
        if spill_dir
        else zv.BuildOptions()
    )
    return zv.ModelSpec(lat, horizons, layers, pipelines=pipelines, options=options)


def assert_ends_done(reports):
    fractions = [r.fraction for r in reports]
    assert fractions == sorted(fractions), "fractions never decrease"
    assert reports[-1] == DONE and reports[-1].fraction == 1.0
    assert all(0.0 <= f <= 1.0 for f in fractions)
    assert DONE not in reports[:-1]


def spans(reports):
    """Per stage: the lowest and highest fraction reported while the engine was at it."""
    seen = {}
    for r in reports[:-1]:
        low, high = seen.get(r.stage, (r.fraction, r.fraction))
        seen[r.stage] = (min(low, r.fraction), max(high, r.fraction))
    return seen


def in_order(reports, stages):
    """Whether the stages reported (each heard only when a check fell in it) came in this order."""
    heard = [r.stage for r in reports[:-1]]
    position = 0
    for stage in heard:
        if stage not in stages[position:]:
            return False
        position = stages.index(stage, position)
    return True


BUILD_STAGES = [
    "solving the structural surfaces",
    "resolving the horizon stack",
    "checking the stack interfaces",
    "layering the grid",
    "populating properties",
    "applying property pipelines",
    "upscaling well logs",
    "simulating layers",
    "writing the store",
]


def test_a_build_with_a_pipeline_reports_each_stage_in_its_share():
    reports = []
    model = zv.build(spec(), progress=reports.append)
    assert model.dims == (80, 80, 30)
    assert_ends_done(reports)
    assert in_order(reports, BUILD_STAGES), [r.stage for r in reports]
    # The simulation is most of the work of this build, and the fraction moves while it runs.
    low, high = spans(reports)["simulating layers"]
    assert high - low > 0.3, spans(reports)
    simulating = [r for r in reports if r.stage == "simulating layers"]
    assert all(0 <= r.done <= r.total == 30 for r in simulating)


@pytest.mark.parametrize("zones", [1, 2], ids=["streamed", "stack"])
def test_a_spilled_build_reports_writing_its_store(tmp_path, zones):
    reports = []
    with zv.build(spec(n=201, nk=40, zones=zones, pipeline=False, spill_dir=tmp_path),
                  progress=reports.append) as model:  # fmt: skip
        assert model.spilled
    assert_ends_done(reports)
    assert in_order(reports, BUILD_STAGES), [r.stage for r in reports]
    assert "writing the store" in spans(reports)


def test_the_viewer_of_a_spilled_model_reports_reading_its_store(tmp_path):
    model = zv.build(
        spec(n=161, nk=60, zones=2, pipeline=False, spill_dir=tmp_path), progress=False
    )  # a store whose reading outlasts the engine's check interval many times over
    reports = []
    page = model.write_viewer(tmp_path / "spilled.html", progress=reports.append)
    assert page.stat().st_size > 1_000_000 and model.spilled
    assert_ends_done(reports)
    stages = spans(reports)
    assert "reading the store" in stages and "building the volume bundle" in stages
    # The volume bundle, made after the map and the section, fills a later share of the work.
    assert stages["building the volume bundle"][0] >= 0.35 > stages["reading the store"][0]


def test_volumes_of_a_spilled_model_report_their_pass_over_the_store(tmp_path):
    # 7.2 M cells: a pass of tens of milliseconds, several of the engine's check intervals even
    # on a warm page cache.
    model = zv.build(spec(n=301, nk=80, pipeline=False, spill_dir=tmp_path), progress=False)
    reports = []
    (zone,) = model.in_place_by_zone(progress=reports.append)
    assert zone.grv_m3 > 0
    assert_ends_done(reports)
    assert set(spans(reports)) == {"computing volumes"}


def test_builds_on_two_threads_each_report_to_their_own_caller(tmp_path):
    heard = {"simulated": [], "spilled": []}
    errors = []

    def run(name, made):
        try:
            zv.build(made, progress=heard[name].append).close()
        except BaseException as error:  # noqa: BLE001 - handed to the main thread
            errors.append(error)

    threads = [
        threading.Thread(target=run, args=("simulated", spec())),
        threading.Thread(
            target=run, args=("spilled", spec(n=201, nk=40, pipeline=False, spill_dir=tmp_path))
        ),
    ]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []
    for reports in heard.values():
        assert_ends_done(reports)
    assert "writing the store" not in spans(heard["simulated"])
    assert "simulating layers" not in spans(heard["spilled"])
    assert _zorvastatic._set_progress_callback(None) is None  # nothing left installed


def test_an_exception_from_the_callback_stops_the_build_and_is_raised():
    class Enough(Exception):
        pass

    reports = []

    def stop_when_simulating(report):
        reports.append(report)
        if report.stage == "simulating layers":
            raise Enough

    with pytest.raises(Enough):
        zv.build(spec(), progress=stop_when_simulating)
    assert DONE not in reports
    assert [r.stage for r in reports].count("simulating layers") == 1
    assert _zorvastatic._set_progress_callback(None) is None


def test_bars_on_request_and_refusals(capsys, monkeypatch):
    pytest.importorskip("tqdm")
    zv.build(spec(n=21, nk=4, pipeline=False))  # stderr is no terminal here: no bar
    assert capsys.readouterr().err == ""
    zv.build(spec(n=21, nk=4, pipeline=False), progress=True)
    shown = capsys.readouterr().err
    assert "build: 100%" in shown, shown
    with pytest.raises(
        TypeError, match="progress must be None, True, False or a callable, not str"
    ):
        zv.build(spec(n=21, nk=4, pipeline=False), progress="yes")
    monkeypatch.setitem(sys.modules, "tqdm", None)
    monkeypatch.setitem(sys.modules, "tqdm.auto", None)
    with pytest.raises(ImportError, match=r"pip install zorvastatic\[progress\]"):
        zv.build(spec(n=21, nk=4, pipeline=False), progress=True)


def test_a_terminal_gets_a_bar_without_asking():
    pytest.importorskip("tqdm")
    script = (
        "import sys; sys.path.insert(0, sys.argv[1]); import test_progress as t, zorvastatic as zv;"
        # No delay before the bar: a quick build would otherwise end before it shows.
        "import zorvastatic._progress as p; p._BAR_DELAY_S = 0.0;"
        "zv.build(t.spec(n=121, nk=30))"
    )
    status, shown = stderr_on_a_terminal(
        [sys.executable, "-c", script, os.path.dirname(__file__)], timeout=120
    )
    assert status == 0, shown
    assert b"build: 100%" in shown and b"simulating layers" in shown, shown
