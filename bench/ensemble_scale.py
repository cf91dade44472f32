"""Ensemble scaling: n realisations of the 100 x 100 x 40 two-zone model with one simulated
porosity (examples/ensemble_spec.py), as a plain loop in this process and through run_ensemble
on a LocalCluster of 1 and of 2 single-threaded worker processes, the engine at one thread
everywhere.

The three ways take turns over four rounds of n/4 realisations, so a shared machine's
changing load weighs on each alike; the loop and each worker build one realisation before the
timing starts. Reports the wall time of each, the speed-up of 2 workers over 1, the ensemble
machinery's overhead per realisation against the plain loop (1 worker; wall time with the
cluster start excluded and included, and CPU time of the processes involved), the peak
resident memory of each worker process, and the load average.

    python3 bench/ensemble_scale.py [n]          (default n=32)
"""

import importlib.util
import logging
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


def cpu_seconds(pids):
    """CPU time so far of this process and of the processes `pids`."""
    import psutil

    total = sum(psutil.Process().cpu_times()[:2])
    for pid in pids:
        try:
            total += sum(psutil.Process(pid).cpu_times()[:2])
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


class Cluster:
    """A LocalCluster as run_ensemble makes its own, kept for every round."""

    def __init__(self, example, workers):
        import dask
        import distributed
        import psutil

        from zorvastatic._ensemble_runner import CLUSTER_CONFIG

        self.example = example
        start = time.perf_counter()
        with dask.config.set(CLUSTER_CONFIG):
            self.cluster = distributed.LocalCluster(
                n_workers=workers,
                threads_per_worker=1,
                processes=True,
                memory_limit="4GiB",
                dashboard_address=":0",
                silence_logs=40,
            )
        self.client = distributed.Client(self.cluster, set_as_default=False)
        self.started = time.perf_counter() - start
        workers_pids = list(self.client.run(os.getpid).values())
        self.pids = workers_pids + [psutil.Process(pid).ppid() for pid in workers_pids]
        self.wall = self.cpu = self.inside = 0.0
        self.ensembles = []

    def run(self, parameters, timed=True):
        import zorvastatic as zv

        start, cpu = time.perf_counter(), cpu_seconds(self.pids)
        ensemble = zv.run_ensemble(
            self.example.make_spec,
            parameters,
            fluids=self.example.fluids,
            client=self.client,
            engine_threads=1,
            progress=False,
        )
        assert ensemble.failures.empty, ensemble.failures
        if timed:
            self.wall += time.perf_counter() - start
            self.cpu += cpu_seconds(self.pids) - cpu
            self.inside += ensemble.table.groupby("REAL").SECONDS.first().sum()
            self.ensembles.append(ensemble)

    def close(self):
        peaks = sorted(self.client.run(peak_rss_mib).values())
        self.client.close()
        self.cluster.close()
        return peaks


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 32
    rounds = 4
    import numpy as np
    import pandas as pd

    import zorvastatic as zv

    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    example = load_example()
    parameters = zv.ensemble.sample(example.distributions, n=n, seed=example.seed)
    print(f"{n} realisations of 100 x 100 x 40 cells, two zones, one SGS pipeline")
    print(f"load average before: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")

    zv.set_num_threads(1)
    plain_loop(example, parameters.head(1))  # first-call costs out of the way
    clusters = {workers: Cluster(example, workers) for workers in (1, 2)}
    for workers, cluster in clusters.items():
        cluster.run(parameters.head(workers), timed=False)  # each worker's first realisation
    # Interleaved rounds, so the load of a shared machine weighs on every way alike.
    loop_wall = loop_cpu = 0.0
    for chunk in np.array_split(np.arange(n), rounds):
        part = parameters.iloc[chunk]
        wall, cpu = plain_loop(example, part)
        loop_wall, loop_cpu = loop_wall + wall, loop_cpu + cpu
        for cluster in clusters.values():
            cluster.run(part)
    print(f"plain loop (1 thread)      {loop_wall:7.2f} s   CPU {loop_cpu:7.2f} s")
    for workers, cluster in clusters.items():
        peaks = cluster.close()
        print(
            f"{workers} worker{'s' if workers > 1 else ' '} run_ensemble     {cluster.wall:7.2f} s"
            f"   CPU {cluster.cpu:7.2f} s (this process, workers, nannies; + "
            f"{cluster.started:.2f} s cluster start; {cluster.inside:.2f} s inside tasks); "
            f"peak RSS per worker {', '.join(f'{p:.0f}' for p in peaks)} MiB"
        )
    one, two = clusters[1], clusters[2]
    print(f"speed-up 2 workers over 1  {one.wall / two.wall:.2f}x (wall)")
    overhead, outside = one.wall - loop_wall, one.wall - one.inside
    print(
        f"overhead vs plain loop     wall {overhead / n * 1000:+.1f} ms/realisation "
        f"({overhead / loop_wall * 100:+.1f} %; {(overhead + one.started) / loop_wall * 100:+.1f} "
        f"% with the cluster start); CPU {(one.cpu - loop_cpu) / n * 1000:+.1f} ms/realisation "
        f"({(one.cpu - loop_cpu) / loop_cpu * 100:+.1f} %); wall outside the tasks "
        f"{outside / n * 1000:.1f} ms/realisation ({outside / loop_wall * 100:.1f} %)"
    )
    ensemble = zv.ensemble.Ensemble(
        pd.concat([e.table for e in two.ensembles], ignore_index=True),
        two.ensembles[0].failures,
        two.ensembles[0].warnings,
        parameters,
    )
    print(ensemble.stats("STOIIP", by="ZONE").to_string(index=False))
    print(f"load average after: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")


if __name__ == "__main__":
    main()
