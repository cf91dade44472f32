"""Realisations the ensemble tests run on workers: a two-zone model of 40 x 40 x 20 cells on
dipping planar horizons, contacts from the row, porosity simulated from three wells with the
realisation's seed. Top-level functions, so the workers import them by name."""

import dataclasses
import os

import numpy as np

import zorvastatic as zv

N = 40  # cells along i and j
NK = 20  # layers, half in each zone
LAT = zv.Lattice(ncol=N + 1, nrow=N + 1, xori=455_000.0, yori=6_780_000.0, xinc=50.0, yinc=50.0)
NODE_I, NODE_J = np.meshgrid(np.arange(N + 1), np.arange(N + 1), indexing="ij")
LOGS = [
    zv.WellLog(name, *LAT.node_xy(i + 0.5, j + 0.5), depth, poro)
    for name, i, j, depth, poro in (
        ("W1", 5, 7, np.linspace(1990.0, 2060.0, 141), np.linspace(0.30, 0.12, 141)),
        ("W2", 30, 12, np.linspace(1990.0, 2060.0, 141), np.linspace(0.26, 0.16, 141)),
        ("W3", 18, 33, np.linspace(1990.0, 2060.0, 141), np.full(141, 0.21)),
    )
]
VARIOGRAM = zv.Variogram("spherical", major=900.0, minor=500.0, azimuth=30.0)
DISTRIBUTIONS = {
    "OWC_A": ("uniform", 2012.0, 2024.0),
    "OWC_B": ("triangular", 2036.0, 2040.0, 2046.0),
    "SW": ("normal", 0.3, 0.03),
    "THICK_A": ("discrete", [18.0, 22.0]),
}


def spec_for(row, seed):
    """The realisation's two-zone spec."""
    plane = 0.15 * NODE_I + 0.1 * NODE_J
    horizons = [
        zv.Horizon("TopA", zv.Surface(LAT, 2000.0 + plane)),
        zv.Horizon("TopB", zv.Surface(LAT, 2000.0 + row.THICK_A + plane)),
        zv.Horizon("BaseB", zv.Surface(LAT, 2050.0 + plane)),
    ]
    zones = [
        zv.Zone("A", zv.Proportional(NK // 2), zv.Contacts(owc=row.OWC_A)),
        zv.Zone("B", zv.Proportional(NK - NK // 2), zv.Contacts(owc=row.OWC_B)),
    ]
    return zv.ModelSpec(
        LAT,
        horizons,
        zones,
        priors=zv.Priors(porosity=0.2, net_to_gross=0.8, water_saturation=row.SW),
        pipelines=[zv.Pipeline("PORO", LOGS, variogram=VARIOGRAM, seed=seed)],
    )


def make_single_zone(row, seed):
    """Zone A alone, THICK_A metres thick: a negative THICK_A puts its base above its top."""
    spec = spec_for(row, seed)
    top = spec.horizons[0]
    base = zv.Horizon("BaseA", zv.Surface(LAT, top.surface.values + row.THICK_A))
    zone = zv.Zone("A", zv.Proportional(NK), zv.Contacts(owc=row.OWC_A))
    return dataclasses.replace(spec, horizons=[top, base], zones=[zone])


def make_spec(row, seed):
    return spec_for(row, seed)


def make_spec_or_die(row, seed):
    """Kills the worker process running a row whose DIE is set."""
    if row.DIE:
        os._exit(3)
    return spec_for(row, seed)


def make_large_single_zone(row, seed):
    """One zone of n x n x nk cells (no pipeline), its size from the row."""
    lattice = zv.Lattice(ncol=row.N + 1, nrow=row.N + 1, xinc=10.0, yinc=10.0)
    flat = np.zeros((row.N + 1, row.N + 1))
    return zv.ModelSpec(
        lattice,
        [
            zv.Horizon("T", zv.Surface(lattice, flat + 2000.0)),
            zv.Horizon("B", zv.Surface(lattice, flat + 2040.0)),
        ],
        [zv.Zone("Z", zv.Proportional(row.NK), zv.Contacts(owc=2030.0))],
        options=zv.BuildOptions(keep_store=True),  # the store stays where the build put it
    )


def serial_table(make, parameters, fluids):
    """The plain loop the ensemble must reproduce: build, table, next."""
    import pandas as pd

    parts = []
    for record in parameters.to_dict(orient="records"):
        row = zv.ensemble.Row(record)
        with zv.build(make(row, row.SEED), progress=False) as model:
            table = pd.DataFrame(model.volumetrics(fluids=fluids, as_frame=False))
        table.insert(0, "REAL", record["REAL"])
        parts.append(table)
    return pd.concat(parts, ignore_index=True)
