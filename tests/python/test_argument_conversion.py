"""Numbers and text as Python's own argument parsing takes them."""

import decimal
import fractions

import numpy as np
import pytest

import _zorvastatic as zs


class Index:
    """An integer only through __index__, like numpy's and many libraries' integer types."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Real:
    """A number only through __float__."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


def volumes(model):
    return model.in_place(), model.bulk_volume()


@pytest.mark.parametrize(
    "arguments",
    [
        {
            "n": np.int64(6),
            "nk": np.uint16(3),
            "depth_m": np.float32(1500.0),
            "porosity": np.float64(0.25),
        },
        {
            "n": Index(6),
            "nk": Index(3),
            "depth_m": Real(1500.0),
            "porosity": Real(0.25),
        },
        {
            "n": 6,
            "nk": True + 2,
            "depth_m": fractions.Fraction(3000, 2),
            "porosity": decimal.Decimal("0.25"),
        },
        {"n": 6, "nk": 3, "depth_m": 1500, "porosity": np.float16(0.25)},
    ],
    ids=[
        "numpy scalars",
        "__index__ and __float__",
        "fractions and decimals",
        "ints as floats",
    ],
)
def test_anything_int_or_float_accepts_is_accepted(arguments):
    plain = zs.build_flat_model(n=6, nk=3, depth_m=1500.0, porosity=0.25)
    assert volumes(zs.build_flat_model(**arguments)) == volumes(plain)


def test_numbers_in_well_logs_and_traces():
    wells = [
        zs.WellLog(
            np.float32(150),
            Index(250),
            [(np.float64(1002.0), Real(0.2)), (1011, np.float32(0.22))],
        )
    ]
    assert wells[0].samples == [(1002.0, 0.2), (1011.0, float(np.float32(0.22)))]
    pipe = zs.PropertyPipeline(
        "PORO",
        wells,
        "arithmetic",
        "spherical",
        np.float32(600),
        np.uint64(7),
        sill=Index(1),
    )
    assert pipe.config()["seed"] == 7
    model = zs.build_flat_model()
    line = [(np.float64(0), Index(500)), (Real(1000.0), np.int32(500))]
    assert model.intersection_bundle(line) == model.intersection_bundle(
        [(0.0, 500.0), (1000.0, 500.0)]
    )
    assert model.map_bundle(k_slice=np.int8(2)) == model.map_bundle(k_slice=2)


@pytest.mark.parametrize(
    ("arguments", "error", "message"),
    [
        (
            {"n": 3.0},
            TypeError,
            "argument 'n': 'float' object cannot be interpreted as an integer",
        ),
        (
            {"nk": np.float64(2)},
            TypeError,
            "argument 'nk': 'numpy.float64' object cannot be interpreted as an integer",
        ),
        (
            {"n": -1},
            OverflowError,
            "argument 'n': can't convert negative int to unsigned",
        ),
        (
            {"depth_m": "2000"},
            TypeError,
            "argument 'depth_m': must be real number, not str",
        ),
        (
            {"owc_m": None},
            TypeError,
            "argument 'owc_m': must be real number, not NoneType",
        ),
        (
            {"area_m2": 2**1100},
            OverflowError,
            "argument 'area_m2': int too large to convert to float",
        ),
    ],
)
def test_refused_numbers_name_the_parameter(arguments, error, message):
    with pytest.raises(error) as raised:
        zs.build_flat_model(**arguments)
    assert str(raised.value) == message


def test_a_failing_conversion_keeps_its_exception_as_the_cause():
    class Broken:
        def __float__(self):
            raise ArithmeticError("no value yet")

    with pytest.raises(ArithmeticError, match="^argument 'depth_m': no value yet$") as raised:
        zs.build_flat_model(depth_m=Broken())
    assert isinstance(raised.value.__cause__, ArithmeticError)

    class Interrupting:
        def __index__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt) as interrupted:
        zs.build_flat_model(n=Interrupting())
    assert str(interrupted.value) == ""  # passed on as it was raised


WELLS = [zs.WellLog(0.0, 0.0, [(1.0, 0.2)])]


@pytest.mark.parametrize(
    ("call", "parameter"),
    [
        (
            lambda text: zs.PropertyPipeline(text, WELLS, "arithmetic", "spherical", 500.0, 7),
            "name",
        ),
        (
            lambda text: zs.PropertyPipeline("PORO", WELLS, text, "spherical", 500.0, 7),
            "method",
        ),
        (
            lambda text: zs.PropertyPipeline("PORO", WELLS, "arithmetic", text, 500.0, 7),
            "variogram_model",
        ),
        (lambda text: zs.build_flat_model().map_bundle(text), "property"),
        (
            lambda text: zs.build_flat_model().intersection_bundle([(0, 0), (1, 1)], text),
            "property",
        ),
        (lambda text: zs.build_flat_model().volume_bundle(text), "property"),
    ],
)
def test_unencodable_text_or_a_nul_is_refused_naming_the_parameter(call, parameter):
    with pytest.raises(ValueError) as surrogate:
        call("PO\ud800RO")
    assert str(surrogate.value).startswith(
        f"argument '{parameter}': 'utf-8' codec can't encode character '\\ud800'"
    )
    assert isinstance(surrogate.value.__cause__, UnicodeEncodeError)
    with pytest.raises(ValueError, match=f"^argument '{parameter}': embedded null character$"):
        call("PO\0RO")


def test_a_depth_near_the_largest_double_is_a_depth():
    model = zs.build_flat_model(depth_m=1e308, owc_m=1.7e308)
    # 50 m below 1e308 rounds back to 1e308: the layers have no thickness left.
    assert model.in_place() == {
        "grv_m3": 0.0,
        "hcpv_m3": 0.0,
        "cells_in_column": 0,
        "ooip_sm3": 0.0,
    }
    assert model.bulk_volume() == 0.0
    with pytest.raises(
        ValueError,
        match=r"^invalid input: structural solve needs finite depths, got -inf at node \(0, 0\)$",
    ):
        zs.build_flat_model(depth_m=float("-inf"))
