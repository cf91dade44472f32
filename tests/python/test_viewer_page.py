"""The offline viewer page, opened in headless chromium with every network request refused."""

import json
import math
import os
import re
import shutil
import sys

import pytest

import _zorvastatic as zs
import zorvastatic as zv
from zorvastatic import viewer
from zorvastatic._bundles import load_bundle, section_cell_count, section_extents

# CI installs the browser and playwright (scripts/deps.sh): there a missing one is a failure.
ON_CI = bool(os.environ.get("CI"))
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"


def wells_every_metre(top_m, count):
    """Three positioned porosity logs sampled every metre, so every layer is conditioned."""
    return [
        zs.WellLog(
            x, y, [(top_m + 0.5 + d, 0.2 + 0.06 * math.sin(d / 3 + x / 200)) for d in range(count)]
        )
        for x, y in [(150.0, 250.0), (850.0, 700.0), (500.0, 500.0)]
    ]


def simulated_model():
    pipeline = zs.PropertyPipeline(
        "PORO", wells_every_metre(1000.0, 20), "arith", "sph", range_m=600.0, seed=11
    )
    # 12 x 12 x 4 cells of 83 m x 83 m x 5 m below 1000 m
    return pipeline.apply_to_flat_model(n=13, area_m2=1.0e6, nk=4, owc_m=1012.0)


def upscaled_only_model():
    """Only the well columns carry PORO; every other cell is NaN."""
    pipeline = zs.PropertyPipeline(
        "PORO",
        wells_every_metre(1000.0, 20),
        "arith",
        "sph",
        range_m=600.0,
        seed=1,
        propagate=False,
    )
    return pipeline.apply_to_flat_model(n=9, area_m2=1.0e6, nk=3)


@pytest.fixture(scope="module")
def browser():
    try:
        from playwright.sync_api import sync_playwright
    except ImportError:
        if ON_CI:
            pytest.fail("playwright is not installed (scripts/deps.sh installs it)")
        pytest.skip("playwright is not installed")
    if not os.path.exists(CHROMIUM):
        if ON_CI:
            pytest.fail("chromium is not installed (scripts/deps.sh installs it)")
        pytest.skip("chromium is not installed")
    with sync_playwright() as playwright:
        launched = playwright.chromium.launch(
            executable_path=CHROMIUM,
            args=["--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader"],
        )
        yield launched
        launched.close()


class OpenedPage:
    """A page loaded from a file with only file: and data: requests allowed, and what went wrong
    in it."""

    def __init__(self, browser, path):
        self.refused, self.errors, self.dialogs = [], [], []
        self.page = browser.new_page(viewport={"width": 1280, "height": 2400})
        self.page.on("console", lambda m: self.errors.append(m.text) if m.type == "error" else None)
        self.page.on("pageerror", lambda e: self.errors.append(str(e)))
        self.page.on("dialog", lambda d: (self.dialogs.append(d.message), d.dismiss()))
        self.page.route("**/*", self._route)
        self.page.goto(path.as_uri())
        self.page.wait_for_selector(
            "html[data-zv-ready], html[data-zv-error]", state="attached", timeout=90_000
        )

    def _route(self, route):
        if route.request.url.startswith(("file:", "data:")):
            route.continue_()
        else:
            self.refused.append(route.request.url)
            route.abort()

    def js(self, expression, arg=None):
        return self.page.evaluate(expression, arg)

    def assert_clean(self):
        assert self.page.get_attribute("html", "data-zv-error") is None
        assert self.page.get_attribute("html", "data-zv-ready") == "true"
        assert (self.refused, self.errors, self.dialogs) == ([], [], [])

    def to_screen(self, plot_id, x, y):
        """Viewport pixel of data point (x, y) on a 2-D plot."""
        return self.js(
            """([id, x, y]) => {
            const gd = document.getElementById(id), xa = gd._fullLayout.xaxis, """
            """ya = gd._fullLayout.yaxis;
            const box = gd.getBoundingClientRect();
            return [box.left + xa._offset + xa.l2p(x), box.top + ya._offset + ya.l2p(y)];
        }""",
            [plot_id, x, y],
        )

    def traces(self, plot_id):
        return self.js(
            """id => document.getElementById(id).data.map(t => ({
            type: t.type, meta: t.meta === undefined ? null : t.meta, """
            """name: t.name === undefined ? null : t.name,
            visible: t.visible === undefined ? true : t.visible,
            length: t.x && t.type !== "heatmap" ? t.x.length : null }))""",
            plot_id,
        )

    def panel_pixel_spread(self, plot_id):
        """Standard deviation of the grey levels of a plot's screenshot."""
        from PIL import Image, ImageStat

        path = f"/tmp/zv-shot-{os.getpid()}-{plot_id}.png"
        self.page.locator(f"#{plot_id}").screenshot(path=path)
        with Image.open(path) as image:
            spread = ImageStat.Stat(image.convert("L")).stddev[0]
        os.remove(path)
        return spread


@pytest.fixture(scope="module")
def model():
    return simulated_model()


@pytest.fixture(scope="module")
def bundles(model):
    return {
        "map": load_bundle(model.map_bundle("PORO", 0), "map"),
        "intersection": load_bundle(
            model.intersection_bundle([(0.0, 80.0), (1000.0, 930.0)], "PORO"), "intersection"
        ),
        "volume": load_bundle(model.volume_bundle("PORO"), "volume"),
    }


@pytest.fixture(scope="module")
def opened(browser, model, tmp_path_factory):
    path = tmp_path_factory.mktemp("page") / "model.html"
    viewer.write_model_html(
        path, model, section=[(0.0, 80.0), (1000.0, 930.0)], title="Simulated PORO"
    )
    page = OpenedPage(browser, path)
    yield page
    page.page.close()


def test_page_draws_every_bundle_offline(opened, bundles):
    opened.assert_clean()
    map_bundle, section, volume = bundles["map"], bundles["intersection"], bundles["volume"]
    ni, nj = map_bundle["frame"]["ncol"], map_bundle["frame"]["nrow"]

    traces = opened.traces("zv-map")
    assert [t["type"] for t in traces if t["meta"] == "layer"] == ["heatmap"]
    assert opened.js(
        "() => { const z = document.getElementById('zv-map').data[0].z; "
        "return [z.length, z[0].length]; }"
    ) == [nj, ni]
    shown = opened.js("() => document.getElementById('zv-map').data[0].z.flat()")
    assert shown == pytest.approx(map_bundle["zone_averages"][0]["values"])
    assert [t["name"] for t in traces if t["meta"] == "contact"] == [
        f"{c['kind']} {c['depth_m']:g} m on top" for c in map_bundle["contacts"]
    ]

    assert opened.js("() => zorvastaticViewer.section.cells()") == section_cell_count(section) > 0
    assert [t["name"] for t in opened.traces("zv-section") if t["meta"] == "contact"] == [
        "OWC 1012 m"
    ]

    mesh = opened.js(
        """() => { const t = document.getElementById('zv-volume').data[0];
                               return [t.type, t.x.length, t.i.length, t.j.length, """
        """t.k.length, t.intensity.length]; }"""
    )
    triangles = len(volume["indices"]) // 3
    assert mesh == [
        "mesh3d",
        len(volume["positions"]) // 3,
        triangles,
        triangles,
        triangles,
        triangles,
    ]

    for plot_id in ("zv-map", "zv-section", "zv-volume"):
        assert opened.panel_pixel_spread(plot_id) > 20.0, plot_id


HOVER_TEXT = (
    "() => Array.from(document.querySelectorAll('#zv-map .hoverlayer .hovertext'))"
    ".map(n => n.textContent)"
)


@pytest.mark.parametrize("i, j", [(0, 0), (11, 0), (0, 11), (5, 7), (11, 11)])
def test_hovering_a_map_column_shows_its_value(opened, bundles, i, j):
    layer = bundles["map"]["zone_averages"][0]
    ni = bundles["map"]["frame"]["ncol"]
    x, y = opened.to_screen("zv-map", i, j)
    opened.page.mouse.move(x, y)
    opened.page.wait_for_function(f"({HOVER_TEXT})().length > 0", timeout=10_000)
    (text,) = opened.js(HOVER_TEXT)
    match = re.fullmatch(
        rf"column i (\d+), j (\d+){re.escape(layer['name'])}: (\S+) fraction", text
    )
    assert match, text
    assert (int(match[1]), int(match[2])) == (i, j)
    assert float(match[3]) == pytest.approx(layer["values"][j * ni + i], rel=1e-4)
    opened.page.mouse.move(1, 1)


@pytest.mark.parametrize("column, layer", [(0, 0), (7, 2), (-1, 3)])
def test_hovering_a_section_cell_shows_its_value(opened, bundles, column, layer):
    section = bundles["intersection"]
    left, right = section_extents(section)
    c = section["columns"][column]
    x = (left[column] + right[column]) / 2
    y = (c["layer_tops"][layer] + c["layer_bases"][layer]) / 2
    opened.page.mouse.move(*opened.to_screen("zv-section", x, y))
    hover = opened.page.locator("#zv-section .zv-hover")
    hover.wait_for(state="visible", timeout=10_000)
    lines = hover.inner_text().splitlines()
    assert lines[0] == f"column i {c['i']}, j {c['j']}, layer k {layer}"
    assert lines[1] == "zone RESERVOIR"
    name, value, units = lines[2].split(" ")
    assert (name, units) == ("PORO:", "fraction")
    assert float(value) == pytest.approx(c["values"][layer], rel=1e-4)
    opened.page.mouse.move(1, 1)


def test_controls_switch_what_is_drawn(opened, bundles):
    # Map: the k-slice layer replaces the zone average.
    k_slice = bundles["map"]["k_slices"][0]
    opened.page.locator("#zv-map-panel select").select_option(label=k_slice["name"])
    opened.page.wait_for_function("document.getElementById('zv-map').data[0].name === 'PORO::k0'")
    assert opened.js("() => document.getElementById('zv-map').data[0].z.flat()") == pytest.approx(
        k_slice["values"]
    )
    # Section: cells by zone; the zone legend shows, the colour bar hides, every cell is drawn
    # again.
    opened.page.locator("#zv-section-panel select").select_option(label="zone")
    opened.page.wait_for_function("zorvastaticViewer.section.colourBy() === 'zone'")
    visible = {
        t["meta"]: t["visible"]
        for t in opened.traces("zv-section")
        if (t["meta"] or "").endswith("cells")
    }
    assert visible == {"property-cells": False, "zone-cells": True}
    assert opened.js("() => zorvastaticViewer.section.cells()") == section_cell_count(
        bundles["intersection"]
    )
    # Volume: triangles coloured by their cell's zone.
    opened.page.locator("#zv-volume-panel select").select_option(label="zone")
    opened.page.wait_for_function("document.getElementById('zv-volume').data[0].cmin === -0.5")
    volume = bundles["volume"]
    zones = opened.js("() => Array.from(document.getElementById('zv-volume').data[0].intensity)")
    assert zones == [volume["zone_ids"][cell] for cell in volume["tri_cell"]]
    assert opened.errors == []


def test_default_page_of_a_model_with_undefined_cells(browser, tmp_path):
    model = upscaled_only_model()
    path = viewer.write_model_html(tmp_path / "sparse.html", model)
    page = OpenedPage(browser, path)
    try:
        page.assert_clean()
        assert page.page.title() == "Model: PORO"
        volume = load_bundle(model.volume_bundle("PORO"), "volume")
        assert 0 < len(volume["cell_values"]) < volume["cell_count"]
        assert (
            page.js("() => document.getElementById('zv-volume').data[0].i.length")
            == len(volume["indices"]) // 3
        )
        section = load_bundle(
            model.intersection_bundle(viewer.middle_row(model.map_bundle()), "PORO"), "intersection"
        )
        assert page.js("() => zorvastaticViewer.section.cells()") == section_cell_count(section)
        assert any(
            v is None for c in section["columns"] for v in c["values"]
        )  # drawn grey, not skipped
    finally:
        page.page.close()


def test_hostile_names_stay_text_and_the_sidecar_script_is_shared(browser, tmp_path):
    model = simulated_model()
    hostile = "</script><script>alert('x')</script>&amp;<b>"
    section = json.loads(model.intersection_bundle([(0.0, 500.0), (1000.0, 500.0)]))
    section["inputs_ref"] = hostile
    section["zones"][0]["name"] = hostile
    first = viewer.write_html(
        tmp_path / "a.html", intersection_bundle=section, title=hostile, plotly_js="sidecar"
    )
    (sidecar,) = tmp_path.glob("plotly-*.min.js")
    stamp = sidecar.stat().st_mtime_ns
    second = viewer.write_html(
        tmp_path / "b.html", map_bundle=model.map_bundle(), plotly_js="sidecar"
    )
    assert sidecar.stat().st_mtime_ns == stamp  # written once for both pages
    assert sorted(p.name for p in tmp_path.iterdir()) == ["a.html", "b.html", sidecar.name]
    assert first.stat().st_size < 200_000 and second.stat().st_size < 200_000

    for path in (first, second):
        page = OpenedPage(browser, path)
        try:
            page.assert_clean()
            if path is first:
                assert page.page.title() == hostile
                assert hostile in page.page.inner_text("#zv-facts")
                legend = page.js(
                    "() => Array.from(document.querySelectorAll('#zv-section .legendtext'),"
                    " n => n.textContent)"
                )
                assert legend.count(hostile) == 1  # the zone's name, shown as written
        finally:
            page.page.close()


@pytest.mark.parametrize(
    "change, message",
    [
        (
            lambda b: b.update(schema_version=5),
            "map_bundle has schema_version 5; this package reads 6",
        ),
        (lambda b: b.pop("schema_version"), "map_bundle has schema_version None"),
        (lambda b: b.pop("frame"), "map_bundle is not a map bundle: no 'frame'"),
    ],
)
def test_bundles_not_from_this_engine_are_refused(tmp_path, change, message):
    bundle = json.loads(zs.build_flat_model().map_bundle())
    change(bundle)
    with pytest.raises(ValueError, match=re.escape(message)):
        viewer.write_html(tmp_path / "x.html", map_bundle=bundle)
    assert not (tmp_path / "x.html").exists()


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        (
            {},
            ValueError,
            "write_html needs at least one of map_bundle, intersection_bundle, volume_bundle",
        ),
        ({"volume_bundle": "{not json"}, ValueError, "volume_bundle is not JSON"),
        ({"volume_bundle": "[6]"}, ValueError, "volume_bundle must be a JSON object, not list"),
        (
            {"intersection_bundle": 6},
            TypeError,
            "intersection_bundle must be the bundle's JSON text or a mapping, not int",
        ),
        (
            {"map_bundle": "MAP", "plotly_js": "cdn"},
            ValueError,
            "plotly_js must be 'inline' or 'sidecar', not 'cdn'",
        ),
    ],
)
def test_refused_arguments(tmp_path, kwargs, error, message):
    with pytest.raises(error, match=re.escape(message)):
        viewer.write_html(tmp_path / "x.html", **kwargs)


def test_a_volume_bundle_is_not_a_map(tmp_path):
    volume = zs.build_flat_model().volume_bundle("PORO")
    with pytest.raises(
        ValueError, match=r"map_bundle is not a map bundle: no 'frame', 'outline', 'horizons'"
    ):
        viewer.write_html(tmp_path / "x.html", map_bundle=volume)


def test_without_plotly_the_error_names_the_extra(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "plotly", None)
    monkeypatch.setitem(sys.modules, "plotly.offline", None)
    with pytest.raises(ImportError, match=re.escape("pip install zorvastatic[viewer]")):
        viewer.write_html(tmp_path / "x.html", map_bundle=zs.build_flat_model().map_bundle())


def test_wells_sit_in_the_engines_columns_and_hover_with_their_ties(browser, tmp_path):
    model = zs.build_flat_model(n=9, area_m2=4.0e6)  # 8 x 8 columns of 250 m
    bundle = json.loads(model.map_bundle())
    # Wells where the engine samples a diagonal section: it names the column of each point.
    samples = json.loads(model.intersection_bundle([(100.0, 1900.0), (1900.0, 300.0)]))["columns"]
    picked = samples[:: max(1, len(samples) // 4)]
    bundle["wells"] = [
        {
            "id": f"W{n}",
            "x": c["x"],
            "y": c["y"],
            "tie_residual_m": -1.0,
            "ties": [
                {"horizon": "top", "residual_m": 1.0},
                {"horizon": "BASE", "residual_m": -3.0},
            ],
        }
        for n, c in enumerate(picked)
    ]
    page = OpenedPage(browser, viewer.write_html(tmp_path / "wells.html", map_bundle=bundle))
    try:
        page.assert_clean()
        wells = page.js("""() => document.getElementById('zv-map').data
                             .filter(t => t.meta === 'wells').map(t => [t.x, t.y, t.text])""")
        ((u, v, names),) = wells
        assert names == [w["id"] for w in bundle["wells"]]
        assert [(round(a), round(b)) for a, b in zip(u, v, strict=False)] == [
            (c["i"], c["j"]) for c in picked
        ]
        page.page.mouse.move(*page.to_screen("zv-map", u[1], v[1]))
        page.page.wait_for_function(f"({HOVER_TEXT})().length > 0", timeout=10_000)
        (text,) = page.js(HOVER_TEXT)
        assert text.startswith("W1") and "mean tie residual -1 m" in text
        assert text.endswith("top: 1 mBASE: -3 m")
    finally:
        page.page.close()


def test_a_models_own_page(browser, tmp_path):
    from test_model_views import two_zone_spec

    model = zv.build(two_zone_spec())
    path = model.write_viewer(tmp_path / "two zones.html", k_slice=5, title="Two zones")
    page = OpenedPage(browser, path)
    try:
        page.assert_clean()
        assert page.page.title() == "Two zones"
        ni, nj, _ = model.dims
        raw = model.raw
        (average, *_) = load_bundle(raw.map_bundle("PORO", 5), "map")["zone_averages"]
        assert page.js("() => document.getElementById('zv-map').data[0].name") == average["name"]
        shown = page.js("() => document.getElementById('zv-map').data[0].z")
        assert (len(shown), len(shown[0])) == (nj, ni)
        assert sum(shown, []) == pytest.approx(average["values"])
        section = load_bundle(
            raw.intersection_bundle(viewer.middle_row(raw.map_bundle()), "PORO"), "intersection"
        )
        assert page.js("() => zorvastaticViewer.section.cells()") == section_cell_count(section)
        assert [z["name"] for z in section["zones"]] == ["A", "B"]
        volume = load_bundle(raw.volume_bundle("PORO"), "volume")
        assert (
            page.js("() => document.getElementById('zv-volume').data[0].i.length")
            == len(volume["indices"]) // 3
        )
    finally:
        page.page.close()
