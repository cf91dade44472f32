// Draws the map, section and volume bundles inlined in this page with plotly.js.
// Per-column arrays are j-major (index j * ni + i); depths are metres, positive down.
(function () {
  "use strict";

  // Plotly's Viridis, used for every property, so the section's painted cells match their colour bar.
  var VIRIDIS = [[0, "#440154"], [0.0627, "#48186a"], [0.1255, "#472d7b"], [0.1882, "#424086"],
    [0.251, "#3b528b"], [0.3137, "#33638d"], [0.3765, "#2c728e"], [0.4392, "#26828e"],
    [0.502, "#21918c"], [0.5647, "#1fa088"], [0.6275, "#28ae80"], [0.6902, "#3fbc73"],
    [0.7529, "#5ec962"], [0.8157, "#84d44b"], [0.8784, "#addc30"], [0.9412, "#d8e219"], [1, "#fde725"]];
  var DEPTH_SCALE = "YlGnBu";
  var CONTACT_COLOURS = { OWC: "#1f6fd1", GOC: "#d1341f", GWC: "#1f9d55" };
  var NO_VALUE = "#c9c9c9";
  var NO_ZONE = 65535;
  var CONFIG = { responsive: true, displaylogo: false, scrollZoom: true };
  var FONT = { family: "system-ui, -apple-system, Segoe UI, Roboto, Helvetica Neue, Arial, sans-serif", size: 12 };

  function readJson(id) {
    var element = document.getElementById(id);
    return element ? JSON.parse(element.textContent) : null;
  }

  function isNumber(v) { return typeof v === "number" && isFinite(v); }

  function fmt(v, digits) {
    if (!isNumber(v)) return "–";
    return Number(v.toPrecision(digits || 5)).toString();
  }

  // The colour-scale bounds of a value range; a single value gets a narrow band around it.
  function colourRange(lo, hi) {
    if (!isNumber(lo) || !isNumber(hi) || lo > hi) return null;
    if (hi > lo) return [lo, hi];
    var pad = Math.abs(lo) * 0.01 || 0.01;
    return [lo - pad, hi + pad];
  }

  // Plotly reads its labels as a little HTML: names from the model are shown as written.
  function esc(text) { return String(text).replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;"); }

  function withUnits(name, units) { return esc(units ? name + " (" + units + ")" : name); }

  function element(tag, attrs, parent) {
    var node = document.createElement(tag);
    Object.keys(attrs || {}).forEach(function (key) {
      if (key === "text") node.textContent = attrs[key]; else node.setAttribute(key, attrs[key]);
    });
    if (parent) parent.appendChild(node);
    return node;
  }

  // A plot is drawn when it comes near the window, so the first screen of a large model shows at once.
  function whenNear(plot, draw) {
    return new Promise(function (resolve, reject) {
      var watcher = new IntersectionObserver(function (entries) {
        if (!entries.some(function (entry) { return entry.isIntersecting; })) return;
        watcher.disconnect();
        plot.removeAttribute("data-zv-waiting");
        Promise.resolve().then(draw).then(resolve, reject);
      }, { rootMargin: "200px" });
      plot.setAttribute("data-zv-waiting", "");
      watcher.observe(plot);
    });
  }

  function panel(id, heading, note) {
    var section = element("section", { "class": "zv-panel", id: id + "-panel" }, document.getElementById("zv-panels"));
    element("h2", { text: heading }, section);
    var noteNode = element("p", { "class": "zv-note", text: note }, section);
    var controls = element("div", { "class": "zv-controls" }, section);
    var plot = element("div", { "class": "zv-plot", id: id }, section);
    return { controls: controls, plot: plot, note: noteNode };
  }

  function select(controls, label, options, chosen, onChange) {
    var wrap = element("label", { text: label + " " }, controls);
    var box = element("select", {}, wrap);
    var groups = {};
    options.forEach(function (option, n) {
      var parent = box;
      if (option.group) {
        parent = groups[option.group] || (groups[option.group] = element("optgroup", { label: option.group }, box));
      }
      var item = element("option", { value: String(n), text: option.label }, parent);
      if (n === chosen) item.selected = true;
    });
    box.addEventListener("change", function () { onChange(Number(box.value)); });
    return box;
  }

  function baseLayout(extra) {
    var layout = { font: FONT, margin: { l: 70, r: 20, t: 30, b: 60 }, paper_bgcolor: "#ffffff",
      plot_bgcolor: "#ffffff", hovermode: "closest",
      legend: { orientation: "h", x: 0, y: -0.12, yanchor: "top" } };
    Object.keys(extra).forEach(function (key) { layout[key] = extra[key]; });
    return layout;
  }

  function colourBar(title) { return { title: { text: title, side: "right" }, thickness: 16, len: 0.9 }; }

  // ---- Map: one per-column layer at a time on the grid frame ------------------------------------

  function mapLayers(map) {
    var layers = [];
    map.horizons.forEach(function (l) {
      layers.push({ group: "Horizon depth", label: l.name, name: l.name, units: l.units, values: l.values,
        range: l.range, scale: DEPTH_SCALE });
    });
    if (map.horizons.length === 2) {
      var top = map.horizons[0].values, base = map.horizons[1].values;
      var thickness = top.map(function (t, n) {
        return isNumber(t) && isNumber(base[n]) ? base[n] - t : null;
      });
      var range = null;
      thickness.forEach(function (t) {
        if (!isNumber(t)) return;
        range = range ? { min: Math.min(range.min, t), max: Math.max(range.max, t) } : { min: t, max: t };
      });
      layers.push({ group: "Horizon depth", label: "thickness " + map.horizons[0].name + " to " + map.horizons[1].name,
        name: "thickness", units: "m", values: thickness, range: range, scale: "Cividis" });
    }
    map.zone_averages.forEach(function (l) {
      layers.push({ group: "Zone average", label: l.name, name: l.name, units: l.units, values: l.values,
        range: l.range, scale: VIRIDIS });
    });
    map.k_slices.forEach(function (l) {
      layers.push({ group: "Layer", label: l.name, name: l.name, units: l.units, values: l.values,
        range: l.range, scale: VIRIDIS });
    });
    map.contacts.forEach(function (c) {
      var name = c.kind + " " + fmt(c.depth_m) + " m crosses";
      layers.push({ group: "Contact crossing", label: name, name: name, units: "1 = crossed", range: { min: 0, max: 1 },
        values: c.crossing.map(function (b) { return b ? 1 : 0; }),
        scale: [[0, "#f2f2f2"], [1, CONTACT_COLOURS[c.kind] || "#444444"]] });
    });
    return layers;
  }

  function gridOf(values, ni, nj) {
    var rows = new Array(nj);
    for (var j = 0; j < nj; j++) {
      var row = new Array(ni);
      for (var i = 0; i < ni; i++) {
        var v = values[j * ni + i];
        row[i] = isNumber(v) ? v : null;
      }
      rows[j] = row;
    }
    return rows;
  }

  function heatmapStyle(layer, ni, nj) {
    var range = layer.range ? colourRange(layer.range.min, layer.range.max) : null;
    return {
      z: gridOf(layer.values, ni, nj), name: esc(layer.name), colorscale: layer.scale, zauto: !range,
      zmin: range ? range[0] : null, zmax: range ? range[1] : null,
      colorbar: colourBar(withUnits(layer.name, layer.units)),
      hovertemplate: "column i %{x}, j %{y}<br>" + esc(layer.name) + ": %{z:.5~g} " + esc(layer.units || "") + "<extra></extra>"
    };
  }

  function northArrow(frame) {
    // North in the frame, as screen right/up: the frame's axes are drawn at their true scale.
    var r = (frame.rotation_deg || 0) * Math.PI / 180, dx = Math.sin(r), dy = Math.cos(r), len = 28;
    var tip = { xref: "paper", yref: "paper", x: 0.98, y: 0.96, xanchor: "center", yanchor: "middle" };
    var arrow = Object.assign({}, tip, { text: "", showarrow: true, arrowhead: 2, arrowwidth: 1.6, arrowcolor: "#333",
      ax: -dx * len, ay: dy * len });
    var letter = Object.assign({}, tip, { text: "<b>N</b>", showarrow: false, xshift: dx * 10, yshift: dy * 10 });
    return [arrow, letter];
  }

  function drawMap(map, derived) {
    var f = map.frame, ni = f.ncol, nj = f.nrow;
    var layers = mapLayers(map);
    var chosen = 0;
    ["Zone average", "Layer"].some(function (group) {
      for (var n = 0; n < layers.length; n++) if (layers[n].group === group) { chosen = n; return true; }
      return false;
    });
    var note = ni + " × " + nj + " columns of " + fmt(f.spacing_x) + " × " + fmt(f.spacing_y) + " m" +
      (f.rotation_deg ? ", frame rotated " + fmt(f.rotation_deg) + "° counter-clockwise" : "") +
      (f.yflip ? ", j axis flipped" : "") + "; origin (column 0, 0) at x " + fmt(f.origin_x, 10) + ", y " +
      fmt(f.origin_y, 10) + " m. Hover a column for its value.";
    var ui = panel("zv-map", "Map", note);

    var heat = Object.assign({ type: "heatmap", x0: 0, dx: 1, y0: 0, dy: 1, hoverongaps: false,
      meta: "layer" }, heatmapStyle(layers[chosen], ni, nj));
    var traces = [heat];
    var top = map.horizons[0] ? gridOf(map.horizons[0].values, ni, nj) : null;
    map.contacts.forEach(function (c) {
      // Where the contact meets the top horizon: the outer limit of the accumulation on the map.
      if (!top) return;
      traces.push({ type: "contour", z: top, x0: 0, dx: 1, y0: 0, dy: 1, showscale: false, hoverinfo: "skip",
        contours: { start: c.depth_m, end: c.depth_m, size: 1, coloring: "none" },
        line: { color: CONTACT_COLOURS[c.kind] || "#444", width: 2, dash: "dash" },
        name: esc(c.kind + " " + fmt(c.depth_m) + " m on " + map.horizons[0].name), showlegend: true, meta: "contact" });
    });
    derived.outline.forEach(function (ring, n) {
      if (ring.u.length < 2) return;
      traces.push({ type: "scatter", mode: "lines", x: ring.u, y: ring.v, name: "outline", showlegend: n === 0,
        line: { color: "#555", width: 1, dash: "dot" }, hoverinfo: "skip", meta: "outline" });
    });
    if (map.wells.length) {
      traces.push({
        type: "scatter", mode: "markers+text", name: "wells", x: derived.wells.u, y: derived.wells.v,
        text: map.wells.map(function (w) { return esc(w.id); }), textposition: "top center",
        textfont: { color: "#111", size: 12, shadow: "0 0 2px #fff, 0 0 3px #fff, 0 0 4px #fff" },
        marker: { size: 9, color: "#ffffff", line: { color: "#111", width: 1.5 } },
        hovertext: map.wells.map(function (w) {
          var lines = ["<b>" + esc(w.id) + "</b>", "x " + fmt(w.x, 10) + " m, y " + fmt(w.y, 10) + " m",
            "mean tie residual " + (isNumber(w.tie_residual_m) ? fmt(w.tie_residual_m, 4) + " m" : "none")];
          w.ties.forEach(function (t) { lines.push(esc(t.horizon) + ": " + fmt(t.residual_m, 4) + " m"); });
          return lines.join("<br>");
        }),
        hovertemplate: "%{hovertext}<extra></extra>", meta: "wells"
      });
    }
    var layout = baseLayout({
      xaxis: { title: { text: "i (column)" }, zeroline: false, constrain: "domain", showgrid: false },
      yaxis: { title: { text: "j (row)" }, zeroline: false, scaleanchor: "x", scaleratio: f.spacing_y / f.spacing_x,
        autorange: f.yflip ? "reversed" : true, constrain: "domain", showgrid: false },
      annotations: northArrow(f)
    });
    select(ui.controls, "Show", layers, chosen, function (n) {
      var style = heatmapStyle(layers[n], ni, nj), update = {};
      Object.keys(style).forEach(function (key) { update[key] = [style[key]]; });
      Plotly.restyle(ui.plot, update, [0]);
    });
    return whenNear(ui.plot, function () { return Plotly.newPlot(ui.plot, traces, layout, CONFIG); });
  }

  // ---- Section: every cell along the line, against distance and depth ---------------------------
  // Cells are painted on a canvas laid under the axes (thousands of filled shapes would make slow
  // plot traces) and painted again at every zoom; hovering finds the cell under the pointer.

  function hexToRgb(hex) {
    var n = parseInt(hex.slice(1), 16);
    return [(n >> 16) & 255, (n >> 8) & 255, n & 255];
  }

  function scaleColour(scale, t) {
    t = Math.min(1, Math.max(0, t));
    for (var n = 1; n < scale.length; n++) {
      if (t <= scale[n][0] || n === scale.length - 1) {
        var a = scale[n - 1], b = scale[n], w = b[0] > a[0] ? (t - a[0]) / (b[0] - a[0]) : 0;
        var ca = hexToRgb(a[1]), cb = hexToRgb(b[1]);
        return "rgb(" + [0, 1, 2].map(function (k) { return Math.round(ca[k] + (cb[k] - ca[k]) * w); }).join(",") + ")";
      }
    }
    return scale[scale.length - 1][1];
  }

  function sectionCells(section, derived) {
    // Per column, its drawn layers; the corners come with the page (top-left, top-right,
    // bottom-right, bottom-left as distance and depth).
    var columns = section.columns.map(function () { return []; }), cells = derived.cells;
    for (var n = 0; n < cells.k.length; n++) {
      var c = section.columns[cells.column[n]], k = cells.k[n], p = cells.corners.slice(8 * n, 8 * n + 8);
      columns[cells.column[n]].push({ column: c, k: k, xl: p[0], xr: p[2], tl: p[1], tr: p[3], br: p[5], bl: p[7],
        top: c.layer_tops[k], base: c.layer_bases[k], value: c.values.length ? c.values[k] : null, zone: c.zone_ids[k] });
    }
    return columns;
  }

  function legendSwatch(name, colour, meta, visible) {
    return { type: "scatter", mode: "markers", x: [null], y: [null], name: esc(name), meta: meta, visible: visible,
      marker: { symbol: "square", size: 12, color: colour }, hoverinfo: "skip" };
  }

  function hoverBox(container) {
    var box = element("div", { "class": "zv-hover" }, container);
    box.style.display = "none";
    return {
      show: function (lines, x, y) {
        box.textContent = "";
        lines.forEach(function (line, n) {
          if (n) box.appendChild(document.createElement("br"));
          box.appendChild(document.createTextNode(line));
        });
        box.style.display = "block";
        var room = container.clientWidth - box.offsetWidth - 8;
        box.style.left = Math.max(4, Math.min(x + 14, room)) + "px";
        box.style.top = Math.max(4, y - box.offsetHeight - 10) + "px";
      },
      hide: function () { box.style.display = "none"; }
    };
  }

  function drawSection(section, derived) {
    var units = derived.units, property = section.property;
    var columns = sectionCells(section, derived);
    var cellCount = columns.reduce(function (sum, cells) { return sum + cells.length; }, 0);
    var zones = section.zones, zoneColours = derived.zone_colors;
    var lo = Infinity, hi = -Infinity;
    columns.forEach(function (cells) {
      cells.forEach(function (c) { if (isNumber(c.value)) { lo = Math.min(lo, c.value); hi = Math.max(hi, c.value); } });
    });
    var hasValues = property !== null && lo <= hi;
    var bounds = colourRange(lo, hi) || [0, 1];
    var state = { by: hasValues ? "property" : "zone", painted: "", cellsDrawn: 0 };
    var ui = panel("zv-section", "Section", section.columns.length ?
      section.columns.length + " columns along the line, " + cellCount + " cells" +
      (property !== null ? "; coloured by " + property : "") + ". Hover a cell for its value." :
      "The section line does not cross the grid.");

    function zoneName(z) { return z !== NO_ZONE && z < zones.length ? zones[z].name : "no zone"; }
    function fillOf(c) {
      if (state.by === "zone") return c.zone !== NO_ZONE && c.zone < zones.length ? zoneColours[c.zone] : NO_VALUE;
      if (!isNumber(c.value)) return NO_VALUE;
      return scaleColour(VIRIDIS, (c.value - bounds[0]) / (bounds[1] - bounds[0]));
    }

    var traces = [];
    if (hasValues) {
      traces.push({ type: "scatter", mode: "markers", x: [null], y: [null], hoverinfo: "skip", showlegend: false,
        meta: "property-cells", marker: { colorscale: VIRIDIS, cmin: bounds[0], cmax: bounds[1], color: [lo],
          showscale: true, colorbar: colourBar(withUnits(property, units)) } });
    }
    zones.forEach(function (z, n) { traces.push(legendSwatch(z.name, zoneColours[n], "zone-cells", !hasValues)); });

    // Lines: top and base along the cell edges, internal zone boundaries, contacts.
    function edgeLine(pick, isTop) {
      var x = [], y = [];
      columns.forEach(function (cells) {
        var c = cells.length ? cells[pick(cells)] : null;
        if (!c) { x.push(null); y.push(null); return; }
        x.push(c.xl, c.xr);
        y.push(isTop ? c.tl : c.bl, isTop ? c.tr : c.br);
      });
      return { x: x, y: y };
    }
    [[edgeLine(function () { return 0; }, true), section.top_name],
      [edgeLine(function (cells) { return cells.length - 1; }, false), section.base_name]].forEach(function (pair) {
      traces.push({ type: "scatter", mode: "lines", x: pair[0].x, y: pair[0].y, name: esc(pair[1]), hoverinfo: "skip",
        line: { color: "#111", width: 2 }, meta: "horizon" });
    });
    var mids = section.columns.map(function (c, n) { return (derived.left[n] + derived.right[n]) / 2; });
    section.horizon_traces.forEach(function (h) {
      traces.push({ type: "scatter", mode: "lines", x: mids, y: h.depths.map(function (d) { return isNumber(d) ? d : null; }),
        name: esc(h.name), hoverinfo: "skip", line: { color: "#111", width: 1.2, dash: "dot" }, meta: "horizon" });
    });
    var x0 = derived.left.length ? derived.left[0] : 0;
    var x1 = derived.right.length ? derived.right[derived.right.length - 1] : 1;
    section.contacts.forEach(function (c) {
      var name = c.kind + " " + fmt(c.depth_m) + " m";
      traces.push({ type: "scatter", mode: "lines", x: [x0, x1], y: [c.depth_m, c.depth_m], name: name, meta: "contact",
        line: { color: CONTACT_COLOURS[c.kind] || "#444", width: 2, dash: "dash" }, hovertemplate: name + "<extra></extra>" });
    });

    var canvas = document.createElement("canvas");
    function paint(force) {
      var full = ui.plot._fullLayout;
      if (!full || !full.xaxis) return null;
      var xa = full.xaxis, ya = full.yaxis, w = xa._length, h = ya._length;
      var key = [xa.range, ya.range, w, h, state.by].join(" ");
      if (key === state.painted && !force) return null;
      state.painted = key;
      var ratio = window.devicePixelRatio || 1;
      canvas.width = Math.max(1, Math.round(w * ratio));
      canvas.height = Math.max(1, Math.round(h * ratio));
      var ctx = canvas.getContext("2d", { willReadFrequently: true });  // a CPU canvas: its PNG is quick to make
      ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
      ctx.lineJoin = "round";
      var drawn = 0;
      columns.forEach(function (cells) {
        if (!cells.length) return;
        var pl = xa.l2p(cells[0].xl), pr = xa.l2p(cells[0].xr);
        if (Math.max(pl, pr) < 0 || Math.min(pl, pr) > w) return;
        cells.forEach(function (c) {
          ctx.beginPath();
          ctx.moveTo(pl, ya.l2p(c.tl)); ctx.lineTo(pr, ya.l2p(c.tr));
          ctx.lineTo(pr, ya.l2p(c.br)); ctx.lineTo(pl, ya.l2p(c.bl));
          ctx.closePath();
          ctx.fillStyle = ctx.strokeStyle = fillOf(c);
          ctx.fill();
          ctx.lineWidth = 0.6;  // closes the hairline seams between neighbours
          ctx.stroke();
          drawn += 1;
        });
      });
      state.cellsDrawn = drawn;
      return Plotly.relayout(ui.plot, { images: [{ source: canvas.toDataURL("image/png"), xref: "paper", yref: "paper",
        x: 0, y: 1, sizex: 1, sizey: 1, xanchor: "left", yanchor: "top", sizing: "stretch", layer: "below" }] });
    }

    var hover = hoverBox(ui.plot);
    function cellAt(x, y) {
      var lo = 0, hi = columns.length - 1, n = -1;
      while (lo <= hi) {  // last column that starts at or before x
        var mid = (lo + hi) >> 1;
        if (derived.left[mid] <= x) { n = mid; lo = mid + 1; } else hi = mid - 1;
      }
      if (n < 0 || x > derived.right[n]) return null;
      var cells = columns[n], f = (x - derived.left[n]) / (derived.right[n] - derived.left[n] || 1);
      for (var m = 0; m < cells.length; m++) {
        var c = cells[m];
        if (y >= c.tl + f * (c.tr - c.tl) && y <= c.bl + f * (c.br - c.bl)) return c;
      }
      return null;
    }
    ui.plot.addEventListener("mousemove", function (event) {
      var full = ui.plot._fullLayout;
      if (!full || !full.xaxis) return;
      var box = ui.plot.getBoundingClientRect(), xa = full.xaxis, ya = full.yaxis;
      var px = event.clientX - box.left, py = event.clientY - box.top;
      var c = cellAt(xa.p2l(px - xa._offset), ya.p2l(py - ya._offset));
      if (!c || px < xa._offset || px > xa._offset + xa._length || py < ya._offset || py > ya._offset + ya._length) {
        hover.hide();
        return;
      }
      var lines = ["column i " + c.column.i + ", j " + c.column.j + ", layer k " + c.k, "zone " + zoneName(c.zone)];
      if (property !== null) lines.push(property + ": " + fmt(c.value) + " " + units);
      lines.push("top " + fmt(c.top, 6) + " m, base " + fmt(c.base, 6) + " m");
      hover.show(lines, px, py);
    });
    ui.plot.addEventListener("mouseleave", hover.hide);

    if (property !== null) {
      select(ui.controls, "Colour by", [{ label: property }, { label: "zone" }], hasValues ? 0 : 1, function (n) {
        state.by = n === 0 ? "property" : "zone";
        var visible = traces.map(function (t) {
          if (t.meta === "property-cells") return n === 0;
          if (t.meta === "zone-cells") return n === 1;
          return true;
        });
        Plotly.restyle(ui.plot, { visible: visible }).then(function () { paint(true); });
      });
    }
    var layout = baseLayout({
      xaxis: { title: { text: "distance along section (m)" }, zeroline: false, range: [x0, x1], showgrid: false },
      yaxis: { title: { text: "depth (m)" }, autorange: "reversed", zeroline: false, showgrid: false }
    });
    return whenNear(ui.plot, function () {
      return Plotly.newPlot(ui.plot, traces, layout, CONFIG).then(function () {
        ui.plot.on("plotly_afterplot", function () { paint(false); });
        return paint(true);
      });
    }).then(function () {
      return { cells: function () { return state.cellsDrawn; }, colourBy: function () { return state.by; } };
    });
  }

  // ---- Volume: the shell of the defined cells in 3-D ---------------------------------------------

  // The bundle is parsed and the mesh built only when the panel comes into view.
  function drawVolume(readVolume, derived) {
    var property = derived.property, nt = derived.triangles;
    var ui = panel("zv-volume", "Volume", nt ?
      derived.shell_cells + " shell cells of " + derived.cell_count + ", " + nt + " triangles; drag to rotate, scroll to zoom." :
      "No cell of " + property + " has a value: there is no shell to draw.");
    var shown = null, byZone = false;
    select(ui.controls, "Colour by", [{ label: property }, { label: "zone" }], 0, function (n) {
      byZone = n === 1;
      if (shown) Plotly.restyle(ui.plot, byZone ? shown.zoneStyle : shown.propertyStyle, [0]);
    });
    var label = element("label", { text: "Vertical exaggeration × " }, ui.controls);
    var ve = element("input", { type: "number", min: "1", max: "500", step: "1" }, label);
    ve.addEventListener("change", function () {
      var value = Number(ve.value);
      if (shown && isNumber(value) && value > 0) Plotly.relayout(ui.plot, { "scene.aspectratio": shown.aspect(value) });
    });
    return whenNear(ui.plot, function () {
      return readVolume().then(function (bundle) {
        shown = shellMesh(bundle, derived);
        ve.value = String(shown.exaggeration);
        return Plotly.newPlot(ui.plot, [shown.mesh], shown.layout, CONFIG);
      }).then(function (plot) {
        return byZone ? Plotly.restyle(ui.plot, shown.zoneStyle, [0]) : plot;
      });
    });
  }

  function shellMesh(volume, derived) {
    var units = derived.units, property = volume.property;
    var p = volume.positions, nv = p.length / 3, idx = volume.indices, nt = idx.length / 3;
    var x = new Float32Array(nv), y = new Float32Array(nv), z = new Float32Array(nv);
    var lo = [Infinity, Infinity, Infinity], hi = [-Infinity, -Infinity, -Infinity];
    for (var n = 0; n < nv; n++) {
      x[n] = p[3 * n]; y[n] = p[3 * n + 1]; z[n] = p[3 * n + 2];
      for (var a = 0; a < 3; a++) { lo[a] = Math.min(lo[a], p[3 * n + a]); hi[a] = Math.max(hi[a], p[3 * n + a]); }
    }
    var ti = new Uint32Array(nt), tj = new Uint32Array(nt), tk = new Uint32Array(nt);
    var values = new Float32Array(nt), zoneOf = new Float32Array(nt);
    for (var t = 0; t < nt; t++) {
      ti[t] = idx[3 * t]; tj[t] = idx[3 * t + 1]; tk[t] = idx[3 * t + 2];
      var cell = volume.tri_cell[t];
      values[t] = isNumber(volume.cell_values[cell]) ? volume.cell_values[cell] : NaN;
      zoneOf[t] = volume.zone_ids[cell];
    }
    var range = colourRange(volume.value_range.min, volume.value_range.max) || [0, 1];
    var zoneColours = derived.zone_colors, nz = Math.max(volume.zone_names.length, 1);

    var horizontal = Math.max(hi[0] - lo[0], hi[1] - lo[1], 1e-9), vertical = Math.max(hi[2] - lo[2], 1e-9);
    function aspect(ve) {
      return { x: (hi[0] - lo[0]) / horizontal || 1, y: (hi[1] - lo[1]) / horizontal || 1,
        z: Math.max(0.02, Math.min(4, ve * vertical / horizontal)) };
    }
    var exaggeration = Math.max(1, Math.round(0.35 * horizontal / vertical));
    var propertyStyle = { intensity: [values], colorscale: [VIRIDIS], cmin: [range[0]], cmax: [range[1]],
      "colorbar.title.text": [withUnits(property, units)], "colorbar.tickvals": [null], "colorbar.ticktext": [null],
      hovertemplate: ["x %{x:.1f} m, y %{y:.1f} m<br>depth %{z:.2f} m<br>" + esc(property) + ": %{intensity:.5~g} " + units + "<extra></extra>"] };
    var zoneScale = [];
    for (var zn = 0; zn < nz; zn++) {
      var colour = zoneColours[zn] || NO_VALUE;
      zoneScale.push([zn / nz, colour], [(zn + 1) / nz, colour]);
    }
    var zoneStyle = { intensity: [zoneOf], colorscale: [zoneScale], cmin: [-0.5], cmax: [nz - 0.5],
      "colorbar.title.text": ["zone"], "colorbar.tickvals": [volume.zone_names.map(function (_, k) { return k; })],
      "colorbar.ticktext": [volume.zone_names.map(esc)], hovertemplate: ["x %{x:.1f} m, y %{y:.1f} m<br>depth %{z:.2f} m<extra></extra>"] };

    var mesh = { type: "mesh3d", x: x, y: y, z: z, i: ti, j: tj, k: tk, intensitymode: "cell", flatshading: true,
      name: esc(property), meta: "shell", colorbar: colourBar(""), showscale: nt > 0,
      lighting: { ambient: 0.8, diffuse: 0.35, specular: 0.02, roughness: 0.9, fresnel: 0.02 } };
    Object.keys(propertyStyle).forEach(function (key) {
      var path = key.split("."), target = mesh;
      for (var s = 0; s < path.length - 1; s++) target = target[path[s]] = target[path[s]] || {};
      if (propertyStyle[key][0] !== null) target[path[path.length - 1]] = propertyStyle[key][0];
    });
    // Few ticks: every 3-D tick label is turned into triangles, which is slow in software GL.
    var axis = function (title) {
      return { title: { text: title }, backgroundcolor: "#f7f7f7", showbackground: true, nticks: 5, showspikes: false };
    };
    var scene = { xaxis: axis("x (m)"), yaxis: axis("y (m)"), zaxis: Object.assign(axis("depth (m)"), { autorange: "reversed" }),
      aspectmode: "manual", aspectratio: aspect(exaggeration), camera: { eye: { x: 1.05, y: -1.25, z: 0.75 } } };
    return { mesh: mesh, layout: baseLayout({ scene: scene, margin: { l: 0, r: 0, t: 10, b: 0 } }),
      propertyStyle: propertyStyle, zoneStyle: zoneStyle, aspect: aspect, exaggeration: exaggeration };
  }

  // ---- Page ----------------------------------------------------------------------------------------

  function facts(map, section, volume) {
    var parts = [];
    var frame = (map && map.frame) || (section && section.frame);
    if (frame) parts.push(frame.ncol + " × " + frame.nrow + " columns");
    if (volume) parts.push(volume.cell_count + " cells");
    if (section && section.zones.length) parts.push(section.zones.length + " zone" + (section.zones.length > 1 ? "s" : "") + ": " +
      section.zones.map(function (z) { return z.name; }).join(", "));
    var contacts = (map && map.contacts) || (section && section.contacts) || [];
    if (contacts.length) parts.push(contacts.map(function (c) { return c.kind + " " + fmt(c.depth_m) + " m"; }).join(", "));
    var source = (map || section || volume).inputs_ref;
    if (source) parts.push("from " + source);
    return parts.join(" · ");
  }

  function fail(error) {
    var message = "The viewer could not draw this page: " + (error && error.message ? error.message : String(error));
    document.documentElement.setAttribute("data-zv-error", message);
    element("div", { "class": "zv-error", text: message }, document.getElementById("zv-panels"));
    console.error(message);
  }

  // Milliseconds since navigation at each step, for whoever measures the page (a benchmark, a test).
  var timings = { script: performance.now() };
  window.zorvastaticViewer = { timings: timings };
  function timed(name, draw, bundle, extra) {
    var promise = draw(bundle, extra);
    timings[name + "_called"] = performance.now();
    return promise.then(function (result) {
      timings[name] = performance.now();
      window.zorvastaticViewer[name] = result;
      return result;
    });
  }

  try {
    var derived = readJson("zv-derived");
    var map = readJson("zv-map-bundle"), section = readJson("zv-intersection-bundle"), volume = derived.volume;
    timings.parsed = performance.now();
    document.getElementById("zv-facts").textContent = facts(map, section, volume);
    var drawn = [];
    if (map) drawn.push(timed("map", drawMap, map, Object.assign({ units: derived.units }, derived.map)));
    if (section) drawn.push(timed("section", drawSection, section, Object.assign({ units: derived.units }, derived.section)));
    if (volume) {
      // The volume's data closes the page, after the scripts, so that the first screen draws
      // while the browser still reads it; the panel waits for the whole page when it shows.
      var parsed = new Promise(function (resolve) {
        if (document.readyState !== "loading") resolve();
        else document.addEventListener("DOMContentLoaded", resolve, { once: true });
      });
      var readVolume = function () { return parsed.then(function () { return readJson("zv-volume-bundle"); }); };
      drawn.push(timed("volume", drawVolume, readVolume, Object.assign({ units: derived.units }, volume)));
    }
    Promise.all(drawn).then(function () {
      timings.ready = performance.now();
      document.documentElement.setAttribute("data-zv-ready", "true");
    }, fail);
  } catch (error) {
    fail(error);
  }
})();
