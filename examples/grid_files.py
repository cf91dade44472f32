"""A model leaves the engine: its arrays as numpy, the in-place table per zone, region and fluid,
and the grid files that simulators and viewers read, each opened again by its peer library; then
a grid made elsewhere is read back and reported on."""

import os
import tempfile

import numpy as np

import zorvastatic as zv

lat = zv.Lattice(
    ncol=31, nrow=21, xori=456_000.0, yori=6_780_000.0, xinc=50.0, yinc=50.0, rotation=15.0
)
x, y = lat.node_coordinates()
top = 1700.0 + 0.02 * (x - 456_000.0) + 5.0 * np.sin(y / 300.0)
spec = zv.ModelSpec(
    lat,
    [
        zv.Horizon("TopA", zv.Surface(lat, top)),
        zv.Horizon("TopB", zv.Surface(lat, top + 25.0)),
        zv.Horizon("BaseB", zv.Surface(lat, top + 55.0)),
    ],
    [
        zv.Zone("A", zv.Proportional(10), zv.Contacts(goc=1712.0, owc=1735.0)),
        zv.Zone("B", zv.Proportional(8), zv.Contacts(owc=1760.0)),
    ],
    depth_profile=zv.DepthProfile(  # porosity falling, saturation rising with depth
        np.linspace(1690.0, 1800.0, 221), np.linspace(0.28, 0.16, 221), np.linspace(0.2, 0.5, 221)
    ),
)
model = zv.build(spec)

poro = model.property("PORO")  # a read-only view (ni, nj, nk) of the engine's own values
print("PORO", poro.shape, "mean", round(float(poro.mean()), 4))

regions = np.where(np.arange(model.dims[0])[:, None] < 15, 1, 2) * np.ones(model.dims[:2], int)
table = model.volumetrics(
    zv.Fluids(bo=1.25, bg=0.005, rs=110.0), regions=regions, region_names={1: "West", 2: "East"}
)
print(table[["ZONE", "REGION", "FLUID", "BULK", "HCPV", "STOIIP", "GIIP"]].to_string(index=False))

folder = tempfile.mkdtemp()
paths = {kind: os.path.join(folder, f"model.{kind}") for kind in ("grdecl", "egrid", "roff", "vtk")}
model.to_grdecl(paths["grdecl"])
model.to_egrid(paths["egrid"])
model.to_roff(paths["roff"])
model.to_vtk(paths["vtk"])

import pyvista  # noqa: E402  (the peers, imported where they are used)
import resfo  # noqa: E402
import roffio  # noqa: E402
import xtgeo  # noqa: E402

print("xtgeo GRDECL", xtgeo.grid_from_file(paths["grdecl"], fformat="grdecl").dimensions)
print("resfo EGRID", [kw.strip() for kw, _ in resfo.read(paths["egrid"])][:5])
print("roffio ROFF", {k: int(v) for k, v in roffio.read(paths["roff"])["dimensions"].items()})
print("pyvista VTK", pyvista.read(paths["vtk"]).n_cells, "cells")

other = zv.read_grid(
    paths["grdecl"],
    contacts={"A": zv.Contacts(goc=1712.0, owc=1735.0), "B": zv.Contacts(owc=1760.0)},
    zones=[(z.name, z.k_start, z.k_end) for z in model.zones],
)
for zone in other.in_place_by_zone(boi=1.25):
    print(f"read back: zone {zone.zone}: HCPV {zone.hcpv_m3:.6g} m3")
