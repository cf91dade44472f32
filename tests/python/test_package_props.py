"""Variograms against GSTools, and pipelines through a build."""

import json

import numpy as np
import pytest

import zorvastatic as zv

gs = pytest.importorskip("gstools")

LAGS = np.linspace(1.0, 1500.0, 50)

GSTOOLS_MODELS = [
    gs.Spherical(dim=2, var=1.0, len_scale=[800.0, 400.0], angles=np.deg2rad(60.0)),
    gs.Exponential(dim=2, var=0.7, nugget=0.3, len_scale=[300.0, 150.0], rescale=3.0),
    gs.Exponential(dim=2, var=2.0, len_scale=250.0),
    gs.Gaussian(dim=2, var=1.0, len_scale=[500.0, 200.0], angles=-0.4),
    gs.Gaussian(
        dim=3, var=1.5, len_scale=[600.0, 300.0, 20.0], angles=[0.7, 0.0, 0.0], rescale=2.0
    ),
    gs.Spherical(dim=1, var=1.0, len_scale=333.0),
]


@pytest.mark.parametrize("model", GSTOOLS_MODELS, ids=lambda m: f"{type(m).__name__}{m.dim}d")
def test_gstools_models_round_trip_exactly(model):
    ours = zv.Variogram.from_gstools(model)
    back = ours.to_gstools()
    np.testing.assert_allclose(back.variogram(LAGS), model.variogram(LAGS), rtol=1e-12)
    if model.dim >= 2:
        # Directions too: the same semivariance at points all around the origin.
        angle = np.linspace(0.0, 2.0 * np.pi, 50)
        radius = np.linspace(10.0, 900.0, 50)
        points = [radius * np.cos(angle), radius * np.sin(angle)]
        if model.dim == 3:
            points.append(np.zeros(50))
        np.testing.assert_allclose(
            back.vario_spatial(np.array(points)), model.vario_spatial(np.array(points)), rtol=1e-12
        )


@pytest.mark.parametrize("model", GSTOOLS_MODELS[:4], ids=lambda m: type(m).__name__)
def test_our_semivariance_along_the_major_axis_is_gstools(model):
    ours = zv.Variogram.from_gstools(model)
    expected = model.vario_axis(LAGS, axis=0) if model.dim > 1 else model.variogram(LAGS)
    np.testing.assert_allclose(ours.gamma(LAGS), expected, rtol=1e-12, atol=1e-15)


def test_azimuth_is_clockwise_from_north():
    # A major axis pointing north-east (azimuth 45) is a GSTools rotation of 45 degrees too.
    model = zv.Variogram("spherical", major=800.0, minor=200.0, azimuth=45.0).to_gstools()
    along = model.vario_spatial(np.array([[300.0], [300.0]]))
    across = model.vario_spatial(np.array([[300.0], [-300.0]]))
    assert along[0] < across[0]
    assert zv.Variogram("spherical", major=1.0, azimuth=100.0).to_gstools().angles[
        0
    ] == pytest.approx(np.deg2rad(-10.0))


@pytest.mark.parametrize(
    ("model", "message"),
    [
        (gs.Matern(dim=2, len_scale=100.0), "Matern has no exact engine variogram"),
        (gs.Stable(dim=2, len_scale=100.0), "Stable has no exact engine variogram"),
        (
            gs.Spherical(dim=3, len_scale=[100.0, 50.0, 5.0], angles=[0.1, 0.2, 0.0]),
            "only a rotation about the vertical axis maps to an azimuth",
        ),
    ],
)
def test_models_without_an_exact_form_are_refused(model, message):
    with pytest.raises(ValueError, match=message):
        zv.Variogram.from_gstools(model)


LAT = zv.Lattice(ncol=12, nrow=9, xori=1000.0, yori=5000.0, xinc=50.0, yinc=50.0)


def spec_with(pipelines, nk=4):
    top = zv.Surface(LAT, np.full(LAT.shape, 2000.0))
    base = zv.Surface(LAT, np.full(LAT.shape, 2020.0))
    return zv.ModelSpec(
        LAT,
        [zv.Horizon("Top", top), zv.Horizon("Base", base)],
        [zv.Zone("Z", zv.Proportional(nk), zv.Contacts(owc=2100.0))],
        pipelines=pipelines,
    )


def layer_values(model, name):
    return [
        json.loads(model.raw.map_bundle(name, k_slice=k))["k_slices"][0]["values"]
        for k in range(model.dims[2])
    ]


def test_a_constant_log_is_simulated_into_every_cell():
    depth = np.arange(2000.5, 2020.0, 1.0)
    logs = [
        zv.WellLog(name, *LAT.node_xy(fi, fj), depth, np.full(depth.size, 0.23))
        for name, fi, fj in (("A", 2.3, 2.1), ("B", 8.6, 6.4))
    ]
    variogram = zv.Variogram("exponential", major=300.0)
    model = zv.build(spec_with([zv.Pipeline("PORO", logs, variogram=variogram, seed=1)]))
    values = np.array(layer_values(model, "PORO"), dtype=float)
    assert values.shape == (4, 11 * 8)
    np.testing.assert_allclose(values, 0.23, rtol=1e-12)
    (report,) = model.provenance.reports
    assert report.simulated and report.informed_cells == 8 and report.sample_count == 40


def test_trend_and_search_reach_the_engine():
    depth = np.arange(2000.5, 2020.0, 1.0)
    rng = np.random.default_rng(3)
    logs = [
        zv.WellLog(name, *LAT.node_xy(fi, fj), depth, rng.uniform(0.1, 0.3, depth.size))
        for name, fi, fj in (("A", 1.5, 1.5), ("B", 9.5, 1.5), ("C", 1.5, 6.5), ("D", 9.5, 6.5))
    ]
    x, _ = LAT.node_coordinates()
    seismic = zv.Surface(LAT, (x - x.mean()) / x.std())
    variogram = zv.Variogram("spherical", major=200.0)
    plain = zv.Pipeline("PORO", logs, variogram=variogram, seed=4)
    trended = zv.Pipeline(
        "PORO", logs, variogram=variogram, seed=4, trend=zv.Trend(seismic, rho=0.9)
    )
    searched = zv.Pipeline("PORO", logs, variogram=variogram, seed=4, search=zv.Search(4, 120.0))
    cubes = [layer_values(zv.build(spec_with([p])), "PORO") for p in (plain, trended, searched)]
    assert cubes[0] != cubes[1] and cubes[0] != cubes[2]
    # The trend correlates strongly with east: the simulated values follow it.
    east = np.array(cubes[1][0], dtype=float).reshape(8, 11)
    assert east[:, -3:].mean() > east[:, :3].mean()

    far = zv.Surface(
        zv.Lattice(ncol=3, nrow=3, xori=0.0, yori=0.0, xinc=10.0, yinc=10.0), np.zeros((3, 3))
    )
    lost = zv.Pipeline("PORO", logs, variogram=variogram, trend=zv.Trend(far, rho=0.5))
    with pytest.raises(
        zv.InvalidInputError, match=r"^invalid input: collocated trend covers only 0/88"
    ):
        zv.build(spec_with([lost]))


def test_a_layer_without_data_fails_unless_mean_filled():
    log = zv.WellLog("A", *LAT.node_xy(5.5, 4.5), [2002.0, 2007.0], [0.2, 0.3])  # layers 0 and 1
    variogram = zv.Variogram("spherical", major=200.0)
    strict = zv.Pipeline("PORO", [log], variogram=variogram)
    with pytest.raises(zv.InvalidInputError) as caught:
        zv.build(spec_with([strict]))
    assert str(caught.value).startswith(
        "invalid input: property 'PORO': simulated layer 2 has no conditioning data"
    )
    filled = zv.Pipeline("PORO", [log], variogram=variogram, allow_mean_fill=True)
    values = layer_values(zv.build(spec_with([filled])), "PORO")
    assert set(values[3]) == {0.25}


def test_wells_outside_the_lattice_are_left_out_with_a_warning():
    inside = zv.WellLog("In", *LAT.node_xy(3.0, 3.0), [2011.0], [0.2])
    outside = zv.WellLog("Out", *LAT.node_xy(-1.0, 3.0), [2011.0], [0.4])
    with pytest.warns(zv.WellOutsideGridWarning, match=r"1 well log\(s\) lie outside .*'Out'"):
        model = zv.build(spec_with([zv.Pipeline("PORO", [inside, outside])]))
    (report,) = model.provenance.reports
    assert report.sample_count == 1 and report.max == 0.2


def test_harmonic_upscaling_of_two_samples():
    log = zv.WellLog("A", *LAT.node_xy(5.5, 4.5), [2001.0, 2002.0], [1.0, 4.0])
    model = zv.build(spec_with([zv.Pipeline("K", [log], method="harmonic")]))
    (report,) = model.provenance.reports
    assert report.max == pytest.approx(1.6)
    with pytest.raises(
        ValueError, match=r"geometric upscaling needs values > 0; WellLog 'B' values\[1\] is 0.0"
    ):
        zv.Pipeline("K", [zv.WellLog("B", 0.0, 0.0, [1.0, 2.0], [1.0, 0.0])], method="geo")


def test_areal_trend_scales_net_to_gross_column_by_column():
    # A trend linear in i: at a column centre it is the mean of the column's four nodes.
    i, _ = np.meshgrid(np.arange(LAT.ncol), np.arange(LAT.nrow), indexing="ij")
    trend = zv.Surface(LAT, 1.0 + 0.1 * i)
    spec = spec_with([], nk=2)
    spec = zv.ModelSpec(
        spec.lattice,
        spec.horizons,
        spec.zones,
        priors=zv.Priors(0.2, 0.6, 0.3),
        areal_trend=zv.ArealTrend(trend, scale_porosity=True),
    )
    model = zv.build(spec)
    centre = 1.0 + 0.1 * (np.arange(LAT.ncol - 1) + 0.5)
    factor = centre / centre.mean()
    for name, prior in (("NTG", 0.6), ("PORO", 0.2)):
        values = np.array(layer_values(model, name)[1], dtype=float).reshape(LAT.nrow - 1, -1)
        expected = np.broadcast_to(np.clip(prior * factor, 0.0, 1.0), values.shape)
        np.testing.assert_allclose(values, expected, rtol=1e-12)
    sw = np.array(layer_values(model, "SW")[0], dtype=float)
    assert set(sw) == {0.3}
