"""Ensemble scaling: n realisations of the 100 x 100 x 40 two-zone model with one simulated
porosity (examples/ensemble_spec.py), as a plain loop in this process and through run_ensemble
on a LocalCluster of 1 and of 2 single-threaded worker processes, the engine at one thread
everywhere.

Reports the wall time of each, the speed-up of 2 workers over 1, the ensemble machinery's
overhead per realisation against the plain loop (1 worker; wall time with the cluster start
excluded and included, and CPU time of every process involved), the peak resident memory of
each worker process, and the load average. The loop and each worker build one realisation
before the timing starts.

    python3 bench/ensemble_scale.py [n]          (default n=32)
"""

import importlib.util
import os
import pathlib
import resource
import sys
import time


def load_example():
    path = pathlib.Path(__file__).parents[1] / "examples" / "ensemble_spec.py"
    spec = importlib.util.spec_from_file_location("ensemble_spec", path)
    module = importlib.util.module_from_spec(spec)
    sys.modules["ensemble_spec"] = module
    spec.loader.exec_module(module)
    import cloudpickle

    cloudpickle.register_pickle_by_value(module)  # the workers cannot import it
    return module


def peak_rss_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def cpu_seconds():
    """CPU time of this process and every process under it (nannies, workers) so far."""
    import psutil

    me = psutil.Process()
    total = sum(me.cpu_times()[:2])
    for child in me.children(recursive=True):
        try:
            total += sum(child.cpu_times()[:2])
        except psutil.NoSuchProcess:
            pass
    return total


def plain_loop(example, parameters):
    """Wall and CPU seconds of the realisations built one after the other here."""
    import zorvastatic as zv

    start, cpu = time.perf_counter(), time.process_time()
    for record in parameters.to_dict(orient="records"):
        row = zv.ensemble.Row(record)
        with zv.build(example.make_spec(row, row.SEED), progress=False) as model:
            model.volumetrics(fluids=example.fluids(row), as_frame=False)
    return time.perf_counter() - start, time.process_time() - cpu


def on_cluster(example, parameters, workers):
    import dask
    import distributed

    import zorvastatic as zv
    from zorvastatic._ensemble_runner import CLUSTER_CONFIG

    start = time.perf_counter()
    with dask.config.set(CLUSTER_CONFIG):  # as run_ensemble makes its own
        cluster = distributed.LocalCluster(
            n_workers=workers,
            threads_per_worker=1,
            processes=True,
            memory_limit="4GiB",
            dashboard_address=":0",
            silence_logs=40,
        )
    client = distributed.Client(cluster, set_as_default=False)
    started = time.perf_counter() - start
    try:
        # Each worker's first realisation out of the way, as for the plain loop.
        options = dict(fluids=example.fluids, client=client, engine_threads=1, progress=False)
        zv.run_ensemble(example.make_spec, parameters.head(workers), **options)
        run_start, cpu = time.perf_counter(), cpu_seconds()
        ensemble = zv.run_ensemble(example.make_spec, parameters, **options)
        run_s = time.perf_counter() - run_start
        cpu_s = cpu_seconds() - cpu
        peaks = sorted(client.run(peak_rss_mib).values())
    finally:
        client.close()
        cluster.close()
    assert ensemble.failures.empty, ensemble.failures
    task_s = ensemble.table.groupby("REAL").SECONDS.first().sum()
    return started, run_s, cpu_s, task_s, peaks, ensemble


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 32
    import zorvastatic as zv

    example = load_example()
    parameters = zv.ensemble.sample(example.distributions, n=n, seed=example.seed)
    print(f"{n} realisations of 100 x 100 x 40 cells, two zones, one SGS pipeline")
    print(f"load average before: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")

    zv.set_num_threads(1)
    plain_loop(example, parameters.head(1))  # first-call costs out of the way
    loops = [plain_loop(example, parameters)]
    print(f"plain loop (1 thread)      {loops[0][0]:7.2f} s   CPU {loops[0][1]:7.2f} s")

    results = {}
    for workers in (1, 2):
        started, run_s, cpu_s, task_s, peaks, ensemble = on_cluster(example, parameters, workers)
        results[workers] = (started, run_s, cpu_s, task_s)
        print(
            f"{workers} worker{'s' if workers > 1 else ' '} run_ensemble     {run_s:7.2f} s   "
            f"CPU {cpu_s:7.2f} s (all processes; + {started:.2f} s cluster start; "
            f"{task_s:.2f} s inside tasks); peak RSS per worker "
            f"{', '.join(f'{p:.0f}' for p in peaks)} MiB"
        )
    # The loop again: how far the machine's load drifted meanwhile.
    loops.append(plain_loop(example, parameters))
    print(f"plain loop again           {loops[1][0]:7.2f} s   CPU {loops[1][1]:7.2f} s")
    loop_s = sum(wall for wall, _ in loops) / 2
    loop_cpu = sum(cpu for _, cpu in loops) / 2
    print(f"speed-up 2 workers over 1  {results[1][1] / results[2][1]:.2f}x (wall)")
    started, run_s, cpu_s, task_s = results[1]
    overhead, outside = run_s - loop_s, run_s - task_s
    print(
        f"overhead vs plain loop     wall {overhead / n * 1000:+.1f} ms/realisation "
        f"({overhead / loop_s * 100:+.1f} %; {(overhead + started) / loop_s * 100:+.1f} % with "
        f"the cluster start); CPU {(cpu_s - loop_cpu) / n * 1000:+.1f} ms/realisation "
        f"({(cpu_s - loop_cpu) / loop_cpu * 100:+.1f} %); wall outside the tasks "
        f"{outside / n * 1000:.1f} ms/realisation ({outside / loop_s * 100:.1f} %)"
    )
    stoiip = ensemble.stats("STOIIP", by="ZONE")
    print(stoiip.to_string(index=False))
    print(f"load average after: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")


if __name__ == "__main__":
    main()
