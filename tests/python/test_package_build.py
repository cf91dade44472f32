"""Building models through the package: planar horizons give exact answers (the six-tetrahedra
volume rule is exact for planar faces), wells and ties land where the lattice says."""

import json
import math
import threading

import numpy as np
import pytest

import zorvastatic as zv

# A rotated, y-flipped lattice with unequal increments: 8 x 5 columns of 25 m x 40 m.
LAT = zv.Lattice(
    ncol=9,
    nrow=6,
    xori=456_000.0,
    yori=6_780_000.0,
    xinc=25.0,
    yinc=40.0,
    rotation=30.0,
    yflip=True,
)
AREA = LAT.xinc * (LAT.ncol - 1) * LAT.yinc * (LAT.nrow - 1)
NODE_I, NODE_J = np.meshgrid(np.arange(LAT.ncol), np.arange(LAT.nrow), indexing="ij")
CENTRE = ((LAT.ncol - 1) / 2, (LAT.nrow - 1) / 2)


def plane(a, b, c):
    """Depth a + b i + c j, as a function of node coordinates."""
    return lambda i, j: a + b * np.asarray(i) + c * np.asarray(j)


TOP = plane(2000.0, 0.5, 0.3)
MID = plane(2020.0, 0.7, 0.2)
BASE = plane(2035.0, 0.8, 0.25)


def horizon(name, depth):
    return zv.Horizon(name, zv.Surface(LAT, depth(NODE_I, NODE_J), name))


def two_zone_spec(**changes):
    fields = dict(
        lattice=LAT,
        horizons=[horizon("TopA", TOP), horizon("TopB", MID), horizon("BaseB", BASE)],
        zones=[
            zv.Zone("A", zv.Proportional(3), zv.Contacts(owc=3000.0), color="#d9a441"),
            zv.Zone("B", zv.Proportional(2), zv.Contacts(owc=3000.0)),
        ],
    )
    fields.update(changes)
    return zv.ModelSpec(**fields)


def zone_grv(model):
    return {v.zone: v.grv_m3 for v in model.in_place_by_zone()}


def cube_slices(model, name):
    """Every k-slice of a cube as the engine writes it (shortest round-trip decimals)."""
    slices = []
    for k in range(model.dims[2]):
        bundle = json.loads(model.raw.map_bundle(name, k_slice=k))
        slices.append(json.dumps(bundle["k_slices"][0]["values"]))
    return slices


def test_planar_two_zone_volumes_equal_the_prisms():
    model = zv.build(two_zone_spec())
    assert model.dims == (LAT.ncol - 1, LAT.nrow - 1, 5)
    assert model.provenance.road == "stack"
    assert [(z.name, z.top, z.base, z.k_start, z.k_end, z.color) for z in model.zones] == [
        ("A", "TopA", "TopB", 0, 3, "#d9a441"),
        ("B", "TopB", "BaseB", 3, 5, None),
    ]
    expected = {
        "A": AREA * float(MID(*CENTRE) - TOP(*CENTRE)),
        "B": AREA * float(BASE(*CENTRE) - MID(*CENTRE)),
    }
    grv = zone_grv(model)
    assert grv == pytest.approx(expected, rel=1e-10)
    assert model.raw.bulk_volume() == pytest.approx(sum(expected.values()), rel=1e-10)


def test_single_zone_road_honours_the_lattice_and_names_the_zone():
    spec = zv.ModelSpec(
        LAT,
        [horizon("TopA", TOP), horizon("BaseB", BASE)],
        [zv.Zone("Reservoir A", zv.Proportional(4), zv.Contacts(owc=3000.0), color="#123456")],
        name="field study 7",
    )
    assert spec.road == "single-zone"
    model = zv.build(spec)
    assert model.provenance.road == "single-zone"
    assert model.provenance.inputs_ref == "field study 7"
    assert [(z.name, z.top, z.base, z.nk) for z in model.zones] == [
        ("Reservoir A", "TopA", "BaseB", 4)
    ]
    assert zone_grv(model) == pytest.approx(
        {"Reservoir A": AREA * float(BASE(*CENTRE) - TOP(*CENTRE))}, rel=1e-10
    )
    outline = json.loads(model.raw.map_bundle())["outline"][0]
    corners = [LAT.node_xy(i, j) for i, j in ((0, 0), (8, 0), (8, 5), (0, 5), (0, 0))]
    np.testing.assert_allclose(outline, corners, rtol=0, atol=1e-6)


def test_one_sample_at_a_column_centre_lands_in_that_column():
    x, y = LAT.node_xy(7.5, 3.5)  # the world centre of column (7, 3)
    depth = float((TOP(7.5, 3.5) + MID(7.5, 3.5)) / 2)  # inside layer 1 of zone A
    log = zv.WellLog("W", x, y, [depth], [0.31])
    model = zv.build(two_zone_spec(pipelines=[zv.Pipeline("PORO", [log])]))
    (report,) = model.provenance.reports
    assert (report.informed_cells, report.sample_count, report.simulated) == (1, 1, False)
    ni = model.dims[0]
    values = json.loads(model.raw.map_bundle("PORO", k_slice=1))["k_slices"][0]["values"]
    assert [n for n, v in enumerate(values) if v is not None] == [7 + ni * 3]
    assert values[7 + ni * 3] == 0.31


def test_tie_residuals_are_picks_minus_the_planar_depth():
    fi = np.array([1.2, 6.7, 3.49, 7.9])
    fj = np.array([0.6, 4.2, 2.51, 1.1])
    x, y = LAT.node_xy(fi, fj)
    picks = zv.Picks(
        well=["W1", "W2", "W3", "W4"],
        horizon=["TopB", "TopB", "BaseB", "TopA"],
        x=x,
        y=y,
        z=[2031.0, 2027.5, 2044.0, 2001.0],
    )
    model = zv.build(two_zone_spec(well_ties=picks))
    surfaces = {"TopA": TOP, "TopB": MID, "BaseB": BASE}
    ties = model.provenance.ties
    assert [(t.well, t.horizon) for t in ties] == list(zip(picks.well, picks.horizon, strict=True))
    for tie, z, i, j in zip(ties, picks.z, np.rint(fi), np.rint(fj), strict=True):
        assert (tie.i, tie.j) == (i, j)
        assert tie.surface_m == pytest.approx(float(surfaces[tie.horizon](i, j)), abs=1e-9)
        assert tie.residual_m == pytest.approx(z - float(surfaces[tie.horizon](i, j)), abs=1e-9)


def test_top_conform_layer_count_is_the_thickest_column_over_dz():
    dz = 2.0
    thickest = float((BASE(NODE_I, NODE_J) - MID(NODE_I, NODE_J)).max())
    zones = [
        zv.Zone("A", zv.Proportional(3), zv.Contacts(owc=3000.0)),
        zv.Zone("B", zv.TopConform(dz=dz), zv.Contacts(owc=3000.0)),
    ]
    with pytest.warns(zv.BuildWarning, match=r"cell\(s\) have no thickness"):
        model = zv.build(two_zone_spec(zones=zones))
    assert model.zones[1].nk == math.ceil(thickest / dz)
    (note,) = model.provenance.warnings
    assert note.kind == "pinched_cells" and note.count > 0
    layering = model.provenance.zones[1]
    assert (layering.conformity, layering.dz_m, layering.nk) == (
        "top_conform",
        dz,
        model.zones[1].nk,
    )


def simulated_spec():
    rng = np.random.default_rng(5)
    logs = []
    for name, (fi, fj) in zip(
        "ABCD", [(1.3, 1.2), (6.4, 0.8), (2.2, 3.9), (7.1, 4.4)], strict=True
    ):
        x, y = LAT.node_xy(fi, fj)
        depth = np.arange(1995.0, 2045.0, 0.5)
        logs.append(zv.WellLog(name, x, y, depth, 0.2 + 0.05 * rng.standard_normal(depth.size)))
    variogram = zv.Variogram("spherical", major=150.0, minor=90.0, azimuth=30.0)
    return two_zone_spec(
        pipelines=[
            zv.Pipeline("PORO", logs, variogram=variogram, seed=11),
            zv.Pipeline(
                "SW", logs[:2], variogram=variogram, seed=3, zone="B", allow_mean_fill=True
            ),
        ]
    )


def test_same_spec_gives_the_same_bytes_twice_and_with_one_or_two_threads():
    spec = simulated_spec()
    with zv.thread_limit(1):
        single = zv.build(spec)
    with zv.thread_limit(2):
        double = zv.build(spec)
    again = zv.build(spec)
    for name in ("PORO", "SW", "NTG"):
        reference = cube_slices(single, name)
        assert cube_slices(double, name) == reference
        assert cube_slices(again, name) == reference
    assert len(set(cube_slices(single, "PORO"))) == single.dims[2]  # simulated: layers differ


def test_build_releases_the_interpreter_while_the_engine_works():
    # A build long enough to watch: 100 x 80 columns, 10 simulated layers.
    lat = zv.Lattice(ncol=101, nrow=81, xinc=20.0, yinc=20.0)
    flat = [
        zv.Horizon(n, zv.Surface(lat, np.full(lat.shape, d)))
        for n, d in (("T", 2000.0), ("B", 2040.0))
    ]
    depth = np.arange(2000.5, 2040.0, 1.0)
    logs = [
        zv.WellLog(w, *lat.node_xy(fi, 40.0), depth, 0.2 + 0.001 * depth)
        for w, fi in (("A", 20.0), ("B", 80.0))
    ]
    spec = zv.ModelSpec(
        lat,
        flat,
        [zv.Zone("Z", zv.Proportional(10), zv.Contacts(owc=2100.0))],
        pipelines=[
            zv.Pipeline("PORO", logs, variogram=zv.Variogram("spherical", major=800.0), seed=1)
        ],
    )
    started = threading.Event()
    done = threading.Event()

    def work():
        started.set()
        zv.build(spec)
        done.set()

    thread = threading.Thread(target=work)
    thread.start()
    started.wait()
    turns = 0
    while not done.is_set():
        turns += 1
    thread.join()
    # Holding the lock for the whole build would leave this loop a switch interval or two.
    assert turns > 10_000


def test_model_closes_and_refuses_pickling():
    import pickle

    with zv.build(two_zone_spec()) as model:
        assert "zones A[0:3], B[3:5], stack road" in repr(model)
        with pytest.raises(TypeError, match="a Model cannot be pickled; return tables or arrays"):
            pickle.dumps(model)
    assert model.closed and repr(model) == "<Model (closed)>"
    with pytest.raises(ValueError, match="the model is closed"):
        model.in_place_by_zone()
    assert model.dims == (8, 5, 5)  # what was read stays readable


def test_spec_pickles_and_replaces():
    import dataclasses
    import pickle

    spec = simulated_spec()
    copy = pickle.loads(pickle.dumps(spec))
    assert copy == spec
    reseeded = dataclasses.replace(
        spec, pipelines=[dataclasses.replace(spec.pipelines[0], seed=12), spec.pipelines[1]]
    )
    assert reseeded != spec
    assert cube_slices(zv.build(reseeded), "PORO") != cube_slices(zv.build(spec), "PORO")


def test_zone_priors_override_the_depth_profile_and_the_model_priors():
    zones = [
        zv.Zone("A", zv.Proportional(3), zv.Contacts(owc=3000.0), priors=zv.Priors(0.1, 0.5, 0.4)),
        zv.Zone("B", zv.Proportional(2), zv.Contacts(owc=3000.0)),
    ]
    # One record at 2030 m: inside zone B at every column, in one of its two layers.
    profile = zv.DepthProfile([2030.0], [0.3], [0.2])
    spec = two_zone_spec(zones=zones, depth_profile=profile, priors=zv.Priors(0.2, 0.7, 0.3))
    model = zv.build(spec)
    layers = {
        k: json.loads(model.raw.map_bundle("PORO", k_slice=k))["k_slices"][0]["values"]
        for k in range(5)
    }
    assert all(set(layers[k]) == {0.1} for k in range(3))
    for column in range(len(layers[3])):
        assert sorted([layers[3][column], layers[4][column]]) == [0.2, 0.3]
