"""Picks and logs on the way in, and a table of bad inputs: each refused with its exact error,
leaving the package as it was."""

import dataclasses
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import zorvastatic as zv

LAT = zv.Lattice(ncol=6, nrow=5, xori=500.0, yori=800.0, xinc=100.0, yinc=50.0, rotation=10.0)
FLAT = {
    name: np.full(LAT.shape, depth) for name, depth in (("T", 2000.0), ("M", 2020.0), ("B", 2050.0))
}


def surface(name, values=None):
    return zv.Surface(LAT, FLAT[name] if values is None else values, name)


def spec(**changes):
    fields = dict(
        lattice=LAT,
        horizons=[
            zv.Horizon("T", surface("T")),
            zv.Horizon("M", surface("M")),
            zv.Horizon("B", surface("B")),
        ],
        zones=[
            zv.Zone("Z1", zv.Proportional(2), zv.Contacts(goc=2005.0, owc=2010.0)),
            zv.Zone("Z2", zv.Proportional(3), zv.Contacts(owc=2040.0)),
        ],
    )
    fields.update(changes)
    return zv.ModelSpec(**fields)


def test_las_logs_drop_nulls_and_count_them(tmp_path):
    lasio = pytest.importorskip("lasio")
    las = lasio.LASFile()
    las.well["WELL"].value = "A7"
    las.append_curve("DEPT", np.arange(2000.0, 2006.0), unit="m")
    las.append_curve("PHIT", [0.2, np.nan, 0.22, 0.24, np.nan, 0.26])
    las.append_curve("GR", [np.nan] * 6)
    path = tmp_path / "a7.las"
    las.write(str(path))
    log = zv.WellLog.from_las(path, "PHIT", x=600.0, y=900.0)
    assert (log.name, log.curve, log.dropped) == ("A7", "PHIT", 2)
    assert log.depth.tolist() == [2000.0, 2002.0, 2003.0, 2005.0]
    assert log.values.tolist() == [0.2, 0.22, 0.24, 0.26]
    with pytest.raises(ValueError, match=r"^WellLog 'A7': no finite samples in curve 'GR'$"):
        zv.WellLog.from_las(path, "GR", x=600.0, y=900.0)
    with pytest.raises(KeyError, match="no curve 'RHOB'"):
        zv.WellLog.from_las(path, "RHOB", x=600.0, y=900.0)


def test_picks_from_a_dataframe_and_back():
    pandas = pytest.importorskip("pandas")
    frame = pandas.DataFrame(
        {
            "W": ["A1", "A1", "A2"],
            "H": ["T", "M", "T"],
            "X": [600.0, 600.0, 700.0],
            "Y": [900.0, 900.0, 850.0],
            "Z": [2001.0, 2019.0, 1999.5],
        }
    )
    picks = zv.Picks.from_dataframe(frame, well="W", horizon="H", x="X", y="Y", z="Z")
    assert picks.wells == ("A1", "A2") and picks.horizons == ("T", "M")
    assert picks.only("T").z.tolist() == [2001.0, 1999.5]
    back = picks.to_dataframe()
    assert back["Z_TVDSS"].tolist() == frame["Z"].tolist()
    with pytest.raises(KeyError, match="no column 'WELL'"):
        zv.Picks.from_dataframe(frame)


def test_tops_only_horizon_between_mapped_ones():
    x, y = LAT.node_xy([1.0, 4.0], [1.0, 3.0])
    picks = zv.Picks(["A1", "A2"], ["M", "M"], x, y, [2012.0, 2012.0])
    model = zv.build(
        spec(
            horizons=[
                zv.Horizon("T", surface("T")),
                zv.Horizon("M", picks=picks),
                zv.Horizon("B", surface("B")),
            ]
        )
    )
    how = {h.horizon: (h.mapped, h.method, h.anchor) for h in model.provenance.horizons}
    assert how["M"] == (False, "tops_between", "T")
    area = LAT.xinc * 5 * LAT.yinc * 4
    grv = {v.zone: v.grv_m3 for v in model.in_place_by_zone()}
    # Two tops of one depth: a constant 12 m below T everywhere.
    assert grv["Z1"] == pytest.approx(area * 12.0, rel=1e-9)


def test_thread_cap_comes_from_the_environment():
    code = "import zorvastatic as zv; print(zv.get_num_threads())"
    env = dict(os.environ, ZV_NUM_THREADS="1")
    out = subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True
    )
    assert out.stdout.strip() == "1"
    before = zv.get_num_threads()
    with zv.thread_limit(1):
        assert zv.get_num_threads() == 1
    assert zv.get_num_threads() == before


crossing = FLAT["M"].copy()
crossing[1, 1], crossing[2, 3], crossing[4, 0] = 1997.0, 1999.0, 1997.0
nan_surface = np.full(LAT.shape, np.nan)
depth = np.arange(2000.5, 2050.0, 1.0)
good_log = zv.WellLog("L", *LAT.node_xy(2.5, 2.5), depth, np.full(depth.size, 0.2))
other_lattice = dataclasses.replace(LAT, xinc=99.0)

BAD = [
    (
        lambda: spec(zones=spec().zones[:1]),
        ValueError,
        "ModelSpec has 3 horizons and 1 zones; it needs one zone between each pair of adjacent "
        "horizons (2)",
    ),
    (
        lambda: spec(
            horizons=[
                zv.Horizon("T", surface("T")),
                zv.Horizon("M", zv.Surface(other_lattice, FLAT["M"])),
                zv.Horizon("B", surface("B")),
            ]
        ),
        ValueError,
        f"Horizon 'M' lies on {other_lattice}, not on the model's {LAT}",
    ),
    (
        lambda: spec(
            horizons=[
                zv.Horizon("T", surface("T")),
                zv.Horizon("T", surface("M")),
                zv.Horizon("B", surface("B")),
            ]
        ),
        ValueError,
        "ModelSpec: horizon name 'T' is used twice",
    ),
    (
        lambda: spec(
            horizons=[
                zv.Horizon("T", surface("T")),
                zv.Horizon("M", surface("M", nan_surface)),
                zv.Horizon("B", surface("B")),
            ]
        ),
        ValueError,
        "Horizon 'M': its surface has no defined node",
    ),
    (
        lambda: spec(horizons=spec().horizons[:2], zones=[zv.Zone("Z1", zv.Proportional(2))]),
        ValueError,
        "ModelSpec needs at least one fluid contact: give a zone Contacts(owc=...), goc= or gwc=",
    ),
    (
        lambda: zv.ModelSpec(
            LAT,
            [zv.Horizon("T", surface("T")), zv.Horizon("M", surface("M", crossing))],
            [zv.Zone("Z", zv.Proportional(2), zv.Contacts(owc=2100.0))],
        ),
        zv.CrossedSurfacesError,
        "base surface crosses above the top at 3 node(s); worst separation -3 m (thin/crossing "
        "surfaces collapse GRV)",
    ),
    (
        lambda: spec(
            horizons=[
                zv.Horizon(h, picks=zv.Picks(["W"], [h], [600.0], [900.0], [z]))
                for h, z in (("T", 2000.0), ("M", 2010.0), ("B", 2020.0))
            ]
        ),
        zv.GridError,
        "grid error: horizon stack has no mapped horizon (the first mapped horizon is its "
        "reference)",
    ),
    (
        lambda: spec(well_ties=zv.Picks(["A1"], ["Nope"], [600.0], [900.0], [2001.0])),
        zv.InvalidInputError,
        "invalid input: well tie 'A1' names unknown horizon 'Nope'",
    ),
    (
        lambda: spec(well_ties=zv.Picks(["A1"], ["T"], [-5000.0], [900.0], [2001.0])),
        ValueError,
        "1 well-tie picks fall outside the lattice; first: well 'A1' at (-5000.0, 900.0) "
        "(BuildOptions(picks_outside='drop') leaves them out)",
    ),
    (
        lambda: spec(pipelines=[zv.Pipeline("PORO", [good_log], zone="Z3")]),
        ValueError,
        "Pipeline 'PORO' names zone 'Z3', which is not one of the zones ['Z1', 'Z2']",
    ),
    (
        lambda: zv.ModelSpec(
            dataclasses.replace(LAT, nrow=1),
            [
                zv.Horizon(n, zv.Surface(dataclasses.replace(LAT, nrow=1), np.full((6, 1), d)))
                for n, d in (("T", 2000.0), ("B", 2010.0))
            ],
            [zv.Zone("Z", zv.Proportional(1), zv.Contacts(owc=2100.0))],
        ),
        zv.GridError,
        "grid error: top surface needs at least 2x2 nodes",
    ),
    (
        lambda: spec(
            zones=[
                zv.Zone("Z1", zv.Proportional(150), zv.Contacts(owc=2100.0)),
                zv.Zone("Z2", zv.Proportional(250)),
            ]
        ),
        None,
        None,
    ),
]


def test_bad_inputs_raise_their_exact_errors_and_change_nothing():
    good = spec(
        pipelines=[
            zv.Pipeline(
                "PORO", [good_log], variogram=zv.Variogram("spherical", major=300.0), seed=2
            )
        ]
    )
    reference = zv.build(good).in_place_by_zone(boi=1.1)
    threads = zv.get_num_threads()
    for make, error, message in BAD:
        if error is None:
            continue
        bad = make()
        snapshot = pickle.dumps(bad)
        with pytest.raises(error) as caught:
            zv.build(bad)
        assert str(caught.value) == message
        assert isinstance(caught.value, ValueError)
        assert pickle.loads(snapshot) == bad
        assert zv.get_num_threads() == threads
    assert zv.build(good).in_place_by_zone(boi=1.1) == reference


def test_crossed_surfaces_carry_their_count_and_worst_separation():
    make, _, _ = BAD[5]
    with pytest.raises(zv.CrossedSurfacesError) as caught:
        zv.build(make())
    assert (caught.value.nodes, caught.value.worst_m) == (3, -3.0)
    clamped = dataclasses.replace(make(), options=zv.BuildOptions(clamp_crossings=True))
    assert zv.build(clamped).dims == (5, 4, 2)


def test_layer_cap_is_a_build_warning():
    make, _, _ = BAD[-1]
    with pytest.warns(zv.BuildWarning, match="the layer count was capped; the grid has 200 layers"):
        model = zv.build(make())
    assert [z.nk for z in model.zones] == [75, 125]


@pytest.mark.parametrize(
    ("make", "error", "message"),
    [
        (
            lambda: zv.Contacts(goc=2050.0, owc=2010.0),
            ValueError,
            "Contacts: goc (2050.0) must not be deeper than owc (2010.0)",
        ),
        (
            lambda: zv.DepthProfile([2000.0, 2010.0, 2005.0], [0.2] * 3, [0.3] * 3),
            ValueError,
            "DepthProfile.depth must be sorted ascending: depth[2] = 2005.0 < depth[1] = 2010.0",
        ),
        (
            lambda: zv.Priors(porosity=1.5),
            ValueError,
            "Priors.porosity must be a fraction in [0, 1], got 1.5",
        ),
        (lambda: zv.Proportional(0), ValueError, "Proportional.nk must be >= 1, got 0"),
        (lambda: zv.TopConform(dz=-2.0), ValueError, "TopConform.dz must be > 0, got -2.0"),
        (
            lambda: zv.Horizon("X"),
            ValueError,
            "Horizon 'X' needs either a surface or picks (not both)",
        ),
        (
            lambda: zv.Picks(["A"], ["T"], [1.0], [np.nan], [2.0]),
            ValueError,
            "Picks.y[0] is nan; values must be finite",
        ),
        (
            lambda: zv.Picks(["A", "B"], ["T"], [1.0, 2.0], [1.0, 2.0], [2.0, 3.0]),
            ValueError,
            "Picks: horizon has 1 values but well has 2",
        ),
        (
            lambda: zv.WellLog("A", 0.0, 0.0, [1.0, 2.0], [0.1, np.inf]),
            ValueError,
            "WellLog 'A' values[1] is inf; values must be finite or NaN (undefined)",
        ),
        (
            lambda: zv.WellLog("A", 0.0, 0.0, [1.0, 2.0], [0.1]),
            ValueError,
            "WellLog 'A': values has 1 values but depth has 2",
        ),
        (
            lambda: zv.Variogram("matern", major=1.0),
            ValueError,
            "Variogram.model must be one of 'spherical', 'exponential', 'gaussian', got 'matern'",
        ),
        (
            lambda: zv.Variogram("sph", major=1.0, sill=0.0),
            ValueError,
            "Variogram: sill + nugget must be > 0",
        ),
        (lambda: zv.Pipeline("PORO", []), ValueError, "Pipeline 'PORO' needs at least one WellLog"),
        (
            lambda: zv.Pipeline("PORO", [good_log], search=zv.Search(8, 100.0)),
            ValueError,
            "Pipeline 'PORO': search and trend belong to the simulation; give a variogram",
        ),
        (lambda: zv.Search(0, 100.0), ValueError, "Search.max_neighbours must be >= 1, got 0"),
        (
            lambda: zv.Trend(surface("T"), rho=1.5),
            ValueError,
            "Trend.rho must be within [-1, 1], got 1.5",
        ),
        (
            lambda: zv.BuildOptions(memory_budget=0),
            ValueError,
            "BuildOptions.memory_budget must be >= 1, got 0",
        ),
        (
            lambda: zv.Zone("Z", 3),
            TypeError,
            "Zone 'Z': layering must be Proportional, TopConform or BaseConform, got int",
        ),
        (lambda: zv.build("spec"), TypeError, "build() needs a ModelSpec, got str"),
    ],
)
def test_parts_refuse_bad_values_naming_them(make, error, message):
    with pytest.raises(error) as caught:
        make()
    assert str(caught.value) == message


def test_min_thickness_repairs_instead_of_failing():
    make, _, _ = BAD[5]
    repaired = dataclasses.replace(make(), options=zv.BuildOptions(min_thickness_m=0.5))
    with pytest.warns(
        zv.BuildWarning, match=r"3 base node\(s\) moved down .* worst separation -3 m"
    ):
        model = zv.build(repaired)
    (note,) = model.provenance.warnings
    assert (note.kind, note.count, note.worst_m) == ("thickness_repaired", 3, -3.0)


@pytest.mark.parametrize("road", ["single-zone", "stack"])
@pytest.mark.parametrize("keep", [False, True])
def test_a_model_above_its_memory_budget_lives_in_a_store(tmp_path, road, keep):
    import gc

    options = zv.BuildOptions(memory_budget=1, spill_dir=str(tmp_path), keep_store=keep)
    if road == "single-zone":
        bad = spec(horizons=spec().horizons[:2], zones=spec().zones[:1], options=options)
    else:
        bad = spec(options=options)
    assert bad.road == road
    in_memory = zv.build(dataclasses.replace(bad, options=zv.BuildOptions()))
    model = zv.build(bad)
    assert model.spilled and not in_memory.spilled
    path = model.store_path
    assert path is not None and path.startswith(str(tmp_path)) and os.path.exists(path)
    assert f"spilled to {path}" in repr(model)
    volumes = model.in_place_by_zone()
    expected = in_memory.in_place_by_zone()
    assert [v.zone for v in volumes] == [v.zone for v in expected]
    for ours, reference in zip(volumes, expected, strict=True):
        assert ours.grv_m3 == pytest.approx(reference.grv_m3, rel=1e-6)  # float32 depths
    model.close()
    gc.collect()
    assert os.path.exists(path) == keep


def test_the_specified_entry_points_keep_plain_value_errors():
    import _zorvastatic

    with pytest.raises(ValueError) as caught:
        _zorvastatic.build_flat_model(n=1)
    assert type(caught.value) is ValueError
    assert str(caught.value) == "grid error: top surface needs at least 2x2 nodes"
