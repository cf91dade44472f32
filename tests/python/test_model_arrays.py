"""A model's arrays: views of the engine's memory (shared, read-only, outliving the model), the
same arrays from a spilled model's store, and the derived arrays against independent sums."""

import gc

import numpy as np
import pytest

import zorvastatic as zv
from model_grids import LAT, spilled, two_zone_spec


@pytest.fixture(scope="module")
def model():
    return zv.build(two_zone_spec())


def test_layouts_are_views_of_one_memory(model):
    ijk, kji = model.property("PORO"), model.property("PORO", layout="kji")
    assert np.shares_memory(ijk, kji)
    assert np.shares_memory(ijk, model.property("PORO"))
    ni, nj, nk = model.dims
    assert ijk.shape == (ni, nj, nk) and kji.shape == (nk, nj, ni)
    assert ijk.flags.f_contiguous and kji.flags.c_contiguous
    # [i, j, k] is cell i + ni * (j + nj * k) of the engine's order
    flat = kji.reshape(-1)
    for i, j, k in [(0, 0, 0), (5, 1, 3), (2, 3, 6)]:
        assert ijk[i, j, k] == flat[i + ni * (j + nj * k)]


@pytest.mark.parametrize(
    "view",
    [
        lambda m: m.property("SW"),
        lambda m: m.property("SW", layout="kji"),
        lambda m: m.zcorn(),
        lambda m: m.coord(world=False),
    ],
)
def test_views_refuse_writes(model, view):
    array = view(model)
    assert not array.flags.writeable
    with pytest.raises(ValueError, match="read-only"):
        array[(0,) * array.ndim] = 1.0
    with pytest.raises(ValueError):
        array.setflags(write=True)


def test_views_outlive_the_model():
    model = zv.build(two_zone_spec())
    poro, zcorn = model.property("PORO"), model.zcorn()
    expected_poro, expected_z = poro.copy(), zcorn.copy()
    model.close()
    del model
    gc.collect()
    np.testing.assert_array_equal(poro, expected_poro)
    np.testing.assert_array_equal(zcorn, expected_z)


def test_unknown_names_and_layouts(model):
    with pytest.raises(KeyError, match="no property 'PERMX'; it has: NTG, PORO, SW"):
        model.property("PERMX")
    with pytest.raises(ValueError, match="layout must be one of"):
        model.property("PORO", layout="jik")
    with pytest.raises(ValueError, match="layout must be one of"):
        model.zcorn(layout="roff")


def test_coord_lies_on_the_lattice(model):
    world, local = model.coord(), model.coord(world=False)
    x, y = LAT.node_coordinates()  # (ncol, nrow)
    np.testing.assert_allclose(world[..., 0], x.T, rtol=0, atol=1e-6)
    np.testing.assert_allclose(world[..., 1], y.T, rtol=0, atol=1e-6)
    np.testing.assert_array_equal(world[..., [2, 5]], local[..., [2, 5]])
    assert model.lattice == LAT


def test_volumes_are_the_engines_and_the_box_rule_on_vertical_pillars(model):
    volumes = model.cell_volumes()
    assert volumes.shape == model.dims
    assert float(volumes.sum()) == pytest.approx(model.raw.bulk_volume(), rel=1e-12)
    # Vertical pillars and planar faces: area times the mean of the four pillar thicknesses.
    z = model.zcorn()
    thickness = (z[..., 4:] - z[..., :4]).mean(axis=-1).transpose(2, 1, 0)
    np.testing.assert_allclose(volumes, thickness * LAT.xinc * LAT.yinc, rtol=1e-12)
    np.testing.assert_array_equal(model.actnum(), (volumes > 0).astype(np.int32))
    assert model.actnum().dtype == np.int32


def test_zcorn_layouts_agree(model):
    z = model.zcorn()
    nk, nj, ni, _ = z.shape
    eclipse = model.zcorn("eclipse").reshape(nk, 2, nj, 2, ni, 2)
    # GRDECL order: k, top/bottom, j, near/far, i, left/right
    assert eclipse[2, 1, 3, 0, 4, 1] == z[2, 3, 4, 4 + 0 * 2 + 1]
    assert eclipse[5, 0, 1, 1, 0, 0] == z[5, 1, 0, 2]
    xtgeo_layout = model.zcorn("xtgeo")
    assert xtgeo_layout.shape == (ni + 1, nj + 1, nk + 1, 4) and xtgeo_layout.dtype == np.float32
    # the NE sub-corner of node (i, j) is corner 0 of cell (i, j)
    assert xtgeo_layout[4, 2, 3, 3] == np.float32(z[3, 2, 4, 0])


def test_cell_centers_are_the_mean_of_the_corners(model):
    centers = model.cell_centers()
    ni, nj, nk = model.dims
    assert centers.shape == (ni, nj, nk, 3)
    x, y = LAT.node_xy(np.arange(ni)[:, None] + 0.5, np.arange(nj)[None, :] + 0.5)
    np.testing.assert_allclose(centers[..., 2, 0], x, atol=1e-6)
    np.testing.assert_allclose(centers[..., 2, 1], y, atol=1e-6)
    depth = model.zcorn().mean(axis=-1).transpose(2, 1, 0)
    np.testing.assert_allclose(centers[..., 2], depth, rtol=1e-14)


def test_spilled_views_read_the_store_as_float32(model, tmp_path):
    stored = spilled(two_zone_spec(), tmp_path)
    assert stored.spilled
    for name in ("PORO", "NTG", "SW"):
        view = stored.property(name)
        assert view.dtype == np.float32 and not view.flags.writeable
        np.testing.assert_array_equal(view, model.property(name).astype(np.float32))
    np.testing.assert_array_equal(stored.zcorn(), model.zcorn().astype(np.float32))
    np.testing.assert_array_equal(stored.coord(), model.coord())
    # 32-bit depths near 2000 m are 1.2e-4 m apart: thin cells move by a few in 1e5
    np.testing.assert_allclose(stored.cell_volumes(), model.cell_volumes(), rtol=1e-4)
    # the store stays while a view of it does
    path, poro = stored.store_path, stored.property("PORO")
    stored.close()
    del stored, view
    gc.collect()
    assert float(poro.sum()) > 0
    import os

    assert os.path.exists(path)
    del poro
    gc.collect()
    assert not os.path.exists(path)
