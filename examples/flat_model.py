"""The flat synthetic model of the extension module: its in-place volumes, and a porosity
pipeline applied through the flat-model builder."""

import json

import _zorvastatic as zs

print(f"_zorvastatic {zs.__version__}")

# 11 x 11 top nodes at 2000 m over 1 km², 50 m thick in 5 layers, oil-water contact at 2100 m.
model = zs.build_flat_model()
print("in_place:", model.in_place(boi=1.2))
print("in_place_by_zone:", model.in_place_by_zone(boi=1.2))

# A porosity pipeline: two wells upscaled and spread by sequential Gaussian simulation.
wells = [
    zs.WellLog(150.0, 250.0, [(1002.0, 0.18), (1007.0, 0.22), (1013.0, 0.27), (1018.0, 0.24)]),
    zs.WellLog(850.0, 700.0, [(1003.0, 0.12), (1008.0, 0.15), (1012.0, 0.2), (1017.0, 0.19)]),
]
pipeline = zs.PropertyPipeline("PORO", wells, "arithmetic", "spherical", range_m=600.0, seed=7)
print(pipeline)
simulated = pipeline.apply_to_flat_model(area_m2=1.0e6)
print("simulated in_place:", simulated.in_place())

section = json.loads(simulated.intersection_bundle([(0.0, 500.0), (1000.0, 500.0)], "PORO"))
print(
    f"section: {len(section['columns'])} columns, top layer PORO along the line:",
    [round(c["values"][0], 3) for c in section["columns"]],
)
