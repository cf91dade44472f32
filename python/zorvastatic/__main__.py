"""Command line: ``python -m zorvastatic ensemble SPEC.py --n 200 --out volumes.parquet``.

SPEC.py defines ``make_spec(row, seed)`` and ``distributions`` (as `zorvastatic.ensemble.sample`
takes them), and may define ``fluids`` (a Fluids, a dict of them per zone, or a function of
the row) and ``seed`` (the ensemble's seed; ``--seed`` wins).
"""

from __future__ import annotations

import argparse
import importlib.util
import sys
from pathlib import Path
from types import ModuleType
from typing import Any

__all__ = ["main"]


def _load_spec_module(path: Path) -> ModuleType:
    """Runs SPEC.py as a module the workers receive by value (they cannot import it)."""
    if not path.is_file():
        raise SystemExit(f"zorvastatic ensemble: no such file: {path}")
    name = f"zorvastatic_ensemble_spec_{abs(hash(str(path.resolve()))):x}"
    loader_spec = importlib.util.spec_from_file_location(name, path)
    if loader_spec is None or loader_spec.loader is None:
        raise SystemExit(f"zorvastatic ensemble: cannot load {path} as Python")
    module = importlib.util.module_from_spec(loader_spec)
    sys.modules[name] = module  # dataclasses and pickling look modules up here
    loader_spec.loader.exec_module(module)
    try:
        import cloudpickle
    except ImportError:
        pass
    else:
        cloudpickle.register_pickle_by_value(module)
    for needed in ("make_spec", "distributions"):
        if not hasattr(module, needed):
            raise SystemExit(f"zorvastatic ensemble: {path} must define {needed}")
    return module


def _output_path(out: Path) -> Path:
    """Where the table will go, checked before any realisation runs: Parquet without pyarrow
    falls back to CSV beside it, and says so."""
    suffix = out.suffix.lower()
    if suffix not in (".parquet", ".csv"):
        raise SystemExit(f"zorvastatic ensemble: --out must end in .parquet or .csv, got {out}")
    if not out.parent.is_dir():
        raise SystemExit(f"zorvastatic ensemble: no such directory for --out: {out.parent}")
    if suffix == ".parquet":
        try:
            import pyarrow  # noqa: F401
        except ImportError:
            csv = out.with_suffix(".csv")
            print(
                f"zorvastatic ensemble: pyarrow is not installed, so {out} cannot be written as "
                f"Parquet; writing CSV to {csv} instead (pip install pyarrow for Parquet)",
                file=sys.stderr,
            )
            return csv
    return out


def _write(table: Any, out: Path) -> None:
    if out.suffix.lower() == ".parquet":
        table.to_parquet(out, index=False)
    else:
        table.to_csv(out, index=False)


def _check_summary(column: str, by: list[str], parameters: Any) -> None:
    """Refuses a summary the table cannot give, before any realisation runs."""
    from ._volumetrics import COLUMNS

    if column not in COLUMNS[3:]:
        raise SystemExit(
            f"zorvastatic ensemble: --stats must be one of {', '.join(COLUMNS[3:])}, got {column}"
        )
    labels = {*COLUMNS[:3], *parameters}
    unknown = [key for key in by if key not in labels]
    if unknown:
        raise SystemExit(
            f"zorvastatic ensemble: --by must name ZONE, REGION, FLUID or parameters, got "
            f"{', '.join(unknown)}"
        )


def _ensemble(arguments: argparse.Namespace) -> int:
    from . import ensemble

    out = _output_path(Path(arguments.out))
    module = _load_spec_module(Path(arguments.spec))
    seed = arguments.seed if arguments.seed is not None else getattr(module, "seed", 0)
    parameters = ensemble.sample(module.distributions, arguments.n, seed)
    _check_summary(arguments.stats, arguments.by, parameters.columns)
    client = None
    if arguments.scheduler:
        from distributed import Client

        client = Client(arguments.scheduler, set_as_default=False)
    try:
        result = ensemble.run_ensemble(
            module.make_spec,
            parameters,
            fluids=getattr(module, "fluids", None),
            client=client,
            n_workers=arguments.workers,
            memory_limit=arguments.memory_limit,
            engine_threads=arguments.engine_threads,
            keep_going=not arguments.stop_on_failure,
            progress=False if arguments.no_progress else None,
            seed=seed,
        )
    finally:
        if client is not None:
            client.close()
    _write(result.table, out)
    done = len(parameters) - len(result.failures)
    print(f"{done} of {len(parameters)} realisations written to {out}")
    if done:
        import pandas

        with pandas.option_context("display.width", 120, "display.float_format", "{:.6g}".format):
            print(result.stats(arguments.stats, by=arguments.by or None).to_string(index=False))
    for row in result.failures.itertuples(index=False):
        print(f"realisation {row.REAL} failed: {row.ERROR}: {row.MESSAGE}", file=sys.stderr)
    return 1 if len(result.failures) else 0


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python -m zorvastatic")
    commands = parser.add_subparsers(dest="command", required=True)
    run = commands.add_parser(
        "ensemble",
        help="run realisations of a model on a dask cluster and write their volumes",
        description=(
            "Samples the parameters SPEC.py describes, builds every realisation on a dask "
            "cluster and writes the volumes table (REAL, parameters, ZONE, REGION, FLUID, "
            "volumes, SPILLED, SECONDS). Prints P90/P50/P10 of --stats per --by group. Exit "
            "status 1 when a realisation failed (the others are written)."
        ),
    )
    run.add_argument("spec", help="Python file defining make_spec(row, seed) and distributions")
    run.add_argument("--n", type=int, required=True, help="number of realisations")
    run.add_argument("--out", required=True, help="output table: .parquet or .csv")
    run.add_argument("--seed", type=int, default=None, help="ensemble seed (default: SPEC's)")
    run.add_argument("--workers", type=int, default=None, help="local worker processes")
    run.add_argument("--memory-limit", default="auto", help="per worker, e.g. 6GiB")
    run.add_argument("--engine-threads", type=int, default=1, help="engine threads per worker")
    run.add_argument("--scheduler", default=None, help="address of an existing dask scheduler")
    run.add_argument("--stats", default="STOIIP", help="volume column summarised at the end")
    run.add_argument("--by", nargs="*", default=["ZONE"], help="groups of the summary")
    run.add_argument("--stop-on-failure", action="store_true", help="stop at the first failure")
    run.add_argument("--no-progress", action="store_true", help="no progress bar")
    return parser


def main(argv: list[str] | None = None) -> int:
    """Runs the command line; returns the exit status.

    Examples
    --------
    >>> main(["ensemble", "--help"])  # doctest: +ELLIPSIS
    Traceback (most recent call last):
    ...
    SystemExit: 0
    """
    arguments = _parser().parse_args(argv)
    if arguments.n < 0:
        raise SystemExit("zorvastatic ensemble: --n must be >= 0")
    return _ensemble(arguments)


if __name__ == "__main__":
    sys.exit(main())
