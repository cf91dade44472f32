"""Models the array, table and file tests share: planar dipping horizons on a rotated, y-flipped
lattice (planar faces make the volume rule exact), properties varying with depth."""

import dataclasses

import numpy as np

import zorvastatic as zv

LAT = zv.Lattice(
    ncol=7,
    nrow=5,
    xori=456_000.0,
    yori=6_780_000.0,
    xinc=25.0,
    yinc=40.0,
    rotation=30.0,
    yflip=True,
)
NODE_I, NODE_J = np.meshgrid(np.arange(LAT.ncol), np.arange(LAT.nrow), indexing="ij")


def surface(name, a, b, c):
    return zv.Horizon(name, zv.Surface(LAT, a + b * NODE_I + c * NODE_J, name))


PROFILE = zv.DepthProfile(
    np.linspace(1990.0, 2050.0, 61), np.linspace(0.30, 0.12, 61), np.linspace(0.15, 0.6, 61)
)


def two_zone_spec(**changes):
    fields = dict(
        lattice=LAT,
        horizons=[
            surface("TopA", 2000.0, 0.5, 0.3),
            surface("TopB", 2020.0, 0.7, 0.2),
            surface("BaseB", 2035.0, 0.8, 0.25),
        ],
        zones=[
            zv.Zone("A", zv.Proportional(4), zv.Contacts(goc=2008.0, owc=2016.0)),
            zv.Zone("B", zv.Proportional(3), zv.Contacts(owc=2028.0)),
        ],
        depth_profile=PROFILE,
        priors=zv.Priors(porosity=0.2, net_to_gross=0.75, water_saturation=0.3),
    )
    fields.update(changes)
    return zv.ModelSpec(**fields)


def spilled(spec, folder):
    options = dataclasses.replace(spec.options, memory_budget=1, spill_dir=str(folder))
    return zv.build(dataclasses.replace(spec, options=options))
