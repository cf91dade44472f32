"""Quick-look pictures (matplotlib), the notebook summary table and the bundle geometry they
share."""

import dataclasses
import doctest
import html.parser
import importlib
import json
import math
import re
import sys

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st

import _zorvastatic as zs
from zorvastatic import plotting
from zorvastatic._bundles import Frame, load_bundle, section_cell_count, section_extents
from zorvastatic._summary import summary_html

matplotlib = pytest.importorskip("matplotlib")
FigureCanvasAgg = pytest.importorskip("matplotlib.backends.backend_agg").FigureCanvasAgg
Normalize = matplotlib.colors.Normalize
to_rgb = matplotlib.colors.to_rgb


def simulated_model(propagate=True):
    wells = [
        zs.WellLog(x, y, [(1000.5 + d, 0.2 + 0.06 * math.sin(d / 3 + x / 200)) for d in range(20)])
        for x, y in [(150.0, 250.0), (850.0, 700.0), (500.0, 500.0)]
    ]
    pipeline = zs.PropertyPipeline(
        "PORO", wells, "arith", "sph", range_m=600.0, seed=5, propagate=propagate
    )
    return pipeline.apply_to_flat_model(n=11, area_m2=1.0e6, nk=4, owc_m=1012.0)  # 10 x 10 x 4


def rendered(fig):
    canvas = FigureCanvasAgg(fig)
    canvas.draw()
    return np.asarray(canvas.buffer_rgba())[:, :, :3] / 255.0


def pixel(image, ax, x, y):
    px, py = ax.transData.transform((x, y))
    return image[round(float(image.shape[0] - py)), round(float(px))]


def viridis(value, lo, hi):
    return np.array(matplotlib.colormaps["viridis"](Normalize(lo, hi)(value))[:3])


@pytest.mark.parametrize("rotation, yflip", [(0.0, False), (30.0, False), (-115.0, True)])
def test_map_picture_colours_each_column_by_its_value(rotation, yflip):
    bundle = json.loads(simulated_model().map_bundle("PORO", 2))
    bundle["frame"].update(rotation_deg=rotation, yflip=yflip)
    layer = bundle["k_slices"][0]
    fig = plotting.plot_map(bundle, "PORO::k2")
    ax = fig.axes[0]
    image = rendered(fig)
    frame = bundle["frame"]
    turn = np.radians(rotation)
    lo, hi = layer["range"]["min"], layer["range"]["max"]
    for i, j in [(0, 0), (9, 0), (0, 9), (4, 6), (9, 9)]:
        # The column centre in world coordinates: the frame's i and j axes rotated, j mirrored on
        # a flip.
        along = np.array([math.cos(turn), math.sin(turn)]) * frame["spacing_x"] * i
        across = (
            np.array([-math.sin(turn), math.cos(turn)])
            * frame["spacing_y"]
            * j
            * (-1 if yflip else 1)
        )
        x, y = np.array([frame["origin_x"], frame["origin_y"]]) + along + across
        value = layer["values"][j * frame["ncol"] + i]
        assert pixel(image, ax, x, y) == pytest.approx(viridis(value, lo, hi), abs=2 / 255), (i, j)
    assert ax.collections[0].get_array().shape == (10, 10)
    assert fig.axes[1].get_ylabel() == "PORO::k2 (fraction)"


def test_map_picture_of_undefined_columns_wells_and_contacts():
    bundle = json.loads(simulated_model(propagate=False).map_bundle("PORO"))
    bundle["wells"] = [
        {"id": r"A$\q$", "x": 150.0, "y": 250.0, "tie_residual_m": None, "ties": []},
        {"id": "B2", "x": 850.0, "y": 700.0, "tie_residual_m": 2.0, "ties": []},
    ]
    top = bundle["horizons"][0]
    top["values"] = [1000.0 + 2.0 * (n % 10) for n in range(100)]  # dips along i
    top["range"] = {"min": 1000.0, "max": 1018.0}
    bundle["contacts"] = [{"kind": "GOC", "depth_m": 1009.0, "crossing": [False] * 100}]
    fig = plotting.plot_map(bundle)
    ax = fig.axes[0]
    values = ax.collections[0].get_array()
    assert values.mask.sum() == sum(v is None for v in bundle["zone_averages"][0]["values"]) > 0
    empty = bundle["zone_averages"][0]["values"].index(None)
    image = rendered(fig)
    x, y = Frame(bundle["frame"]).to_world(empty % 10, empty // 10)
    assert pixel(image, ax, x, y) == pytest.approx((1.0, 1.0, 1.0))  # no value: nothing painted
    wells = [c for c in ax.collections if c.get_gid() == "wells"]
    assert [tuple(p) for p in wells[0].get_offsets()] == [(150.0, 250.0), (850.0, 700.0)]
    assert [t.get_text() for t in ax.texts] == [r"A\$\q\$", "B2"]  # not read as mathematics
    assert [t.get_text() for t in ax.get_legend().get_texts()] == ["wells", "GOC 1009 m on top"]
    # The contact line runs where the dipping top reaches 1009 m: halfway between columns 4 and 5.
    (contour,) = [c for c in ax.collections if c.get_gid() not in ("layer", "wells")]
    xs = np.concatenate([p.vertices[:, 0] for p in contour.get_paths()])
    assert xs == pytest.approx(np.full_like(xs, 50.0 + 4.5 * 100.0))


def test_map_layer_names_and_missing_matplotlib(monkeypatch):
    bundle = simulated_model().map_bundle("PORO", 0)
    assert plotting.plot_map(bundle, "top").axes[1].get_ylabel() == "top (m)"
    with pytest.raises(
        KeyError, match=re.escape("no layer 'PERM'; it has ['top', 'BASE', 'PORO::")
    ):
        plotting.plot_map(bundle, "PERM")
    with pytest.raises(ValueError, match="map_bundle is not a map bundle"):
        plotting.plot_map(simulated_model().volume_bundle("PORO"))
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    with pytest.raises(ImportError, match=re.escape("pip install zorvastatic[plot]")):
        plotting.plot_map(bundle)


@pytest.mark.parametrize("propagate", [True, False])
def test_section_picture_draws_every_cell_in_its_colour(propagate):
    model = simulated_model(propagate)
    section = load_bundle(
        model.intersection_bundle([(0.0, 250.0), (1000.0, 250.0)], "PORO"), "intersection"
    )
    fig = plotting.plot_section(section)
    ax = fig.axes[0]
    cells = ax.collections[0]
    assert len(cells.get_paths()) == section_cell_count(section) == 4 * len(section["columns"])
    image = rendered(fig)
    left, right = section_extents(section)
    finite = [v for c in section["columns"] for v in c["values"] if v is not None]
    lo, hi = min(finite), max(finite)
    for n in (0, len(section["columns"]) // 2, len(section["columns"]) - 1):
        c = section["columns"][n]
        for k in range(4):
            y = (c["layer_tops"][k] + c["layer_bases"][k]) / 2
            value = c["values"][k]
            expected = to_rgb("#c9c9c9") if value is None else viridis(value, lo, hi)
            got = pixel(image, ax, (left[n] + right[n]) / 2, y)
            assert got == pytest.approx(expected, abs=2 / 255), (n, k, value)
    assert ax.yaxis_inverted()
    assert fig.axes[1].get_ylabel() == "PORO (fraction)"
    labels = [t.get_text() for t in ax.get_legend().get_texts()]
    assert labels == ["top", "BASE", "OWC 1012 m"]


def test_section_picture_by_zone_and_refusals():
    model = simulated_model()
    bundle = json.loads(model.intersection_bundle([(0.0, 500.0), (1000.0, 500.0)]))
    bundle["zones"][0]["color"] = "#12ab34"
    fig = plotting.plot_section(bundle)  # no property: by zone
    faces = fig.axes[0].collections[0].get_facecolors()
    assert len(faces) == section_cell_count(bundle)
    assert all(tuple(f[:3]) == pytest.approx(to_rgb("#12ab34")) for f in faces)
    assert fig.axes[0].get_title() == "Zones"
    with pytest.raises(ValueError, match="color_by='property' needs a bundle made with a property"):
        plotting.plot_section(bundle, color_by="property")
    with pytest.raises(ValueError, match="color_by must be 'property' or 'zone', not 'facies'"):
        plotting.plot_section(bundle, color_by="facies")


def test_frame_places_points_in_the_engines_columns():
    model = zs.build_flat_model(n=9, area_m2=4.0e6)  # 8 x 8 columns of 250 m
    frame = Frame(load_bundle(model.map_bundle(), "map")["frame"])
    section = load_bundle(
        model.intersection_bundle([(10.0, 1990.0), (1990.0, 30.0)]), "intersection"
    )
    for c in section["columns"]:
        u, v = frame.to_frame(c["x"], c["y"])
        assert (int(np.floor(u + 0.5)), int(np.floor(v + 0.5))) == (c["i"], c["j"])


@given(
    rotation=st.floats(-360.0, 360.0),
    yflip=st.booleans(),
    u=st.floats(-50.0, 500.0),
    v=st.floats(-50.0, 500.0),
)
def test_frame_round_trip(rotation, yflip, u, v):
    frame = Frame(
        {
            "origin_x": 456_000.0,
            "origin_y": 6_780_000.0,
            "spacing_x": 25.0,
            "spacing_y": 40.0,
            "ncol": 10,
            "nrow": 10,
            "rotation_deg": rotation,
            "yflip": yflip,
        }
    )
    back = frame.to_frame(*frame.to_world(u, v))
    assert (float(back[0]), float(back[1])) == pytest.approx((u, v), abs=1e-6)


def test_section_extents_follow_the_columns_and_skip_gaps():
    model = zs.build_flat_model()  # 10 x 10 columns of 100 m
    along = load_bundle(model.intersection_bundle([(50, 450), (1050, 450)]), "intersection")
    left, right = section_extents(along)
    assert left == [0.0, 50.0] + [50.0 + 100.0 * n for n in range(1, 9)]
    assert right == left[1:] + [950.0]
    # Out of the grid at x = 1000 and back in at x = 1400 on the way back: no column spans the gap.
    out_and_back = load_bundle(
        model.intersection_bundle([(850, 450), (1400, 450), (1400, 650), (850, 650)]),
        "intersection",
    )
    left, right = section_extents(out_and_back)
    assert [(c["i"], c["j"]) for c in out_and_back["columns"]] == [(8, 4), (9, 4), (9, 6), (8, 6)]
    widths = np.subtract(right, left)
    assert widths.max() <= 100.0 and left[2] - right[1] > 500.0


class Cells(html.parser.HTMLParser):
    """Text of every table row of an HTML fragment."""

    def __init__(self, text):
        super().__init__()
        self.rows, self.caption, self._in = [], "", None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        if tag == "tr":
            self.rows.append([])
        elif tag in ("td", "th"):
            self.rows[-1].append("")
            self._in = "cell"
        elif tag == "caption":
            self._in = "caption"

    def handle_endtag(self, tag):
        if tag in ("td", "th", "caption"):
            self._in = None

    def handle_data(self, data):
        if self._in == "cell":
            self.rows[-1][-1] += data
        elif self._in == "caption":
            self.caption += data


@dataclasses.dataclass
class Zone:
    name: str
    k_start: int
    k_end: int
    color: str | None = None


def test_summary_table_shows_the_engines_volumes():
    model = simulated_model()
    report = json.loads(model.in_place_by_zone(boi=1.25))
    table = Cells(
        summary_html(
            dims=(10, 10, 4),
            zones=[Zone("RESERVOIR", 0, 4)],
            volumes=report,
            properties=model.property_names(),
            notes=["in memory"],
            title="Run 7",
        )
    )
    assert table.caption == "Run 7: 10 × 10 × 4 = 400 cells"
    header, zone, total = table.rows
    assert header == ["Zone", "Layers (k)", "GRV (10⁶ m³)", "HCPV (10⁶ m³)", "OOIP (10⁶ Sm³)"]
    for row, volumes in ((zone, report["zones"][0]), (total, report["total"])):
        shown = [float(text.replace(",", "")) * 1e6 for text in row[2:]]
        assert shown == pytest.approx(
            [volumes["grv_m3"], volumes["hcpv_m3"], volumes["ooip_sm3"]], abs=500.0
        )
    assert zone[:2] == ["RESERVOIR", "0–3 (4)"] and total[:2] == ["Total", "0–3 (4)"]


def test_summary_table_without_fvf_without_volumes_and_with_hostile_names():
    model = zs.build_flat_model()
    plain = Cells(
        summary_html(
            dims=(10, 10, 5),
            zones=[{"name": "RESERVOIR", "k_start": 0, "k_end": 5}],
            volumes=model.in_place_by_zone(),
        )
    )
    assert plain.rows[0][2:] == ["GRV (10⁶ m³)", "HCPV (10⁶ m³)"]  # OOIP equals HCPV at Bo = 1
    assert plain.rows[1][2:] == ["50.000", "7.000"]
    hostile = "<script>alert(1)</script>"
    text = summary_html(
        dims=(2, 2, 3),
        zones=[Zone(hostile, 0, 2, "red;x:url(y)"), Zone("B", 2, 2)],
        title=hostile,
        properties=[hostile],
    )
    assert "<script>" not in text and "url(" not in text
    table = Cells(text)
    assert table.rows == [
        ["Zone", "Layers (k)"],
        [hostile, "0–1 (2)"],
        ["B", "none"],
        ["Total", "0–2 (3)"],
    ]


def test_docstring_examples_run():
    for name in (
        "zorvastatic._bundles",
        "zorvastatic._summary",
        "zorvastatic.plotting",
        "zorvastatic.viewer",
    ):
        result = doctest.testmod(importlib.import_module(name))
        assert result.attempted > 0 and result.failed == 0, name
