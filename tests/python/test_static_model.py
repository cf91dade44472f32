"""build_flat_model and the StaticModel handle."""

import gc
import inspect
import json
import sys
import tracemalloc

import pytest

import _zorvastatic as zs


def test_module_registers_its_names_in_order():
    # Private members (one leading underscore) belong to the zorvastatic package.
    names = [n for n in vars(zs) if not n.startswith("_") or n == "__version__"]
    assert names == [
        "__version__",
        "StaticModel",
        "WellLog",
        "PropertyPipeline",
        "build_flat_model",
        "InternalFault",
    ]


def test_internal_fault_is_not_an_exception():
    assert issubclass(zs.InternalFault, BaseException)
    assert not issubclass(zs.InternalFault, Exception)
    assert zs.InternalFault.__bases__ == (BaseException,)


def test_default_flat_model_volumes():
    model = zs.build_flat_model()
    result = model.in_place()
    assert list(result) == ["grv_m3", "hcpv_m3", "cells_in_column", "ooip_sm3"]
    assert result["grv_m3"] == pytest.approx(5.0e7, rel=1e-12)
    assert result["hcpv_m3"] == pytest.approx(7.0e6, rel=1e-12)
    assert result["cells_in_column"] == 500
    assert type(result["cells_in_column"]) is int
    assert result["ooip_sm3"] == result["hcpv_m3"]
    assert model.bulk_volume() == pytest.approx(result["grv_m3"], rel=1e-12)
    assert model.in_place_summary() == result
    assert sorted(model.property_names()) == ["NTG", "PORO", "SW"]


def test_gas_fvf_adds_the_fifth_key():
    result = zs.build_flat_model().in_place(boi=1.25, bgi=0.005)
    assert list(result) == ["grv_m3", "hcpv_m3", "cells_in_column", "ooip_sm3", "ogip_sm3"]
    assert result["ooip_sm3"] == pytest.approx(result["hcpv_m3"] / 1.25)
    assert result["ogip_sm3"] == pytest.approx(result["hcpv_m3"] / 0.005)


def test_contact_inside_the_column_clips_whole_cells():
    # Layers of 10 m from 2000 m: centres 2005 .. 2045; a contact at 2025 keeps two layers.
    result = zs.build_flat_model(owc_m=2025.0).in_place()
    assert result["cells_in_column"] == 200
    assert result["grv_m3"] == pytest.approx(2.0e7)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        ({"n": 1}, "grid error: top surface needs at least 2x2 nodes"),
        ({"nk": 0}, "grid error: nk must be non-zero"),
        ({"area_m2": 0}, "invalid input: area_m2 must be finite and > 0, got 0"),
        (
            {"gross_height_m": float("nan")},
            "invalid input: gross_height_m must be finite and > 0, got NaN",
        ),
        ({"porosity": 1.5}, "invalid input: porosity must be a fraction in [0,1], got 1.5"),
    ],
)
def test_builder_errors_are_value_errors(kwargs, message):
    with pytest.raises(ValueError) as raised:
        zs.build_flat_model(**kwargs)
    assert str(raised.value) == message


def test_fvf_messages_and_when_they_are_checked():
    model = zs.build_flat_model()
    with pytest.raises(
        ValueError,
        match=r"^invalid input: oil FVF \(Boi\) must be finite and >= 1\.0 Rm³/Sm³, got 0\.9$",
    ):
        model.in_place(boi=0.9)
    with pytest.raises(
        ValueError,
        match=r"^invalid input: gas FVF \(Bgi\) must be finite and in \(0,1\) Rm³/Sm³, got 1$",
    ):
        model.in_place(bgi=1.0)
    with pytest.raises(ValueError, match="Boi"):
        model.in_place_by_zone(boi=float("inf"))
    assert len(model.in_place()) == 4
    assert len(model.in_place(bgi=0.005)) == 5


def test_in_place_by_zone_json():
    model = zs.build_flat_model()
    text = model.in_place_by_zone(boi=2)
    assert " " not in text
    assert text.startswith('{"total":{"grv_m3":')
    report = json.loads(text)
    assert list(report) == ["total", "zones"]
    assert list(report["total"]) == ["grv_m3", "hcpv_m3", "ooip_sm3"]
    (zone,) = report["zones"]
    assert list(zone) == ["grv_m3", "hcpv_m3", "ooip_sm3", "zone"]
    assert zone["zone"] == "RESERVOIR"
    assert {k: zone[k] for k in report["total"]} == report["total"]
    assert zone["ooip_sm3"] == pytest.approx(zone["hcpv_m3"] / 2)


SIGNATURES = {
    "build_flat_model": (
        "(n=11, depth_m=2000.0, owc_m=2100.0, area_m2=1000000.0, gross_height_m=50.0, nk=5, "
        "porosity=0.25, net_to_gross=0.8, water_saturation=0.3)"
    ),
    "property_names": "($self)",
    "bulk_volume": "($self)",
    "in_place": "($self, boi=1.0, bgi=None)",
    "in_place_summary": "($self, boi=1.0, bgi=None)",
    "in_place_by_zone": "($self, boi=1.0)",
}


@pytest.mark.parametrize("name", sorted(SIGNATURES))
def test_text_signatures(name):
    obj = getattr(zs, name, None) or getattr(zs.StaticModel, name)
    assert obj.__text_signature__ == SIGNATURES[name]
    inspect.signature(obj)  # parses


def test_docstrings():
    assert zs.build_flat_model.__doc__.startswith(
        "Build a flat synthetic single-zone static model and populate it with constant\npriors — "
    )
    assert zs.StaticModel.property_names.__doc__ == "The names of the populated property cubes."
    assert zs.StaticModel.bulk_volume.__doc__ == "Gross rock volume of the whole grid \\[m³\\]."
    assert zs.StaticModel.in_place_by_zone.__doc__.startswith(
        "Per-zone in-place with a total rollup, as a JSON string:"
    )
    assert "build_flat_model" in zs.StaticModel.__doc__


def test_static_model_has_no_constructor():
    with pytest.raises(TypeError):
        zs.StaticModel()


@pytest.mark.parametrize(
    "call, error, message",
    [
        (
            lambda: zs.build_flat_model(n=2.0),
            TypeError,
            "argument 'n': 'float' object cannot be interpreted as an integer",
        ),
        (
            lambda: zs.build_flat_model(nk="5"),
            TypeError,
            "argument 'nk': 'str' object cannot be interpreted as an integer",
        ),
        (
            lambda: zs.build_flat_model(n=-1),
            OverflowError,
            "argument 'n': can't convert negative int to unsigned",
        ),
        (
            lambda: zs.build_flat_model(n=2**64),
            OverflowError,
            "argument 'n': int too big to convert",
        ),
        (
            lambda: zs.build_flat_model(depth_m="x"),
            TypeError,
            "argument 'depth_m': must be real number, not str",
        ),
        (
            lambda: zs.build_flat_model(porosity=None),
            TypeError,
            "argument 'porosity': must be real number, not NoneType",
        ),
        (
            lambda: zs.build_flat_model().in_place(boi=[1]),
            TypeError,
            "argument 'boi': must be real number, not list",
        ),
        (
            lambda: zs.build_flat_model().in_place(bgi="a"),
            TypeError,
            "argument 'bgi': must be real number, not str",
        ),
        (
            lambda: zs.build_flat_model(bogus=1),
            TypeError,
            "build_flat_model() got an unexpected keyword argument 'bogus'",
        ),
        (
            lambda: zs.build_flat_model(11, n=11),
            TypeError,
            "build_flat_model() got multiple values for argument 'n'",
        ),
        (
            lambda: zs.build_flat_model(*range(10)),
            TypeError,
            "build_flat_model() takes from 0 to 9 positional arguments but 10 were given",
        ),
        (
            lambda: zs.build_flat_model().in_place_by_zone(1, 2),
            TypeError,
            "in_place_by_zone() takes from 0 to 1 positional arguments but 2 were given",
        ),
    ],
)
def test_argument_errors_name_the_parameter(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert type(raised.value) is error
    assert str(raised.value) == message


def test_numbers_convert_from_ints_and_positional_order():
    model = zs.build_flat_model(3, 1000, 1100, 10000, 20, 2, 0.2, 1, 0)
    result = model.in_place()
    assert result["cells_in_column"] == 8
    assert result["grv_m3"] == pytest.approx(10000 * 20)
    assert result["hcpv_m3"] == pytest.approx(10000 * 20 * 0.2)


def test_no_reference_or_memory_growth_over_many_calls():
    model = zs.build_flat_model(n=4, nk=2)
    boi = 1.5
    before_model = sys.getrefcount(model)
    before_boi = sys.getrefcount(boi)
    for _ in range(200):
        model.in_place(boi=boi)
        model.in_place_by_zone(boi=boi)
        model.property_names()
        zs.build_flat_model(n=3, nk=1)
    assert sys.getrefcount(model) == before_model
    assert sys.getrefcount(boi) == before_boi

    gc.collect()
    tracemalloc.start()
    for _ in range(50):
        zs.build_flat_model(n=4, nk=2).in_place()
    snapshot = tracemalloc.take_snapshot()
    for _ in range(500):
        zs.build_flat_model(n=4, nk=2).in_place()
        try:
            zs.build_flat_model(n=1)
        except ValueError:
            pass
    gc.collect()
    grown = sum(s.size_diff for s in tracemalloc.take_snapshot().compare_to(snapshot, "filename"))
    tracemalloc.stop()
    assert grown < 64 * 1024
