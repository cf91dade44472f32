"""Ensembles on a real dask LocalCluster of worker processes (and on real executors): the same
table as a plain loop, prefix-stable seeds, failures and dead workers as rows, spilled
realisations, P-values, the command line."""

import concurrent.futures
import os
import subprocess
import sys
import textwrap
import threading
import time
from multiprocessing import get_context

import numpy as np
import pytest

import zorvastatic as zv

pd = pytest.importorskip("pandas")
distributed = pytest.importorskip("distributed")
dask = pytest.importorskip("dask")

import ensemble_models as em  # noqa: E402
from terminal import stderr_on_a_terminal  # noqa: E402

FLUIDS = zv.Fluids(bo=1.2, bg=0.005)
VOLUME_COLUMNS = ["REAL", *zv._volumetrics.COLUMNS]
WORKER_MEMORY = 2**30


@pytest.fixture(scope="module")
def client():
    # As run_ensemble's own cluster, but a worker's death fails its realisation at once.
    config = {"distributed.scheduler.allowed-failures": 0}
    with dask.config.set(config):
        cluster = distributed.LocalCluster(
            n_workers=2,
            threads_per_worker=1,
            processes=True,
            memory_limit=WORKER_MEMORY,
            dashboard_address=":0",
            silence_logs=40,
        )
    with cluster, distributed.Client(cluster, set_as_default=False) as c:
        yield c


def run(client, make_spec, parameters, **options):
    return zv.run_ensemble(make_spec, parameters, fluids=FLUIDS, client=client, **options)


def volumes(table):
    return table[VOLUME_COLUMNS].sort_values(["REAL", "ZONE", "FLUID"]).reset_index(drop=True)


def test_the_cluster_gives_the_serial_loop_bit_for_bit_and_growing_keeps_the_first(client):
    eight = zv.ensemble.sample(em.DISTRIBUTIONS, n=8, seed=2026)
    four = zv.ensemble.sample(em.DISTRIBUTIONS, n=4, seed=2026)
    pd.testing.assert_frame_equal(four, eight.head(4), check_exact=True)

    ens = run(client, em.make_spec, eight)
    assert ens.failures.empty
    serial = em.serial_table(em.make_spec, eight, FLUIDS)
    pd.testing.assert_frame_equal(volumes(ens.table), volumes(serial), check_exact=True)
    # every realisation differs (contacts, saturation and the simulation's seed)
    per_real = ens.table.groupby("REAL")["STOIIP"].sum()
    assert per_real.nunique() == 8
    # parameters ride along each row of their realisation
    merged = ens.table.merge(eight, on="REAL", suffixes=("", "_given"))
    for name in [*em.DISTRIBUTIONS, "SEED"]:
        assert (merged[name] == merged[f"{name}_given"]).all()
    assert not ens.table.SPILLED.any() and (ens.table.SECONDS > 0).all()

    assert set(client.run(zv.get_num_threads).values()) == {1}  # the cap stays with the worker

    # grown from 4, with two engine threads per worker: the same first four, to the bit
    grown = run(client, em.make_spec, four, engine_threads=2)
    assert set(client.run(zv.get_num_threads).values()) == {2}
    pd.testing.assert_frame_equal(
        volumes(grown.table), volumes(ens.table[ens.table.REAL < 4]), check_exact=True
    )


def with_column(parameters, name, values):
    copy = parameters.copy()
    copy[name] = values
    return copy


def test_crossing_surfaces_fail_one_realisation_while_the_others_finish(client):
    parameters = zv.ensemble.sample(em.DISTRIBUTIONS, n=4, seed=5)
    parameters.loc[2, "THICK_A"] = -5.0  # the zone's base 5 m above its top
    ens = run(client, em.make_single_zone, parameters)
    assert ens.failures.REAL.tolist() == [2]
    failure = ens.failures.iloc[0]
    row = zv.ensemble.Row(parameters.to_dict(orient="records")[2])
    with pytest.raises(zv.CrossedSurfacesError) as here:
        zv.build(em.make_single_zone(row, row.SEED))
    assert (failure.ERROR, failure.MESSAGE) == ("CrossedSurfacesError", str(here.value))
    assert "CrossedSurfacesError" in failure.TRACEBACK
    assert sorted(ens.table.REAL.unique()) == [0, 1, 3]
    assert ens.stats("STOIIP").COUNT.tolist() == [3, 3]  # zone A and the total

    with pytest.raises(zv.CrossedSurfacesError):
        run(client, em.make_single_zone, parameters, keep_going=False)


def test_a_worker_killed_during_a_task_becomes_a_failure_row(client):
    parameters = with_column(zv.ensemble.sample(em.DISTRIBUTIONS, n=4, seed=9), "DIE", 0)
    parameters.loc[1, "DIE"] = 1
    before = set(worker_pids(client))
    ens = run(client, em.make_spec_or_die, parameters)
    assert ens.failures.REAL.tolist() == [1]
    assert ens.failures.ERROR.tolist() == ["KilledWorker"]
    assert sorted(ens.table.REAL.unique()) == [0, 2, 3]
    # the nanny starts a new worker in its place
    deadline = time.monotonic() + 60
    while not (len(now := worker_pids(client)) == 2 and set(now) != before):
        assert time.monotonic() < deadline
        time.sleep(0.1)


def worker_pids(client):
    return sorted(client.run(os.getpid).values())


def test_a_realisation_above_half_the_worker_memory_spills_and_finishes(client):
    # 360 x 360 x 50 cells hold 88 bytes each in memory (eight corner depths and three
    # cubes): 0.53 GiB, above half the 1 GiB worker.
    parameters = pd.DataFrame({"N": [360, 10], "NK": [50, 5]})
    assert 360 * 360 * 50 * 88 > WORKER_MEMORY / 2
    before = worker_pids(client)
    ens = run(client, em.make_large_single_zone, parameters)
    assert ens.failures.empty
    spilled = ens.table.groupby("REAL").SPILLED.first()
    assert spilled.tolist() == [True, False]
    bulk = ens.table[ens.table.REAL == 0].BULK.sum()
    assert bulk == pytest.approx(360 * 360 * 100.0 * 40.0, rel=1e-6)
    assert worker_pids(client) == before  # no worker was restarted
    # the store went to the local directory of the worker that built it
    stores = client.run(
        lambda dask_worker: [
            os.path.join(dask_worker.local_directory, name)
            for name in os.listdir(dask_worker.local_directory)
            if name.endswith(".zts")
        ]
    )
    found = [path for paths in stores.values() for path in paths]
    sizes = [os.path.getsize(path) for path in found]
    for path in found:
        os.remove(path)
    assert len(found) == 1 and sizes[0] > 360 * 360 * 50 * 4 * 3  # three float32 cubes at least


@pytest.mark.parametrize("threads", [1, 2])
def test_a_process_pool_takes_its_budget_from_memory_limit(threads):
    parameters = zv.ensemble.sample(em.DISTRIBUTIONS, n=3, seed=1)
    in_memory = em.serial_table(em.make_spec, parameters, FLUIDS)
    # spawned, not forked: a fork of this process would inherit the engine's pool half made
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=get_context("spawn")) as pool:
        ens = zv.run_ensemble(
            em.make_spec,
            parameters,
            fluids=FLUIDS,
            executor=pool,
            memory_limit="4MiB",
            engine_threads=threads,
        )
    # 32000 cells are far above a 2 MiB budget: every realisation went to a store, whose
    # single-precision cubes change the sums only in their last digits.
    assert ens.table.SPILLED.all()
    got, want = volumes(ens.table), volumes(in_memory)
    pd.testing.assert_frame_equal(got, want, check_exact=False, rtol=1e-6)


def flat_make_spec(row, seed):
    """Two flat zones of 10 x 10 cells, 5 one-metre layers each; OWC_A in the first."""
    lat = zv.Lattice(ncol=11, nrow=11, xinc=10.0, yinc=10.0)
    flat = np.zeros((11, 11))
    horizons = [
        zv.Horizon(name, zv.Surface(lat, flat + depth))
        for name, depth in (("T", 2000.0), ("M", 2005.0), ("B", 2010.0))
    ]
    zones = [
        zv.Zone("A", zv.Proportional(5), zv.Contacts(owc=row.OWC_A)),
        zv.Zone("B", zv.Proportional(5), zv.Contacts(owc=2008.0)),
    ]
    priors = zv.Priors(porosity=0.25, net_to_gross=0.8, water_saturation=0.3)
    return zv.ModelSpec(lat, horizons, zones, priors=priors)


def test_stats_follow_the_exceedance_convention_with_zones_without_oil_as_zero():
    # Zone A's oil: the whole one-metre layers whose centre lies above OWC_A; with OWC_A
    # above the zone (realisations 0 and 1) the zone has no oil row at all.
    owc = [1990.0, 1999.0, 2001.2, 2002.7, 2003.1, 2004.9, 2020.0]
    layer_oil = 100 * 100 * 1.0 * 0.8 * 0.25 * 0.7 / 1.2
    zone_a = np.array([sum(2000.5 + k < c for k in range(5)) * layer_oil for c in owc])
    zone_b = np.full(len(owc), 3 * layer_oil)
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        ens = zv.run_ensemble(
            flat_make_spec,
            {"OWC_A": owc},
            fluids=zv.Fluids(bo=1.2),
            executor=pool,
            progress=False,
        )
    stats = ens.stats("STOIIP", by="ZONE").set_index("ZONE")
    for zone, expected in (("A", zone_a), ("B", zone_b), ("TOTAL", zone_a + zone_b)):
        p90, p50, p10 = np.percentile(expected, [10, 50, 90])
        row = stats.loc[zone]
        np.testing.assert_allclose(
            [row.P90, row.P50, row.P10, row.MEAN, row.MIN, row.MAX],
            [p90, p50, p10, expected.mean(), expected.min(), expected.max()],
            rtol=1e-12,
        )
        assert row.STD == pytest.approx(np.std(expected, ddof=1), rel=1e-12, abs=1e-9)
        assert row.COUNT == len(owc)
        assert row.P90 <= row.P50 <= row.P10
    # HCPV is not defined on water rows: those groups count 0
    by_fluid = ens.stats("HCPV", by=["ZONE", "FLUID"])
    assert set(by_fluid.FLUID) == {"oil", "water", "TOTAL"}
    assert by_fluid.loc[by_fluid.FLUID == "water", "P50"].tolist() == [0.0, 0.0]
    assert ens.stats("BULK", by=None).P50.tolist() == [2 * 100 * 100 * 5.0]


def test_regions_split_each_realisation_and_add_up_to_its_total():
    west_east = np.repeat([[1], [2]], [4, 6], axis=0).repeat(10, axis=1)  # (ni, nj) columns
    options = dict(parameters={"OWC_A": [2001.2, 2003.1, 2004.9]}, fluids=zv.Fluids(bo=1.2))
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        split = zv.run_ensemble(
            flat_make_spec,
            regions=west_east,
            region_names={1: "West", 2: "East"},
            executor=pool,
            **options,
        )
        whole = zv.run_ensemble(flat_make_spec, executor=pool, **options)
    bulk = split.stats("BULK", by="REGION").set_index("REGION").P50.to_dict()
    assert bulk == pytest.approx({"West": 4e4, "East": 6e4, "TOTAL": 1e5}, rel=1e-12)
    split_stoiip = split.stats("STOIIP", by="REGION").set_index("REGION")
    whole_stoiip = whole.stats("STOIIP", by=None).iloc[0]
    for name in ("P90", "P50", "P10", "MEAN", "MIN", "MAX"):
        assert split_stoiip.loc["TOTAL", name] == pytest.approx(whole_stoiip[name], rel=1e-12)


class LockedError(Exception):
    """An exception that cannot be pickled: it holds a lock."""

    def __init__(self, message):
        super().__init__(message)
        self.lock = threading.Lock()


def flat_or_locked_error(row, seed):
    if row.REAL == 0:
        return flat_make_spec(row, seed)
    raise LockedError(f"no spec for {row.REAL}")


def test_an_exception_that_cannot_travel_is_still_reported():
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        options = dict(executor=pool, progress=False)
        ens = zv.run_ensemble(flat_or_locked_error, {"OWC_A": [2003.0, 2004.0]}, **options)
        assert ens.failures[["REAL", "ERROR", "MESSAGE"]].values.tolist() == [
            [1, "LockedError", "no spec for 1"]
        ]
        with pytest.raises(
            zv.ensemble.RealisationError, match="^realisation 1 failed: LockedError: no spec for 1$"
        ):
            zv.run_ensemble(
                flat_or_locked_error, {"OWC_A": [2003.0, 2004.0]}, keep_going=False, **options
            )


def make_spec_holding_a_lock():
    lock = threading.Lock()

    def make_spec(row, seed):  # not importable by the workers: travels by value, lock too
        with lock:
            return em.make_spec(row, seed)

    return make_spec


def no_spec(row, seed):
    return "not a spec"


@pytest.mark.parametrize(
    ("make_spec", "parameters", "options", "error", "message"),
    [
        (no_spec, {"X": [1]}, {}, TypeError, "make_spec must return a ModelSpec, got str"),
        (
            em.make_spec,
            {"OWC_A": [2010.0], "SW": [0.3], "THICK_A": [20.0]},
            {},
            KeyError,
            "realisation 0 has no parameter 'OWC_B'; it has OWC_A, SW, THICK_A",
        ),
        (
            make_spec_holding_a_lock(),
            dict(zip(em.DISTRIBUTIONS, [[2010.0], [2040.0], [0.3], [20.0]], strict=True)),
            {},
            TypeError,
            "make_spec cannot be sent to the workers",
        ),
        (em.make_spec, {"X": [1]}, {"executor": "pool"}, ValueError, "not both"),
        (em.make_spec, {"REAL": [1, 1]}, {}, ValueError, "REAL must hold distinct integers"),
    ],
)
def test_what_fails_before_anything_is_submitted(
    client, make_spec, parameters, options, error, message
):
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        if options.get("executor") == "pool":
            options = {"executor": pool}
        with pytest.raises(error, match=message):
            zv.run_ensemble(make_spec, parameters, client=client, **options)


def test_progress_reports_each_realisation_and_stays_off_without_a_terminal(client, capsys):
    parameters = zv.ensemble.sample(em.DISTRIBUTIONS, n=3, seed=3)
    seen = []
    run(client, em.make_spec, parameters, progress=seen.append)
    assert [(p.done, p.total) for p in seen] == [(1, 3), (2, 3), (3, 3)]
    assert [p.fraction for p in seen] == pytest.approx([1 / 3, 2 / 3, 1.0])
    assert seen[-1].stage == "done"
    run(client, em.make_spec, parameters)  # stderr is no terminal here: no bar
    assert capsys.readouterr().err == ""


DISTRIBUTION_CASES = {
    "uniform": (("uniform", 2.0, 5.0), 3.5, np.sqrt(9 / 12), (2.0, 5.0)),
    "normal": (("normal", 1.25, 0.03), 1.25, 0.03, (-np.inf, np.inf)),
    "triangular": (
        ("triangular", 1.0, 2.0, 6.0),
        3.0,
        np.sqrt((1 + 4 + 36 - 2 - 6 - 12) / 18),
        (1.0, 6.0),
    ),
    "discrete": (("discrete", [1.0, 3.0], [3, 1]), 1.5, np.sqrt(0.75), (1.0, 3.0)),
}


@pytest.mark.parametrize("kind", DISTRIBUTION_CASES)
def test_sample_draws_each_distribution(kind):
    distribution, mean, std, (low, high) = DISTRIBUTION_CASES[kind]
    values = zv.ensemble.sample({"X": distribution}, n=4000, seed=42).X.to_numpy()
    assert values.min() >= low and values.max() <= high
    # four standard errors of the mean; the standard deviation within 6 %
    assert abs(values.mean() - mean) < 4 * std / np.sqrt(values.size)
    assert values.std(ddof=1) == pytest.approx(std, rel=0.06)


def test_sample_keeps_each_parameter_s_draws_whatever_the_others():
    one = zv.ensemble.sample({"A": ("uniform", 0.0, 1.0)}, n=50, seed=7)
    two = zv.ensemble.sample({"B": ("normal", 0.0, 1.0), "A": ("uniform", 0.0, 1.0)}, 50, 7)
    assert one.A.equals(two.A) and one.SEED.equals(two.SEED)
    other_seed = zv.ensemble.sample({"A": ("uniform", 0.0, 1.0)}, n=50, seed=8)
    assert not one.A.equals(other_seed.A) and not one.SEED.equals(other_seed.SEED)
    assert one.SEED.nunique() == 50 and (one.SEED >= 0).all() and (one.SEED < 2**63).all()
    assert (zv.ensemble.sample({"K": 7}, 3, 0).K == 7).all()


@pytest.mark.parametrize(
    ("distributions", "n", "message"),
    [
        ({"X": ("gamma", 1.0, 2.0)}, 3, "kind must be 'uniform', 'normal'"),
        ({"X": ("uniform", 1.0)}, 3, "uniform takes 2 numbers, got 1"),
        ({"X": ("uniform", 2.0, 1.0)}, 3, "uniform needs low <= high"),
        ({"X": ("normal", 1.0, float("nan"))}, 3, "must be finite"),
        ({"X": ("triangular", 1.0, 5.0, 3.0)}, 3, "low <= mode <= high"),
        ({"X": ("discrete", [1, 2], [1.0])}, 3, "2 discrete values but 1 weights"),
        ({"X": ("discrete", [1, 2], [0.0, 0.0])}, 3, "positive sum"),
        ({"SEED": ("uniform", 0.0, 1.0)}, 3, "'SEED' is a column of the table"),
        ({"X": ("uniform", 0.0, 1.0)}, -1, "n must be an integer >= 0"),
    ],
)
def test_sample_refuses(distributions, n, message):
    with pytest.raises(ValueError, match=message):
        zv.ensemble.sample(distributions, n=n, seed=1)


SPEC_FILE = """
    import sys
    sys.path.insert(0, {tests!r})
    import ensemble_models
    import zorvastatic as zv
    from ensemble_models import DISTRIBUTIONS as distributions

    fluids = zv.Fluids(bo=1.2)
    seed = 2026

    def make_spec(row, seed):  # the workers cannot import this file: it travels by value
        return ensemble_models.make_spec(row, seed)
"""


@pytest.mark.parametrize("suffix", ["parquet", "csv"])
def test_the_command_line_writes_the_table_and_prints_the_p_values(client, tmp_path, suffix):
    spec = tmp_path / "spec.py"
    spec.write_text(textwrap.dedent(SPEC_FILE.format(tests=os.path.dirname(__file__))))
    out = tmp_path / f"volumes.{suffix}"
    done = subprocess.run(
        [
            sys.executable,
            "-m",
            "zorvastatic",
            "ensemble",
            str(spec),
            "--n",
            "4",
            "--out",
            str(out),
            "--scheduler",
            client.cluster.scheduler_address,
        ],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert done.returncode == 0, done.stderr
    table = pd.read_parquet(out) if suffix == "parquet" else pd.read_csv(out)
    parameters = zv.ensemble.sample(em.DISTRIBUTIONS, n=4, seed=2026)
    expected = zv.run_ensemble(
        em.make_spec, parameters, fluids=zv.Fluids(bo=1.2), client=client
    ).table
    assert table.REAL.tolist() == expected.REAL.tolist()
    np.testing.assert_allclose(
        table.STOIIP, expected.STOIIP, rtol=0 if suffix == "parquet" else 1e-15
    )
    lines = done.stdout.splitlines()
    assert lines[0] == f"4 of 4 realisations written to {out}"
    assert lines[1].split() == ["ZONE", "P90", "P50", "P10", "MEAN", "STD", "MIN", "MAX", "COUNT"]
    assert [line.split()[0] for line in lines[2:]] == ["A", "B", "TOTAL"]


def test_the_command_line_fails_when_a_realisation_failed(client, tmp_path):
    spec = tmp_path / "spec.py"
    spec.write_text(
        textwrap.dedent(SPEC_FILE.format(tests=os.path.dirname(__file__)))
        + "from ensemble_models import make_single_zone as make_spec\n"
        + "distributions = dict(distributions, THICK_A=('discrete', [20.0, -5.0]))\n"
    )
    out = tmp_path / "volumes.csv"
    done = subprocess.run(
        [
            sys.executable,
            "-m",
            "zorvastatic",
            "ensemble",
            str(spec),
            "--n",
            "6",
            "--out",
            str(out),
            "--scheduler",
            client.cluster.scheduler_address,
            "--seed",
            "1",
        ],
        capture_output=True,
        text=True,
        timeout=300,
    )
    failed = (
        zv.ensemble.sample(dict(em.DISTRIBUTIONS, THICK_A=("discrete", [20.0, -5.0])), n=6, seed=1)
        .query("THICK_A < 0")
        .REAL.tolist()
    )
    assert failed and done.returncode == 1
    assert sorted(set(range(6)) - set(pd.read_csv(out).REAL)) == failed
    assert [line.split()[1] for line in done.stderr.splitlines() if "failed" in line] == [
        str(real) for real in failed
    ]


def test_without_pyarrow_the_command_line_writes_csv_and_says_so(client, tmp_path):
    spec = tmp_path / "spec.py"
    spec.write_text(textwrap.dedent(SPEC_FILE.format(tests=os.path.dirname(__file__))))
    arguments = ["ensemble", str(spec), "--n", "2", "--out", str(tmp_path / "v.parquet")]
    arguments += ["--scheduler", client.cluster.scheduler_address]
    # a process where pyarrow cannot be imported, from its start (pandas uses it when present)
    script = (
        "import sys; sys.modules['pyarrow'] = None\n"
        "from zorvastatic.__main__ import main\n"
        f"sys.exit(main({arguments!r}))\n"
    )
    done = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, timeout=300
    )
    assert done.returncode == 0, done.stderr
    assert "pyarrow is not installed" in done.stderr and "writing CSV to" in done.stderr
    assert not (tmp_path / "v.parquet").exists()
    assert pd.read_csv(tmp_path / "v.csv").REAL.unique().tolist() == [0, 1]


@pytest.mark.parametrize(
    ("out", "spec_text", "message"),
    [
        ("v.xlsx", "", "--out must end in .parquet or .csv"),
        ("missing/v.csv", "", "no such directory for --out"),
        ("v.csv", "distributions = dict()\n", "must define make_spec"),
        ("v.csv --stats OIL", SPEC_FILE, "--stats must be one of BULK, NET, PORV"),
        ("v.csv --by ZONE FACIES", SPEC_FILE, "--by must name ZONE, REGION, FLUID or param"),
    ],
)
def test_the_command_line_refuses_before_running(tmp_path, out, spec_text, message):
    from zorvastatic.__main__ import main

    spec = tmp_path / "spec.py"
    spec.write_text(textwrap.dedent(spec_text.format(tests=os.path.dirname(__file__))))
    out, *options = out.split()
    with pytest.raises(SystemExit, match=message):
        main(["ensemble", str(spec), "--n", "2", "--out", str(tmp_path / out), *options])


def test_a_terminal_gets_a_bar_of_realisations(client, tmp_path):
    spec = tmp_path / "spec.py"
    spec.write_text(textwrap.dedent(SPEC_FILE.format(tests=os.path.dirname(__file__))))
    status, shown = stderr_on_a_terminal(
        [
            sys.executable,
            "-m",
            "zorvastatic",
            "ensemble",
            str(spec),
            "--n",
            "3",
            "--out",
            str(tmp_path / "v.csv"),
            "--scheduler",
            client.cluster.scheduler_address,
        ],
        timeout=300,
    )
    assert status == 0, shown
    assert b"realisations: 100%" in shown and b"3/3" in shown, shown
