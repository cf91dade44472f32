"""WellLog and PropertyPipeline handles."""

import inspect
import math

import pytest

import _zorvastatic as zs


def well(x=50.0, y=50.0, samples=((1002.0, 0.2), (1008.0, 0.22), (1015.0, 0.3))):
    return zs.WellLog(x, y, list(samples))


def pipeline(**overrides):
    args = dict(
        name="PORO", wells=[well()], method="arith", variogram_model="sph", range_m=500.0, seed=7
    )
    args.update(overrides)
    return zs.PropertyPipeline(**args)


def test_well_log_members():
    w = zs.WellLog(0, 0, [(1000, 0.25)])
    assert repr(w) == "WellLog(x=0, y=0, samples=1)"
    assert (w.x, w.y) == (0.0, 0.0)
    assert w.samples == [(1000.0, 0.25)]
    assert w.samples is not w.samples
    assert w.as_dict() == {"x": 0.0, "y": 0.0, "samples": [(1000.0, 0.25)]}
    assert list(w.as_dict()) == ["x", "y", "samples"]
    assert zs.WellLog.__text_signature__ == "(x, y, samples)"
    assert zs.WellLog.__doc__ == "A positioned well log for property-pipeline construction."
    with pytest.raises(AttributeError):
        w.x = 3.0


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((0, 0, []), ValueError, "WellLog samples must not be empty"),
        ((math.inf, 0, [(1, 1)]), ValueError, "WellLog x/y must be finite"),
        (
            (0, 0, [(1, math.nan)]),
            ValueError,
            "WellLog samples must contain finite depth/value pairs",
        ),
        ((0, 0, "abc"), TypeError, "argument 'samples': Can't extract `str` to `Vec`"),
        (("a", 0, [(1, 1)]), TypeError, "argument 'x': must be real number, not str"),
        (
            (0, 0, [(1, 2, 3)]),
            TypeError,
            "argument 'samples': expected tuple of length 2, but got tuple of length 3",
        ),
    ],
)
def test_well_log_rejections(args, error, message):
    with pytest.raises(error) as raised:
        zs.WellLog(*args)
    assert str(raised.value) == message


def test_pipeline_normalises_name_method_and_model():
    p = pipeline(name="  PORO \t", method=" Arith ", variogram_model="SPH")
    assert p.name == "PORO"
    config = p.config()
    assert list(config) == [
        "property",
        "well_count",
        "method",
        "variogram_model",
        "range_m",
        "major_m",
        "minor_m",
        "vertical_m",
        "azimuth",
        "sill",
        "nugget",
        "seed",
        "propagate",
        "allow_mean_fill",
        "max_neighbours",
        "radius_m",
        "unbounded_search",
    ]
    assert config["method"] == "arith"
    assert config["variogram_model"] == "sph"
    assert [config[k] for k in ("range_m", "major_m", "minor_m", "vertical_m")] == [500.0] * 4
    assert config["max_neighbours"] is None and config["radius_m"] is None
    expected = (
        "PropertyPipeline(property='PORO', step=upscale+gaussian, wells=1, method=arith, "
        "variogram=sph major_m=500 minor_m=500 vertical_m=500 azimuth=0 sill=1 nugget=0 seed=7)"
    )
    assert repr(p) == expected
    assert p.report() == expected


def test_pipeline_azimuth_and_upscale_only_step():
    p = pipeline(azimuth=-45.0, propagate=False, minor_m=250.0, max_neighbours=8)
    assert p.config()["azimuth"] == 315.0
    assert "azimuth=315" in repr(p)
    assert "step=upscale," in repr(p)
    assert p.config()["minor_m"] == 250.0
    assert p.config()["max_neighbours"] == 8


@pytest.mark.parametrize(
    "overrides, message",
    [
        ({"name": "   "}, "PropertyPipeline name must be non-empty"),
        ({"wells": []}, "PropertyPipeline requires at least one WellLog"),
        ({"range_m": 0.0}, "PropertyPipeline variogram ranges must be finite and > 0"),
        ({"vertical_m": math.nan}, "PropertyPipeline variogram ranges must be finite and > 0"),
        ({"azimuth": math.inf}, "PropertyPipeline azimuth must be finite"),
        (
            {"sill": -1.0, "method": "median"},
            "PropertyPipeline sill/nugget must be finite and >= 0",
        ),
        ({"radius_m": 0.0}, "radius_m must be finite and > 0"),
        ({"max_neighbours": 0}, "max_neighbours must be > 0"),
        ({"max_neighbours": 0, "radius_m": 100.0}, "max_neighbours must be > 0"),
        (
            {"method": " Median "},
            "unknown upscale method 'median' (expected 'arithmetic', 'harmonic', or 'geometric')",
        ),
        (
            {"variogram_model": "cubic"},
            "unknown variogram model 'cubic' (expected 'spherical', 'exponential', or 'gaussian')",
        ),
        (
            {"sill": 0.0, "nugget": 0.0},
            "invalid argument: anisotropic variogram: total sill (nugget + sill) must be positive",
        ),
        ({"max_neighbours": 8}, "max_neighbours and radius_m must be provided together"),
        ({"radius_m": 300.0}, "max_neighbours and radius_m must be provided together"),
    ],
)
def test_pipeline_rejections(overrides, message):
    with pytest.raises(ValueError) as raised:
        pipeline(**overrides)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "overrides, error, message",
    [
        ({"wells": "PORO"}, TypeError, "argument 'wells': Can't extract `str` to `Vec`"),
        (
            {"wells": [1]},
            TypeError,
            "argument 'wells': 'int' object cannot be converted to 'WellLog'",
        ),
        ({"seed": -1}, OverflowError, "argument 'seed': can't convert negative int to unsigned"),
        (
            {"propagate": 1},
            TypeError,
            "argument 'propagate': 'int' object cannot be converted to 'bool'",
        ),
        ({"minor_m": "x"}, TypeError, "argument 'minor_m': must be real number, not str"),
        ({"name": 3}, TypeError, "argument 'name': 'int' object cannot be converted to 'str'"),
    ],
)
def test_pipeline_argument_errors(overrides, error, message):
    with pytest.raises(error) as raised:
        pipeline(**overrides)
    assert type(raised.value) is error
    assert str(raised.value) == message


def test_pipeline_signatures_and_docstrings():
    assert str(inspect.signature(zs.PropertyPipeline)) == (
        "(name, wells, method, variogram_model, range_m, seed, sill=1.0, nugget=0.0, minor_m=None, "
        "vertical_m=None, azimuth=0.0, propagate=True, allow_mean_fill=False, max_neighbours=None, "
        "radius_m=None, unbounded_search=False)"
    )
    assert zs.PropertyPipeline.apply_to_flat_model.__text_signature__ == (
        "($self, n=11, depth_m=1000.0, owc_m=1100.0, area_m2=10000.0, gross_height_m=20.0, nk=2, "
        "porosity=0.25, net_to_gross=0.8, water_saturation=0.3)"
    )
    assert zs.PropertyPipeline.apply_to_flat_model.__doc__ == (
        "Smoke-apply this pipeline through the existing flat-model builder."
    )
    for method in ("config", "report"):
        assert not getattr(zs.PropertyPipeline, method).__doc__
    assert not zs.WellLog.as_dict.__doc__
    assert "apply_to_flat_model" in zs.PropertyPipeline.__doc__


def test_apply_to_flat_model_simulates_the_named_cube():
    model = pipeline().apply_to_flat_model()
    assert sorted(model.property_names()) == ["NTG", "PORO", "SW"]
    result = model.in_place()
    assert result["cells_in_column"] == 200  # 10 x 10 x 2 cells above the contact at 1100 m
    assert 0 < result["hcpv_m3"] < result["grv_m3"]
    again = pipeline().apply_to_flat_model().in_place()
    assert again == result  # seeded: reproducible


def test_apply_to_flat_model_failures_leave_the_handle_usable():
    p = pipeline(wells=[well(samples=[(5000.0, 0.2)])])
    with pytest.raises(ValueError, match="no conditioning data in the simulated range"):
        p.apply_to_flat_model()
    with pytest.raises(ValueError, match="^grid error: nk must be non-zero$"):
        p.apply_to_flat_model(nk=0)
    assert p.name == "PORO"
    upscale_only = pipeline(propagate=False, wells=[well(samples=[(1005.0, 0.2)])])
    model = upscale_only.apply_to_flat_model()
    with pytest.raises(ValueError, match="PORO must be a fraction"):
        model.in_place()  # cells no well reached are NaN


def test_harmonic_upscaling_with_a_zero_sample():
    p = pipeline(method="harmonic", wells=[well(samples=[(1005.0, 0.0)])])
    with pytest.raises(ValueError) as raised:
        p.apply_to_flat_model()
    assert str(raised.value) == "invalid input: geometric/harmonic mean needs values > 0, got 0"
