"""An ensemble over contacts, priors, a depth shift of the structure and the simulation's seed:
a two-zone model of 100 x 100 x 40 cells whose porosity is simulated from three wells.

From the shell, 200 realisations on two local workers, the table as Parquet and the STOIIP
P90/P50/P10 per zone on the screen:

    python -m zorvastatic ensemble examples/ensemble_spec.py --n 200 --workers 2 \\
        --out volumes.parquet

or from Python: ``python examples/ensemble_spec.py [n]``.
"""

import dataclasses
import sys

import numpy as np

import zorvastatic as zv

LAT = zv.Lattice(ncol=101, nrow=101, xori=456_000.0, yori=6_780_000.0, xinc=25.0, yinc=25.0)
_X, _Y = LAT.node_coordinates()
TOP = 1700.0 + 0.01 * (_X - 456_000.0) + 4.0 * np.sin((_Y - 6_780_000.0) / 400.0)
MID = TOP + 22.0 + 0.003 * (_Y - 6_780_000.0)
BASE = MID + 25.0


def _log(name, i, j, phi):
    depth = np.arange(1690.0, 1800.0, 0.5)
    x, y = LAT.node_xy(i + 0.5, j + 0.5)
    return zv.WellLog(name, x, y, depth, phi + 0.03 * np.sin(depth / 3.0))


BASE_SPEC = zv.ModelSpec(
    lattice=LAT,
    horizons=[
        zv.Horizon("TopA", zv.Surface(LAT, TOP)),
        zv.Horizon("TopB", zv.Surface(LAT, MID)),
        zv.Horizon("BaseB", zv.Surface(LAT, BASE)),
    ],
    zones=[
        zv.Zone("A", zv.Proportional(20), zv.Contacts(owc=1735.0)),
        zv.Zone("B", zv.Proportional(20), zv.Contacts(owc=1760.0)),
    ],
    pipelines=[
        zv.Pipeline(
            "PORO",
            [_log("A1", 20, 25, 0.24), _log("A2", 70, 40, 0.2), _log("A3", 45, 80, 0.22)],
            variogram=zv.Variogram("spherical", major=900.0, minor=450.0, azimuth=40.0),
        )
    ],
)

# Parameters, as zorvastatic.ensemble.sample takes them.
distributions = {
    "OWC_A": ("uniform", 1725.0, 1745.0),
    "OWC_B": ("triangular", 1750.0, 1758.0, 1770.0),
    "SHIFT": ("normal", 0.0, 3.0),  # metres the whole structure moves down
    "NTG": ("uniform", 0.7, 0.9),
    "SW": ("normal", 0.3, 0.03),
    "BO": ("triangular", 1.2, 1.25, 1.35),
}
seed = 2026


def make_spec(row, seed):
    """The ModelSpec of one realisation: the row's contacts, priors and shift, and the seed's
    porosity."""
    horizons = [
        dataclasses.replace(h, surface=zv.Surface(LAT, h.surface.values + row.SHIFT, h.name))
        for h in BASE_SPEC.horizons
    ]
    contacts = {"A": row.OWC_A, "B": row.OWC_B}
    zones = [
        dataclasses.replace(z, contacts=zv.Contacts(owc=contacts[z.name])) for z in BASE_SPEC.zones
    ]
    return dataclasses.replace(
        BASE_SPEC,
        horizons=horizons,
        zones=zones,
        priors=zv.Priors(porosity=0.2, net_to_gross=row.NTG, water_saturation=row.SW),
        pipelines=[dataclasses.replace(BASE_SPEC.pipelines[0], seed=seed)],
    )


def fluids(row):
    """Each realisation's oil formation volume factor."""
    return zv.Fluids(bo=row.BO)


if __name__ == "__main__":
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 16
    parameters = zv.ensemble.sample(distributions, n=n, seed=seed)
    ensemble = zv.run_ensemble(make_spec, parameters, fluids=fluids, n_workers=2)
    print(ensemble)
    print(ensemble.stats("STOIIP", by="ZONE").to_string(index=False))
