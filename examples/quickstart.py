"""Quickstart: a two-zone model from numpy surfaces, the picks of four wells and one porosity
log spread by sequential Gaussian simulation; prints the volumes of each zone."""

import numpy as np

import zorvastatic as zv

# Inputs as a user has them: three depth maps on a 50 m lattice (rotated 15 degrees), the picks
# of four wells and one porosity log. Surfaces are (ncol, nrow) arrays, depth positive down.
lat = zv.Lattice(
    ncol=41, nrow=31, xori=456_000.0, yori=6_780_000.0, xinc=50.0, yinc=50.0, rotation=15.0
)
x, y = lat.node_coordinates()
top = 1700.0 + 0.02 * (x - 456_000.0) + 5.0 * np.sin(y / 300.0)
mid = top + 25.0 + 0.002 * (y - 6_780_000.0)
base = mid + 30.0

wx, wy = lat.node_xy([8.3, 30.6, 12.1, 25.4], [6.2, 9.7, 22.5, 24.8])
nodes = lat.nearest_node(wx, wy)
picks = zv.Picks(
    well=["A1", "A2", "A3", "A4"] * 3,
    horizon=["TopA"] * 4 + ["TopB"] * 4 + ["BaseB"] * 4,
    x=np.tile(wx, 3),
    y=np.tile(wy, 3),
    z=np.concatenate([s[nodes] + [1.5, -2.0, 0.5, 1.0] for s in (top, mid, base)]),
)
depth = np.arange(1700.0, 1830.0, 0.5)
phit = zv.WellLog("A1", x=wx[0], y=wy[0], depth=depth, values=0.22 + 0.03 * np.sin(depth / 4.0))

# The model: three horizons, two zones with their contacts, ties to the picks, simulated PORO.
spec = zv.ModelSpec(
    lattice=lat,
    horizons=[
        zv.Horizon("TopA", zv.Surface(lat, top)),
        zv.Horizon("TopB", zv.Surface(lat, mid)),
        zv.Horizon("BaseB", zv.Surface(lat, base)),
    ],
    zones=[
        zv.Zone("A", zv.Proportional(10), zv.Contacts(goc=1715.0, owc=1745.0)),
        zv.Zone("B", zv.Proportional(8), zv.Contacts(owc=1770.0)),
    ],
    well_ties=picks,
    tie_radius_m=300.0,
    pipelines=[
        zv.Pipeline(
            "PORO",
            [phit],
            variogram=zv.Variogram("spherical", major=800.0, minor=400.0, azimuth=30.0),
            seed=42,
        )
    ],
)
model = zv.build(spec)

print(model)
for tie in model.provenance.ties[:3]:
    print(
        f"tie {tie.well} {tie.horizon}: pick {tie.pick_m:.1f} m, residual {tie.residual_m:+.2f} m"
    )
for zone in model.in_place_by_zone(boi=1.2):
    print(
        f"zone {zone.zone}: GRV {zone.grv_m3:,.0f} m3, HCPV {zone.hcpv_m3:,.0f} m3, "
        f"OOIP {zone.ooip_sm3:,.0f} Sm3"
    )
