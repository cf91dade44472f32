"""The view bundles of the StaticModel handle: map, intersection and volume JSON."""

import json

import pytest

import _zorvastatic as zs

# The default flat model: 10 x 10 columns of 100 m from (0, 0), 5 layers of 10 m from 2000 m.
N, NK = 10, 5
FRAME = {
    "origin_x": 50.0,
    "origin_y": 50.0,
    "spacing_x": 100.0,
    "spacing_y": 100.0,
    "ncol": N,
    "nrow": N,
}


@pytest.fixture(scope="module")
def model():
    return zs.build_flat_model()


def load(text):
    assert isinstance(text, str) and " " not in text  # compact
    return json.loads(text)  # dicts keep the document's key order


def test_map_bundle(model):
    bundle = load(model.map_bundle(property="PORO", k_slice=4))
    assert list(bundle) == [
        "schema_version",
        "inputs_ref",
        "frame",
        "outline",
        "horizons",
        "zone_averages",
        "k_slices",
        "wells",
        "contacts",
    ]
    assert (bundle["schema_version"], bundle["inputs_ref"]) == (6, "wireframe")
    assert list(bundle["frame"]) == list(FRAME) and bundle["frame"] == pytest.approx(FRAME)
    assert bundle["outline"] == [[[0.0, 0.0], [1.0, 0.0], [1.0, 1.0], [0.0, 1.0], [0.0, 0.0]]]
    layers = bundle["horizons"] + bundle["zone_averages"] + bundle["k_slices"]
    expected = [
        ("top", "m", 2000.0),
        ("BASE", "m", 2050.0),
        ("PORO::RESERVOIR", "fraction", 0.25),
        ("PORO::k4", "fraction", 0.25),
    ]
    assert [(layer["name"], layer["units"]) for layer in layers] == [e[:2] for e in expected]
    for layer, (_, _, value) in zip(layers, expected, strict=False):
        assert list(layer) == ["name", "units", "values", "range"]
        assert layer["values"] == pytest.approx([value] * N * N)
        assert layer["range"] == pytest.approx({"min": value, "max": value})
    assert bundle["wells"] == []
    assert bundle["contacts"] == [{"kind": "OWC", "depth_m": 2100.0, "crossing": [False] * N * N}]
    default = load(model.map_bundle(k_slice=10**6))  # without a property the index is ignored
    assert (default["zone_averages"], default["k_slices"]) == ([], [])
    assert (
        load(zs.build_flat_model(owc_m=2025.0).map_bundle())["contacts"][0]["crossing"]
        == [True] * N * N
    )


def test_intersection_bundle(model):
    bundle = load(model.intersection_bundle(((50, 450), [1050.0, 450.0]), "NTG"))
    assert list(bundle) == [
        "schema_version",
        "inputs_ref",
        "sugar_cube",
        "property",
        "top_name",
        "base_name",
        "columns",
        "horizon_traces",
        "zones",
        "contacts",
        "frame",
    ]
    assert [
        bundle[k] for k in ("schema_version", "sugar_cube", "property", "top_name", "base_name")
    ] == [6, False, "NTG", "top", "BASE"]
    columns = bundle["columns"]
    assert [(c["i"], c["j"]) for c in columns] == [(i, 4) for i in range(N)]
    assert [c["distance_m"] for c in columns] == pytest.approx(
        [0] + [100 * i - 50 for i in range(1, N)]
    )
    tops = [2000.0 + 10 * k for k in range(NK)]
    for c in columns:
        assert list(c) == [
            "distance_m",
            "i",
            "j",
            "x",
            "y",
            "layer_tops",
            "layer_bases",
            "layer_tops_l",
            "layer_tops_r",
            "layer_bases_l",
            "layer_bases_r",
            "values",
            "zone_ids",
            "path_z",
        ]
        for key in ("layer_tops", "layer_tops_l", "layer_tops_r"):
            assert c[key] == pytest.approx(tops)
        for key in ("layer_bases", "layer_bases_l", "layer_bases_r"):
            assert c[key] == pytest.approx([t + 10 for t in tops])
        assert (c["values"], c["zone_ids"], c["path_z"]) == (
            pytest.approx([0.8] * NK),
            [0] * NK,
            None,
        )
    assert bundle["horizon_traces"] == []
    assert bundle["zones"] == [{"name": "RESERVOIR", "color": None}]
    assert bundle["contacts"] == [{"kind": "OWC", "depth_m": 2100.0}]
    assert bundle["frame"] == pytest.approx(FRAME)
    assert load(model.intersection_bundle([[50, 50], [250, 50]]))["columns"][0]["values"] == []


def test_volume_bundle(model):
    bundle = load(model.volume_bundle("PORO"))
    assert list(bundle) == [
        "schema_version",
        "inputs_ref",
        "property",
        "cell_count",
        "positions",
        "indices",
        "tri_cell",
        "cell_values",
        "zone_ids",
        "zone_names",
        "value_range",
    ]
    assert (bundle["schema_version"], bundle["property"], bundle["cell_count"]) == (
        6,
        "PORO",
        N * N * NK,
    )
    # The shell of a full block: its surface nodes, two triangles per outer face, every outer cell.
    vertices = (N + 1) ** 2 * (NK + 1) - (N - 1) ** 2 * (NK - 1)
    triangles = 2 * 2 * (N * N + 2 * N * NK)
    shell = N * N * NK - (N - 2) ** 2 * (NK - 2)
    assert len(bundle["positions"]) == 3 * vertices
    assert (len(bundle["indices"]), len(bundle["tri_cell"])) == (3 * triangles, triangles)
    assert (max(bundle["indices"]), max(bundle["tri_cell"])) == (vertices - 1, shell - 1)
    assert (bundle["cell_values"], bundle["zone_ids"]) == ([0.25] * shell, [0] * shell)
    assert (min(bundle["positions"][0::3]), max(bundle["positions"][0::3])) == (0.0, 1000.0)
    assert bundle["zone_names"] == ["RESERVOIR"]
    assert bundle["value_range"] == {"min": 0.25, "max": 0.25}


LINE_REFUSED = "argument 'line': expected a sequence of [x, y] points, not "


@pytest.mark.parametrize(
    "method, args, kwargs, error, message",
    [
        ("intersection_bundle", ("ab",), {"property": 5}, TypeError, LINE_REFUSED + "str"),
        ("intersection_bundle", (5,), {}, TypeError, LINE_REFUSED + "int"),
        (
            "intersection_bundle",
            ([1.0, 2.0],),
            {},
            TypeError,
            "argument 'line': item 0 must be a sequence of two numbers, not float",
        ),
        (
            "intersection_bundle",
            ([[0, 0], "xy"],),
            {},
            TypeError,
            "argument 'line': item 1 must be a sequence of two numbers, not str",
        ),
        (
            "intersection_bundle",
            ([[0, 0], [1, 2, 3]],),
            {},
            TypeError,
            "argument 'line': item 1 must hold exactly two numbers (x, y), got 3",
        ),
        (
            "intersection_bundle",
            ([[0, "y"]],),
            {},
            TypeError,
            "argument 'line': must be real number, not str",
        ),
        (
            "intersection_bundle",
            ([[0, 10**400]],),
            {},
            OverflowError,
            "argument 'line': int too large to convert to float",
        ),
        (
            "intersection_bundle",
            ([[0, 0]],),
            {"property": b"P"},
            TypeError,
            "argument 'property': 'bytes' object cannot be converted to 'str'",
        ),
        (
            "intersection_bundle",
            (),
            {},
            TypeError,
            "intersection_bundle() missing 1 required positional argument: 'line'",
        ),
        (
            "intersection_bundle",
            ([[0, 0]],),
            {"property": "PERM"},
            ValueError,
            "invalid input: intersection_bundle: a section trace needs at least two vertices",
        ),
        (
            "intersection_bundle",
            ([[0, 0], [1, 1]],),
            {"property": "PERM"},
            ValueError,
            "invalid input: intersection_bundle: no property 'PERM'",
        ),
        (
            "map_bundle",
            (),
            {"property": "PORO", "k_slice": 5},
            ValueError,
            "invalid input: map_bundle: k_slice 5 out of range (nk=5)",
        ),
        (
            "map_bundle",
            ("PERM", 5),
            {},
            ValueError,
            "invalid input: map_bundle: no property 'PERM'",
        ),
        (
            "map_bundle",
            (),
            {"k_slice": -1},
            OverflowError,
            "argument 'k_slice': can't convert negative int to unsigned",
        ),
        (
            "map_bundle",
            (),
            {"k_slice": 1.0},
            TypeError,
            "argument 'k_slice': 'float' object cannot be interpreted as an integer",
        ),
        (
            "map_bundle",
            (["PORO"],),
            {},
            TypeError,
            "argument 'property': 'list' object cannot be converted to 'str'",
        ),
        (
            "volume_bundle",
            (),
            {},
            TypeError,
            "volume_bundle() missing 1 required positional argument: 'property'",
        ),
        (
            "volume_bundle",
            (None,),
            {},
            TypeError,
            "argument 'property': 'NoneType' object cannot be converted to 'str'",
        ),
        (
            "volume_bundle",
            ("PERM",),
            {},
            ValueError,
            "invalid input: volume_bundle: no property 'PERM'",
        ),
    ],
)
def test_refusals(model, method, args, kwargs, error, message):
    with pytest.raises(error) as raised:
        getattr(model, method)(*args, **kwargs)
    assert type(raised.value) is error
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "name, signature",
    [
        ("map_bundle", "($self, property=None, k_slice=None)"),
        ("intersection_bundle", "($self, line, property=None)"),
        ("volume_bundle", "($self, property)"),
    ],
)
def test_text_signatures(name, signature):
    assert getattr(zs.StaticModel, name).__text_signature__ == signature


def test_bundles_of_a_simulated_model():
    wells = [
        zs.WellLog(150.0, 250.0, [(1002.0, 0.18), (1007.0, 0.22), (1013.0, 0.27), (1018.0, 0.24)]),
        zs.WellLog(850.0, 700.0, [(1003.0, 0.12), (1008.0, 0.15), (1012.0, 0.2), (1017.0, 0.19)]),
    ]
    pipeline = zs.PropertyPipeline("PORO", wells, "arith", "sph", range_m=600.0, seed=3)
    simulated = pipeline.apply_to_flat_model(area_m2=1.0e6)  # 10 x 10 x 2 cells of 100 m
    low, high = 0.12, 0.27

    bundle = load(simulated.map_bundle("PORO", k_slice=1))
    (average,) = bundle["zone_averages"]
    (k_slice,) = bundle["k_slices"]
    assert average["name"] == "PORO::RESERVOIR" and k_slice["name"] == "PORO::k1"
    for layer in (average, k_slice):
        assert len(layer["values"]) == 100
        assert all(low <= v <= high for v in layer["values"])
        assert layer["range"]["min"] == min(layer["values"])
        assert layer["range"]["max"] == max(layer["values"])
    assert len(set(k_slice["values"])) > 10  # simulated, not constant

    section = load(simulated.intersection_bundle([(0.0, 250.0), (1000.0, 250.0)], "PORO"))
    assert [c["j"] for c in section["columns"]] == [2] * 10
    assert section["columns"][1]["values"][0] == pytest.approx(0.2)  # the well at (150, 250)

    volume = load(simulated.volume_bundle("PORO"))
    assert (
        volume["cell_count"] == 200 and len(volume["cell_values"]) == 200
    )  # every cell on the shell
    assert all(low <= v <= high for v in volume["cell_values"])
    assert volume["value_range"]["min"] < volume["value_range"]["max"]
