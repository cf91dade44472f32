"""Look at a model: an offline viewer page and two quick-look pictures of a simulated
porosity model.

    python3 examples/viewer_page.py [OUTPUT_FOLDER]

Writes model.html (open it in any browser, no network needed), map.png and section.png.
"""

import math
import sys
from pathlib import Path

import _zorvastatic as zs
from zorvastatic import plotting, viewer

folder = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
folder.mkdir(parents=True, exist_ok=True)

# Three wells with a porosity log every metre, spread through 20 x 20 x 8 cells by simulation.
wells = [
    zs.WellLog(x, y, [(1000.5 + d, 0.2 + 0.06 * math.sin(d / 3 + x / 200)) for d in range(20)])
    for x, y in [(150.0, 250.0), (850.0, 700.0), (500.0, 500.0)]
]
pipeline = zs.PropertyPipeline("PORO", wells, "arithmetic", "spherical", range_m=600.0, seed=7)
model = pipeline.apply_to_flat_model(n=21, area_m2=1.0e6, nk=8, owc_m=1012.0)

line = [(0.0, 100.0), (1000.0, 900.0)]
page = viewer.write_model_html(
    folder / "model.html", model, property="PORO", section=line, title="Simulated porosity"
)
plotting.plot_map(model.map_bundle("PORO", 0)).savefig(folder / "map.png", dpi=120)
plotting.plot_section(model.intersection_bundle(line, "PORO")).savefig(
    folder / "section.png", dpi=120
)
print(
    f"wrote {page} ({page.stat().st_size / 1e6:.1f} MB), "
    f"{folder / 'map.png'}, {folder / 'section.png'}"
)
