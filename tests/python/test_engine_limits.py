"""Inputs at the limits of the machine: every call ends, with the right answer or a clear error."""

import json
import math
import subprocess
import sys
import textwrap

import pytest

import _zorvastatic as zs


@pytest.mark.parametrize(
    ("model", "line", "segment_length"),
    [
        ({}, [(-1e18, 500.0), (500.0, 500.0)], "1000000000000000500"),
        ({"n": 5, "area_m2": 5e-324}, [(52.6, -41.0), (0.0, 0.0)], "66.69152869742904"),
    ],
    ids=["a trace of 1e18 m", "cells of 1e-162 m"],
)
def test_a_section_whose_samples_cannot_be_counted_fails(model, line, segment_length):
    with pytest.raises(ValueError) as raised:
        zs.build_flat_model(**model).intersection_bundle(line, "PORO")
    assert str(raised.value) == (
        "invalid input: intersection_bundle: segment 0 of the trace "
        f"({segment_length} m) needs more samples than can be held "
        "(one every half column, at most 9007199254740992 per segment)"
    )


def test_a_very_long_trace_that_can_be_sampled_gives_its_columns():
    model = zs.build_flat_model()
    far = json.loads(model.intersection_bundle([(-1e16, 550.0), (550.0, 550.0)], "PORO"))
    assert [(c["i"], c["j"]) for c in far["columns"]] == [(i, 5) for i in range(6)]


OVERFLOW = (
    "outside validity range: cell (0, 0, 0) has no finite volume: the products of its corner "
    "coordinates overflow"
)


def test_volumes_that_overflow_fail_instead_of_turning_nan():
    model = zs.build_flat_model(
        n=10,
        area_m2=1e300,
        gross_height_m=1e300,
        depth_m=0.0,
        owc_m=1e300,
        net_to_gross=0.0,
    )
    for call in (
        model.in_place,
        model.in_place_summary,
        model.in_place_by_zone,
        model.bulk_volume,
    ):
        with pytest.raises(ValueError) as raised:
            call()
        assert str(raised.value) == OVERFLOW


def test_gas_in_place_that_overflows_fails():
    # One column of 1e300 m², 1e5 m thick: about 1.4e304 m³ of pore volume.
    model = zs.build_flat_model(n=2, area_m2=1e300, gross_height_m=1e5, owc_m=1e6)
    result = model.in_place(bgi=0.5)
    assert all(math.isfinite(result[key]) for key in ("grv_m3", "hcpv_m3", "ooip_sm3", "ogip_sm3"))
    assert result["ogip_sm3"] == result["hcpv_m3"] / 0.5
    with pytest.raises(
        ValueError,
        match=r"^outside validity range: gas in place \(HCPV / Bgi, Bgi 0\.00001\) exceeds",
    ):
        model.in_place(bgi=1e-5)


def test_layers_thinner_than_the_zero_thickness_tolerance_hold_nothing():
    model = zs.build_flat_model(gross_height_m=5e-9)  # five layers of 1e-9 m
    assert model.in_place()["cells_in_column"] == 0
    assert model.bulk_volume() == 0.0
    assert zs.build_flat_model(gross_height_m=1e-6).in_place()["cells_in_column"] == 500


def run_with_address_space(limit_mib, script):
    """Runs `script` in a fresh interpreter whose address space is capped, returning its output."""
    prologue = textwrap.dedent(
        f"""
        import resource
        resource.setrlimit(resource.RLIMIT_AS, ({limit_mib} << 20, {limit_mib} << 20))
        import _zorvastatic as zs
        """
    )
    done = subprocess.run(
        [sys.executable, "-c", prologue + textwrap.dedent(script)],
        check=False,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def test_allocation_failures_are_errors_naming_the_stage():
    lines = run_with_address_space(
        768,
        """
        # 15 million cells: about 1.4 GB, which the machine has but the process may not take.
        try:
            zs.build_flat_model(n=867, nk=20)
            print("built")
        except MemoryError as error:
            print(type(error).__name__, error)
        # the process goes on working
        print(zs.build_flat_model(n=11).in_place()["cells_in_column"])
        """,
    )
    assert lines == ["MemoryError out of memory while layering the grid", "500"]
