"""A built Model's pictures and notebook summary: what they show is what the engine holds."""

import json

import numpy as np
import pytest

import zorvastatic as zv
from test_quicklook import Cells
from zorvastatic import viewer
from zorvastatic._bundles import load_bundle, section_cell_count

pytest.importorskip("matplotlib")

LAT = zv.Lattice(ncol=13, nrow=9, xori=4000.0, yori=7000.0, xinc=50.0, yinc=60.0, rotation=20.0)


def two_zone_spec(**options):
    """Three dipping horizons, two zones, a simulated PORO in the upper one."""
    x, y = LAT.node_coordinates()
    dip = 0.02 * (x - x.min()) + 0.01 * (y - y.min())
    horizons = [
        zv.Horizon(name, zv.Surface(LAT, depth + dip))
        for name, depth in (("TopA", 2000.0), ("TopB", 2012.0), ("Base", 2030.0))
    ]
    depth = np.arange(2000.5, 2040.0, 1.0)
    logs = [
        zv.WellLog(name, *LAT.node_xy(fi, fj), depth, 0.2 + 0.05 * np.sin(depth / 3.0 + fi))
        for name, fi, fj in (("W1", 2.5, 2.5), ("W2", 9.5, 5.5))
    ]
    pipeline = zv.Pipeline(
        "PORO", logs, variogram=zv.Variogram("spherical", major=300.0), seed=3, zone="A"
    )
    return zv.ModelSpec(
        LAT,
        horizons,
        [
            zv.Zone("A", zv.Proportional(4), zv.Contacts(owc=2015.0)),
            zv.Zone("B", zv.Proportional(3), zv.Contacts(owc=2015.0)),
        ],
        pipelines=[pipeline],
        **options,
    )


@pytest.fixture(scope="module")
def model():
    return zv.build(two_zone_spec())


def test_map_picture_shows_the_engines_layer(model):
    fig = model.plot_map("PORO", k_slice=2)
    ax = fig.axes[0]
    assert ax.get_title() == "PORO::k2"
    (layer,) = json.loads(model.raw.map_bundle("PORO", k_slice=2))["k_slices"]
    ni, nj, _ = model.dims
    drawn = ax.collections[0].get_array()
    assert drawn.shape == (nj, ni)
    np.testing.assert_allclose(drawn.filled(np.nan).ravel(), np.array(layer["values"], float))
    # Without a k-slice the first zone's average is drawn; without a property, the top's depth.
    assert model.plot_map("PORO").axes[0].get_title() == "PORO::A"
    assert model.plot_map(title="depth").axes[1].get_ylabel() == "TopA (m)"


def test_section_picture_draws_every_cell_along_the_middle_row(model):
    fig = model.plot_section(property="PORO", color_by="zone")
    line = viewer.middle_row(model.raw.map_bundle())
    bundle = load_bundle(model.raw.intersection_bundle(line, "PORO"), "intersection")
    (cells,) = [c for c in fig.axes[0].collections if c.get_gid() == "cells"]
    assert len(cells.get_paths()) == section_cell_count(bundle) > 0
    assert [t.get_text() for t in fig.axes[0].get_legend().get_texts()][:2] == ["A", "B"]
    # A line of our own: the same cells as the engine's bundle of that line.
    own = [LAT.node_xy(0.5, 0.5), LAT.node_xy(11.5, 7.5)]
    fig = model.plot_section(own)
    expected = load_bundle(model.raw.intersection_bundle(own), "intersection")
    assert fig.axes[0].get_title() == "Zones"
    assert len(fig.axes[0].collections[0].get_paths()) == section_cell_count(expected)


def test_notebook_summary_lists_zones_layers_and_the_engines_volumes(model):
    table = Cells(model._repr_html_())
    ni, nj, nk = model.dims
    assert table.caption == f"Model: {ni} × {nj} × {nk} = {ni * nj * nk:,} cells"
    header, a, b, total = table.rows
    assert header == ["Zone", "Layers (k)", "GRV (10⁶ m³)", "HCPV (10⁶ m³)"]
    assert [a[:2], b[:2], total[:2]] == [["A", "0–3 (4)"], ["B", "4–6 (3)"], ["Total", "0–6 (7)"]]
    volumes = model.in_place_by_zone()
    for row, zone in zip((a, b), volumes, strict=True):
        shown = [float(text.replace(",", "")) * 1e6 for text in row[2:]]
        assert shown == pytest.approx([zone.grv_m3, zone.hcpv_m3], abs=500.0)
    assert "properties NTG, PORO, SW" in model._repr_html_()


def test_summary_of_a_spilled_model_reads_no_volumes_and_of_a_closed_one(tmp_path):
    options = zv.BuildOptions(memory_budget=1, spill_dir=str(tmp_path))
    with zv.build(two_zone_spec(options=options)) as spilled:
        text = spilled._repr_html_()
        table = Cells(text)
        assert table.rows[0] == ["Zone", "Layers (k)"]
        assert "model.in_place_by_zone()" in text and spilled.store_path in text
    assert spilled._repr_html_() == '<div class="zorvastatic-summary">Model (closed)</div>'
