"""From a `ModelSpec` to the engine's builder: the checks made before a build, the choice of
road and the calls that hand every input over (copied) to the extension."""

from __future__ import annotations

import warnings
from typing import Any

import numpy as np

import _zorvastatic

from ._geom import Lattice, Surface
from ._props import Pipeline, Variogram
from ._spec import BaseConform, Horizon, ModelSpec, Proportional, TopConform, Zone
from ._warnings import InputWarning, WellOutsideGridWarning
from ._wells import Picks, WellLog

# A well exactly on a column edge is moved this far (in node units) into its column, so that
# the engine's rounding places it where the lattice does.
_EDGE_NUDGE = 1e-6


def _unique(names: list[str], what: str) -> None:
    seen: set[str] = set()
    for name in names:
        if name in seen:
            raise ValueError(f"ModelSpec: {what} name '{name}' is used twice")
        seen.add(name)


def _picks_on_nodes(
    picks: Picks, lattice: Lattice, what: str, outside: str
) -> tuple[Picks, np.ndarray, np.ndarray]:
    """The picks inside the lattice with their nearest nodes; outside picks raise or go."""
    i, j = lattice.nearest_node(picks.x, picks.y)
    inside = (i >= 0) & (i < lattice.ncol) & (j >= 0) & (j < lattice.nrow)
    if inside.all():
        return picks, i, j
    if outside == "raise":
        first = int(np.argmin(inside))
        raise ValueError(
            f"{int((~inside).sum())} {what} fall outside the lattice; first: well "
            f"'{picks.well[first]}' at ({picks.x[first]}, {picks.y[first]}) "
            "(BuildOptions(picks_outside='drop') leaves them out)"
        )
    return picks._subset(inside), i[inside], j[inside]


def check(spec: ModelSpec) -> None:
    """Every check made before a build; the first problem raises ValueError."""
    horizons, zones, lattice = spec.horizons, spec.zones, spec.lattice
    if len(horizons) < 2:
        raise ValueError(f"ModelSpec needs at least 2 horizons, got {len(horizons)}")
    if len(zones) != len(horizons) - 1:
        raise ValueError(
            f"ModelSpec has {len(horizons)} horizons and {len(zones)} zones; it needs one zone "
            f"between each pair of adjacent horizons ({len(horizons) - 1})"
        )
    _unique([h.name for h in horizons], "horizon")
    _unique([z.name for z in zones], "zone")
    outside = spec.options.picks_outside
    for horizon in horizons:
        if horizon.surface is not None:
            if horizon.surface.lattice != lattice:
                raise ValueError(
                    f"Horizon '{horizon.name}' lies on {horizon.surface.lattice}, not on the "
                    f"model's {lattice}"
                )
            if horizon.surface.defined == 0:
                raise ValueError(f"Horizon '{horizon.name}': its surface has no defined node")
        else:
            _picks_on_nodes(
                horizon.own_picks(), lattice, f"picks of horizon '{horizon.name}'", outside
            )
    if spec.well_ties is not None:
        _picks_on_nodes(spec.well_ties, lattice, "well-tie picks", outside)
    if not any(zone.contacts.pairs() for zone in zones):
        raise ValueError(
            "ModelSpec needs at least one fluid contact: give a zone Contacts(owc=...), "
            "goc= or gwc="
        )
    names = {zone.name for zone in zones}
    for pipeline in spec.pipelines:
        if pipeline.zone is not None and pipeline.zone not in names:
            raise ValueError(
                f"Pipeline '{pipeline.property}' names zone '{pipeline.zone}', which is not "
                f"one of the zones {sorted(names)}"
            )


def _layering(zone: Zone) -> tuple[str, float, int]:
    rule = zone.layering
    if isinstance(rule, Proportional):
        return "proportional", 0.0, rule.nk
    if isinstance(rule, TopConform):
        return "top_conform", rule.dz, 1
    assert isinstance(rule, BaseConform)
    return "base_conform", rule.dz, 1


def _trend(surface: Surface) -> tuple[Any, ...]:
    lat = surface.lattice
    return (
        surface.depths_i_fastest(),
        lat.ncol,
        lat.nrow,
        lat.xori,
        lat.yori,
        lat.xinc,
        lat.yinc,
        lat.rotation,
        lat.yflip,
    )


def _tops(horizon: Horizon, lattice: Lattice, outside: str) -> np.ndarray:
    """(i, j, z) controls of a tops-only horizon; picks on one node are averaged."""
    picks, i, j = _picks_on_nodes(
        horizon.own_picks(), lattice, f"picks of horizon '{horizon.name}'", outside
    )
    node = i + lattice.ncol * j
    order = list(dict.fromkeys(node.tolist()))
    if len(order) < len(node):
        warnings.warn(
            f"{len(node) - len(order)} pick(s) of horizon '{horizon.name}' share a node with "
            "another pick and were averaged",
            InputWarning,
            stacklevel=4,
        )
    rows = [(n % lattice.ncol, n // lattice.ncol, float(picks.z[node == n].mean())) for n in order]
    return np.ascontiguousarray(rows, dtype=np.float64).reshape(-1, 3)


def _add_ties(builder: Any, ties: Picks, lattice: Lattice, outside: str) -> None:
    """One engine tie per well and node, in order of first appearance."""
    picks, i, j = _picks_on_nodes(ties, lattice, "well-tie picks", outside)
    groups: dict[tuple[str, int, int], list[int]] = {}
    for row, key in enumerate(zip(picks.well, i.tolist(), j.tolist(), strict=True)):
        groups.setdefault(key, []).append(row)
    for (well, ti, tj), rows in groups.items():
        builder.add_well_tie(
            well,
            float(picks.x[rows].mean()),
            float(picks.y[rows].mean()),
            ti,
            tj,
            [(picks.horizon[r], float(picks.z[r])) for r in rows],
        )


def _well_positions(logs: tuple[WellLog, ...], lattice: Lattice) -> list[tuple[Any, ...]]:
    """The logs inside the lattice as (x, y, depths, values), placed in the frame the engine
    tries first: local metres when the lattice is neither rotated nor flipped, world
    otherwise."""
    wells: list[tuple[Any, ...]] = []
    left_out: list[str] = []
    for log in logs:
        fi, fj = lattice.xy_to_ij(log.x, log.y)
        tol = 1e-9
        if not (-tol <= fi <= lattice.ncol - 1 + tol and -tol <= fj <= lattice.nrow - 1 + tol):
            left_out.append(log.name)
            continue
        placed = []
        for f, n in ((fi, lattice.ncol), (fj, lattice.nrow)):
            column = min(max(int(np.floor(f)), 0), n - 2) if n >= 2 else 0
            placed.append(min(max(f, column + _EDGE_NUDGE), column + 1 - _EDGE_NUDGE))
        if lattice.rotation == 0 and not lattice.yflip:
            x, y = placed[0] * lattice.xinc, placed[1] * lattice.yinc
        else:
            x, y = lattice.node_xy(placed[0], placed[1])
        wells.append((x, y, log.depth, log.values))
    if left_out:
        warnings.warn(
            f"{len(left_out)} well log(s) lie outside the lattice and are left out: "
            + ", ".join(f"'{name}'" for name in left_out),
            WellOutsideGridWarning,
            stacklevel=4,
        )
    return wells


def _add_pipeline(builder: Any, pipeline: Pipeline, lattice: Lattice) -> None:
    arguments: dict[str, Any] = {}
    variogram: Variogram | None = pipeline.variogram
    if variogram is not None:
        major, minor, vertical = variogram.ranges
        arguments.update(
            model=variogram.model,
            major_m=major,
            minor_m=minor,
            vertical_m=vertical,
            azimuth=variogram.azimuth,
            sill=variogram.sill,
            nugget=variogram.nugget,
            seed=pipeline.seed,
            allow_mean_fill=pipeline.allow_mean_fill,
            unbounded_search=pipeline.unbounded_search,
        )
        if pipeline.search is not None:
            arguments.update(
                max_neighbours=pipeline.search.max_neighbours, radius_m=pipeline.search.radius_m
            )
        if pipeline.trend is not None:
            arguments.update(trend=_trend(pipeline.trend.surface), rho=pipeline.trend.rho)
    builder.add_pipeline(
        pipeline.zone,
        pipeline.property,
        _well_positions(tuple(pipeline.logs), lattice),
        pipeline.method,
        **arguments,
    )


def lower(spec: ModelSpec) -> Any:
    """A `_zorvastatic._Builder` holding copies of every input of `spec`, on the road the ModelSpec
    calls for."""
    check(spec)
    lattice, options = spec.lattice, spec.options
    ni, nj = lattice.ncol, lattice.nrow
    builder = _zorvastatic._Builder()
    # The engine's georeference places column centres; the pillars stand on the nodes.
    origin_x, origin_y = lattice.node_xy(0.5, 0.5)
    builder.set_georef(
        origin_x, origin_y, lattice.xinc, lattice.yinc, lattice.rotation, lattice.yflip
    )
    builder.set_spacing(lattice.xinc, lattice.yinc)
    area = lattice.xinc * (ni - 1) * lattice.yinc * (nj - 1)
    area = area if area > 0 else 1.0  # a 1-node axis is refused by the engine first
    outside = options.picks_outside
    priors = spec.priors
    populated = (
        bool(spec.pipelines) or spec.depth_profile is not None or spec.areal_trend is not None
    )

    zone_options: dict[str, Any] = {}
    if spec.road == "single-zone":
        top, base = spec.horizons
        zone = spec.zones[0]
        assert top.surface is not None and base.surface is not None
        builder.add_horizon(top.name, "top", top.surface.depths_i_fastest(), ni, nj)
        builder.add_horizon(base.name, "base", base.surface.depths_i_fastest(), ni, nj)
        for kind, depth in zone.contacts.pairs():
            builder.add_contact(kind, depth)
        corners_i, corners_j = [0, ni - 1, ni - 1, 0, 0], [0, 0, nj - 1, nj - 1, 0]
        ring_x, ring_y = lattice.node_xy(corners_i, corners_j)
        builder.set_outline(list(zip(ring_x.tolist(), ring_y.tolist(), strict=True)))
        conformity, dz, nk = _layering(zone)
        if zone.priors is not None and not populated:
            priors = zone.priors  # the same cells, and the build may still stream
        elif zone.priors is not None:
            p = zone.priors
            builder.add_zone_priors(zone.name, p.porosity, p.net_to_gross, p.water_saturation)
        builder.set_spec(
            conformity,
            dz,
            nk,
            area,
            1.0,
            priors.porosity,
            priors.net_to_gross,
            priors.water_saturation,
        )
        zone_options = {"zone_name": zone.name, "zone_label": zone.color}
    else:
        # The wireframe's Top only fixes the lattice; the stack's horizons replace it.
        builder.add_horizon("lattice", "top", np.zeros(ni * nj), ni, nj)
        for zone in spec.zones:
            for kind, depth in zone.contacts.pairs():
                builder.add_contact(kind, depth)
        builder.set_spec(
            "proportional",
            0.0,
            1,
            area,
            1.0,
            priors.porosity,
            priors.net_to_gross,
            priors.water_saturation,
        )
        for horizon in spec.horizons:
            if horizon.surface is not None:
                builder.add_stack_mapped(horizon.name, horizon.surface.depths_i_fastest(), ni, nj)
            else:
                builder.add_stack_tops(horizon.name, _tops(horizon, lattice, outside))
        for zone in spec.zones:
            conformity, dz, nk = _layering(zone)
            builder.add_stack_zone(zone.name, zone.color, conformity, nk, dz, zone.contacts.pairs())
        for zone in spec.zones:
            if zone.priors is not None:
                p = zone.priors
                builder.add_zone_priors(zone.name, p.porosity, p.net_to_gross, p.water_saturation)
        if spec.well_ties is not None and len(spec.well_ties):
            _add_ties(builder, spec.well_ties, lattice, outside)

    taper = options.taper
    builder.set_options(
        taper=taper is not None,
        taper_start=taper.start if taper is not None else 2.0,
        taper_width=taper.width if taper is not None else 4.0,
        min_thickness_m=options.min_thickness_m,
        collapse_below_m=options.collapse_below_m,
        clamp_crossings=options.clamp_crossings,
        tie_radius_m=spec.tie_radius_m,
        sw_gas=options.sw_gas,
        spill_budget_bytes=None if options.memory_budget == "auto" else options.memory_budget,
        spill_dir=options.spill_dir,
        keep_spill_file=options.keep_store,
        sugar_cube=options.sugar_cube,
        inputs_ref=spec.name,
        **zone_options,
    )
    if spec.depth_profile is not None:
        profile = spec.depth_profile
        builder.set_depth_profile(profile.depth, profile.porosity, profile.water_saturation)
    if spec.areal_trend is not None:
        builder.set_areal_trend(_trend(spec.areal_trend.surface), spec.areal_trend.scale_porosity)
    for pipeline in spec.pipelines:
        _add_pipeline(builder, pipeline, lattice)
    return builder
