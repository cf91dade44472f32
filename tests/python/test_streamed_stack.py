"""A stack of zones with constant priors over its memory budget is written plane by plane into
its store: the model read back is the one built in memory, in 32-bit floats."""

import numpy as np
import pytest

import zorvastatic as zv


def stack_spec(folder=None):
    """Two zones over 30 x 20 cells: Z1 proportional with a gas cap, Z2 parallel to its top and
    running out against a base that rises to the south (some of its cells pinch out)."""
    lat = zv.Lattice(ncol=31, nrow=21, xinc=50.0, yinc=50.0)
    x, y = lat.node_coordinates()
    top = 2000.0 + 0.02 * x + 3.0 * np.sin(y / 300.0)
    horizons = [
        zv.Horizon("A", zv.Surface(lat, top)),
        zv.Horizon("B", zv.Surface(lat, top + 25.0 + 0.01 * y)),
        zv.Horizon("C", zv.Surface(lat, top + 50.0 - 0.012 * y)),
    ]
    zones = [
        zv.Zone("Z1", zv.Proportional(5), zv.Contacts(goc=2012.0, owc=2030.0)),
        zv.Zone("Z2", zv.TopConform(dz=4.0), zv.Contacts(owc=2060.0)),
    ]
    options = (
        zv.BuildOptions(memory_budget=1, spill_dir=str(folder)) if folder else zv.BuildOptions()
    )
    priors = zv.Priors(porosity=0.21, net_to_gross=0.83, water_saturation=0.31)
    return zv.ModelSpec(lat, horizons, zones, priors=priors, options=options)


@pytest.fixture
def models(tmp_path):
    with pytest.warns(zv.BuildWarning, match="pinched out"):
        memory = zv.build(stack_spec(), progress=False)
    with pytest.warns(zv.BuildWarning, match="pinched out"):
        streamed = zv.build(stack_spec(tmp_path), progress=False)
    yield memory, streamed
    streamed.close()


def test_the_store_holds_the_in_memory_grid_in_float32(models):
    memory, streamed = models
    assert streamed.spilled and not memory.spilled
    assert streamed.dims == memory.dims
    np.testing.assert_array_equal(streamed.zcorn(), memory.zcorn().astype(np.float32))
    for name in ("PORO", "NTG", "SW"):
        np.testing.assert_array_equal(
            streamed.property(name), memory.property(name).astype(np.float32)
        )


def test_zones_layering_and_volumes_agree(models):
    memory, streamed = models
    assert streamed.zones == memory.zones
    assert streamed.provenance.zones == memory.provenance.zones
    assert streamed.provenance.warnings == memory.provenance.warnings
    assert any(z.pinched_cells > 0 for z in memory.provenance.zones)
    for a, b in zip(memory.in_place_by_zone(), streamed.in_place_by_zone(), strict=True):
        assert a.zone == b.zone and a.grv_m3 > 0
        assert b.grv_m3 == pytest.approx(a.grv_m3, rel=1e-6)
        assert b.hcpv_m3 == pytest.approx(a.hcpv_m3, rel=1e-6)
