"""The bytes of a store do not depend on how the writer hands them to the file: both roads into
a store (a stack streamed plane by plane, and a model with zone priors built in memory and then
spilled) give files whose SHA-256 digests are pinned from the first writer, which wrote through
a shared mapping of the file."""

import hashlib
from pathlib import Path

import numpy as np
import pytest

import zorvastatic as zv

# Digests of the kept store files, recorded with the writer that filled a shared mapping.
PINNED = {
    "streamed": "4b262ce384f6c0d145b162703a7e49e47d41d68405fe9c9c8857f27673590746",
    "spilled": "8cc0d9ebd61aa31d038a900af1f9a7315f474705f8dc643149276133aeb4d1ab",
}


def spec(folder: Path, road: str) -> zv.ModelSpec:
    """Two zones over 30 x 20 cells, over a budget of one byte: constant priors stream, priors
    per zone build in memory and spill."""
    lat = zv.Lattice(ncol=31, nrow=21, xinc=50.0, yinc=50.0)
    x, y = lat.node_coordinates()
    top = 2000.0 + 0.02 * x + 3.0 * np.sin(y / 300.0)
    horizons = [
        zv.Horizon("A", zv.Surface(lat, top)),
        zv.Horizon("B", zv.Surface(lat, top + 25.0 + 0.01 * y)),
        zv.Horizon("C", zv.Surface(lat, top + 52.0 + 0.005 * x)),
    ]
    own = zv.Priors(porosity=0.17, net_to_gross=0.6, water_saturation=0.45)
    zones = [
        zv.Zone("Z1", zv.Proportional(5), zv.Contacts(goc=2012.0, owc=2030.0)),
        zv.Zone(
            "Z2",
            zv.Proportional(4),
            zv.Contacts(owc=2060.0),
            priors=own if road == "spilled" else None,
        ),
    ]
    options = zv.BuildOptions(memory_budget=1, spill_dir=str(folder), keep_store=True)
    priors = zv.Priors(porosity=0.21, net_to_gross=0.83, water_saturation=0.31)
    return zv.ModelSpec(lat, horizons, zones, priors=priors, options=options)


@pytest.mark.parametrize("road", sorted(PINNED))
def test_store_bytes_are_unchanged(tmp_path: Path, road: str) -> None:
    model = zv.build(spec(tmp_path, road), progress=False)
    assert model.spilled
    model.close()
    stores = sorted(tmp_path.rglob("*.zts"))
    assert len(stores) == 1
    assert hashlib.sha256(stores[0].read_bytes()).hexdigest() == PINNED[road]
