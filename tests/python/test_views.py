"""The view bundles of the StaticModel handle: map, intersection and volume JSON."""

import json
import sys

import pytest

import _zorvastatic as zs

# The default flat model: 10 x 10 columns of 100 m from (0, 0), 5 layers of 10 m from 2000 m.
NI = NJ = 10
NK = 5


@pytest.fixture(scope="module")
def model():
    return zs.build_flat_model()


def load(text):
    assert isinstance(text, str)
    assert " " not in text and "\n" not in text  # compact
    return json.loads(text)  # dicts keep the document's key order


FRAME = {"origin_x": 50.0, "origin_y": 50.0, "spacing_x": 100.0, "spacing_y": 100.0, "ncol": NI, "nrow": NJ}


def test_map_bundle_default_document(model):
    text = model.map_bundle()
    assert text.startswith('{"schema_version":6,')
    bundle = load(text)
    assert list(bundle) == [
        "schema_version", "inputs_ref", "frame", "outline", "horizons",
        "zone_averages", "k_slices", "wells", "contacts",
    ]
    assert bundle["inputs_ref"] == "wireframe"
    assert list(bundle["frame"]) == list(FRAME)
    assert bundle["frame"] == pytest.approx(FRAME)
    assert bundle["outline"] == [[[0.0, 0.0], [1.0, 0.0], [1.0, 1.0], [0.0, 1.0], [0.0, 0.0]]]
    top, base = bundle["horizons"]
    assert [top["name"], base["name"]] == ["top", "BASE"]
    for layer, depth in ((top, 2000.0), (base, 2050.0)):
        assert list(layer) == ["name", "units", "values", "range"]
        assert layer["units"] == "m"
        assert layer["values"] == pytest.approx([depth] * (NI * NJ))
        assert list(layer["range"]) == ["min", "max"]
        assert layer["range"]["min"] == pytest.approx(depth)
    assert bundle["zone_averages"] == []
    assert bundle["k_slices"] == []
    assert bundle["wells"] == []
    (contact,) = bundle["contacts"]
    assert list(contact) == ["kind", "depth_m", "crossing"]
    assert contact["kind"] == "OWC" and contact["depth_m"] == 2100.0
    assert contact["crossing"] == [False] * (NI * NJ)


def test_map_bundle_property_layers(model):
    bundle = load(model.map_bundle(property="PORO", k_slice=4))
    (average,) = bundle["zone_averages"]
    (k_slice,) = bundle["k_slices"]
    assert average["name"] == "PORO::RESERVOIR"
    assert k_slice["name"] == "PORO::k4"
    for layer in (average, k_slice):
        assert layer["units"] == "fraction"
        assert layer["values"] == pytest.approx([0.25] * (NI * NJ))
        assert layer["range"] == pytest.approx({"min": 0.25, "max": 0.25})
    # The k-slice index is only compared with nk when a property is asked for.
    assert load(model.map_bundle(k_slice=10**6))["k_slices"] == []
    assert len(load(model.map_bundle("SW", 0))["k_slices"]) == 1


def test_contact_inside_the_column_marks_every_column():
    bundle = load(zs.build_flat_model(owc_m=2025.0).map_bundle())
    assert bundle["contacts"][0]["crossing"] == [True] * (NI * NJ)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"property": "PORO", "k_slice": 5}, "invalid input: map_bundle: k_slice 5 out of range (nk=5)"),
        ({"property": "PERM", "k_slice": 5}, "invalid input: map_bundle: no property 'PERM'"),
        ({"property": "PERM"}, "invalid input: map_bundle: no property 'PERM'"),
    ],
)
def test_map_bundle_engine_errors(model, kwargs, message):
    with pytest.raises(ValueError) as raised:
        model.map_bundle(**kwargs)
    assert str(raised.value) == message


def test_intersection_bundle_along_a_row(model):
    bundle = load(model.intersection_bundle([[50.0, 450.0], [1050.0, 450.0]]))
    assert list(bundle) == [
        "schema_version", "inputs_ref", "sugar_cube", "property", "top_name", "base_name",
        "columns", "horizon_traces", "zones", "contacts", "frame",
    ]
    assert bundle["schema_version"] == 6
    assert bundle["sugar_cube"] is False
    assert bundle["property"] is None
    assert (bundle["top_name"], bundle["base_name"]) == ("top", "BASE")
    columns = bundle["columns"]
    assert [(c["i"], c["j"]) for c in columns] == [(i, 4) for i in range(NI)]
    assert [c["distance_m"] for c in columns] == pytest.approx([0.0] + [100.0 * i - 50 for i in range(1, NI)])
    tops = [2000.0 + 10 * k for k in range(NK)]
    for column in columns:
        assert list(column) == [
            "distance_m", "i", "j", "x", "y", "layer_tops", "layer_bases", "layer_tops_l",
            "layer_tops_r", "layer_bases_l", "layer_bases_r", "values", "zone_ids", "path_z",
        ]
        assert column["y"] == 450.0
        for key in ("layer_tops", "layer_tops_l", "layer_tops_r"):
            assert column[key] == pytest.approx(tops)
        for key in ("layer_bases", "layer_bases_l", "layer_bases_r"):
            assert column[key] == pytest.approx([t + 10 for t in tops])
        assert column["values"] == []
        assert column["zone_ids"] == [0] * NK
        assert column["path_z"] is None
    assert bundle["horizon_traces"] == []
    assert bundle["zones"] == [{"name": "RESERVOIR", "color": None}]
    assert bundle["contacts"] == [{"kind": "OWC", "depth_m": 2100.0}]
    assert list(bundle["frame"]) == list(FRAME)


def test_intersection_bundle_values_and_trace_shapes(model):
    bundle = load(model.intersection_bundle(((950, 950), (950, 1500), (-50, 950)), property="NTG"))
    assert bundle["property"] == "NTG"
    ij = [(c["i"], c["j"]) for c in bundle["columns"]]
    assert ij[0] == (9, 9)
    assert len(ij) == len(set(ij))  # the trace leaves the grid and never revisits a column
    for column in bundle["columns"]:
        assert column["values"] == pytest.approx([0.8] * NK)
    # A trace that misses the grid has no columns; a returning trace repeats columns.
    assert load(model.intersection_bundle([[-500, -500], [2000, -500]]))["columns"] == []
    back = load(model.intersection_bundle([[50, 50], [250, 50], [50, 50]]))["columns"]
    assert [c["i"] for c in back] == [0, 1, 2, 1, 0]


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        (("ab",), {}, TypeError, "argument 'line': expected a sequence of [x, y] points, not str"),
        (("ab",), {"property": 5}, TypeError, "argument 'line': expected a sequence of [x, y] points, not str"),
        ((5,), {}, TypeError, "argument 'line': expected a sequence of [x, y] points, not int"),
        (([1.0, 2.0],), {}, TypeError, "argument 'line': item 0 must be a sequence of two numbers, not float"),
        (([[0, 0], "xy"],), {}, TypeError, "argument 'line': item 1 must be a sequence of two numbers, not str"),
        (([[0, 0], [1, 2, 3]],), {}, TypeError, "argument 'line': item 1 must hold exactly two numbers (x, y), got 3"),
        (([[0, 0], [1]],), {}, TypeError, "argument 'line': item 1 must hold exactly two numbers (x, y), got 1"),
        (([[0, "y"]],), {}, TypeError, "argument 'line': must be real number, not str"),
        (([[0, 10**400]],), {}, OverflowError, "argument 'line': int too large to convert to float"),
        (([[0, 0], [1, 1]],), {"property": 5}, TypeError, "argument 'property': 'int' object cannot be converted to 'str'"),
        ((), {}, TypeError, "intersection_bundle() missing 1 required positional argument: 'line'"),
        (([[0, 0]],), {}, ValueError, "invalid input: intersection_bundle: a section trace needs at least two vertices"),
        (([],), {"property": "PERM"}, ValueError, "invalid input: intersection_bundle: a section trace needs at least two vertices"),
        (([[0, 0], [1, 1]],), {"property": "PERM"}, ValueError, "invalid input: intersection_bundle: no property 'PERM'"),
    ],
)
def test_intersection_bundle_refusals(model, args, kwargs, error, message):
    with pytest.raises(error) as raised:
        model.intersection_bundle(*args, **kwargs)
    assert type(raised.value) is error
    assert str(raised.value) == message


def test_volume_bundle_of_the_flat_block(model):
    text = model.volume_bundle("PORO")
    bundle = load(text)
    assert list(bundle) == [
        "schema_version", "inputs_ref", "property", "cell_count", "positions", "indices",
        "tri_cell", "cell_values", "zone_ids", "zone_names", "value_range",
    ]
    assert bundle["schema_version"] == 6
    assert bundle["property"] == "PORO"
    assert bundle["cell_count"] == NI * NJ * NK
    vertices = len(bundle["positions"]) // 3
    assert len(bundle["positions"]) == 3 * vertices
    # The shell of a full block: its surface nodes, two triangles per outer face, and every cell
    # that touches the outside.
    assert vertices == (NI + 1) * (NJ + 1) * (NK + 1) - (NI - 1) * (NJ - 1) * (NK - 1)
    faces = 2 * (NI * NJ + NI * NK + NJ * NK)
    assert len(bundle["indices"]) == 3 * 2 * faces
    assert len(bundle["tri_cell"]) == 2 * faces
    shell_cells = NI * NJ * NK - (NI - 2) * (NJ - 2) * (NK - 2)
    assert bundle["cell_values"] == [0.25] * shell_cells
    assert bundle["zone_ids"] == [0] * shell_cells
    assert max(bundle["indices"]) == vertices - 1
    assert max(bundle["tri_cell"]) == shell_cells - 1
    xs, zs_ = bundle["positions"][0::3], bundle["positions"][2::3]
    assert (min(xs), max(xs)) == (0.0, 1000.0)
    assert (min(zs_), max(zs_)) == pytest.approx((2000.0, 2050.0))
    assert bundle["zone_names"] == ["RESERVOIR"]
    assert bundle["value_range"] == {"min": 0.25, "max": 0.25}


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((), TypeError, "volume_bundle() missing 1 required positional argument: 'property'"),
        ((None,), TypeError, "argument 'property': 'NoneType' object cannot be converted to 'str'"),
        ((b"PORO",), TypeError, "argument 'property': 'bytes' object cannot be converted to 'str'"),
        (("PERM",), ValueError, "invalid input: volume_bundle: no property 'PERM'"),
    ],
)
def test_volume_bundle_refusals(model, args, error, message):
    with pytest.raises(error) as raised:
        model.volume_bundle(*args)
    assert type(raised.value) is error
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"k_slice": -1}, OverflowError, "argument 'k_slice': can't convert negative int to unsigned"),
        ({"k_slice": 2**64}, OverflowError, "argument 'k_slice': int too big to convert"),
        ({"k_slice": 1.0}, TypeError, "argument 'k_slice': 'float' object cannot be interpreted as an integer"),
        ({"property": ["PORO"]}, TypeError, "argument 'property': 'list' object cannot be converted to 'str'"),
        ({"k": 1}, TypeError, "map_bundle() got an unexpected keyword argument 'k'"),
    ],
)
def test_map_bundle_argument_errors(model, kwargs, error, message):
    with pytest.raises(error) as raised:
        model.map_bundle(**kwargs)
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


def test_views_leave_no_references_behind(model):
    line = [[50.0, 50.0], [950.0, 950.0]]
    before = (sys.getrefcount(model), sys.getrefcount(line), sys.getrefcount(line[0]))
    for _ in range(50):
        model.map_bundle("PORO", 1)
        model.intersection_bundle(line, "PORO")
        model.volume_bundle("SW")
        with pytest.raises(TypeError):
            model.intersection_bundle([line[0], "xy"])
    assert (sys.getrefcount(model), sys.getrefcount(line), sys.getrefcount(line[0])) == before
