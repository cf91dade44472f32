"""zorvastatic: static reservoir models from surfaces, picks, logs and zones.

Describe a model with a `ModelSpec` (a `Lattice`, `Horizon` surfaces or picks, `Zone` layering
with `Contacts` and `Priors`, property `Pipeline` s) and `build` it::

    import zorvastatic as zv
    model = zv.build(spec)
    for zone in model.in_place_by_zone(boi=1.2):
        print(zone.zone, zone.grv_m3, zone.ooip_sm3)
    table = model.volumetrics(zv.Fluids(bo=1.2, bg=0.005))   # ZONE, REGION, FLUID, BULK, ...
    model.to_grdecl("model.grdecl")                         # also to_roff, to_egrid, to_vtk
    other = zv.read_grid("elsewhere.grdecl", contacts=zv.Contacts(owc=2100.0))
    ens = zv.run_ensemble(make_spec, zv.ensemble.sample(distributions, n=200, seed=1))

Arrays follow one order everywhere: surfaces are ``(ncol, nrow)`` indexed ``[i, j]``, cell arrays
``(ni, nj, nk)`` indexed ``[i, j, k]`` (``model.property("PORO")``); depth is positive down.
Only numpy is required; pandas, dask, lasio, xtgeo, pyvista, roffio, resfo and gstools are optional.
The engine's own module is ``_zorvastatic``.
"""

from __future__ import annotations

try:
    import _zorvastatic
except ImportError as error:  # pragma: no cover - an installation fault
    raise ImportError(
        "zorvastatic needs its compiled extension _zorvastatic: install the package with "
        "'pip install .' from the source tree"
    ) from error

from . import ensemble, io
from ._errors import (
    AlgorithmError,
    CrossedSurfacesError,
    GridError,
    InvalidInputError,
    MonteCarloDrawError,
    OutOfRangeError,
)
from ._geom import Lattice, Surface, Taper
from ._grid_model import model_from_arrays, read_grid
from ._model import Model, ZoneInfo, ZoneVolumes, build
from ._progress import Progress
from ._props import ArealTrend, DepthProfile, Pipeline, Search, Trend, Variogram
from ._provenance import (
    BuildNote,
    HorizonResolution,
    InterfaceRepair,
    PropertyReport,
    Provenance,
    TieResidual,
    ZoneLayering,
)
from ._spec import (
    BaseConform,
    BuildOptions,
    Contacts,
    Horizon,
    ModelSpec,
    Priors,
    Proportional,
    TopConform,
    Zone,
)
from ._threads import get_num_threads, set_num_threads, thread_limit
from ._volumetrics import Fluids
from ._warnings import BuildWarning, InputWarning, WellOutsideGridWarning
from ._wells import Picks, WellLog
from .ensemble import run_ensemble

__version__: str = _zorvastatic.__version__

__all__ = [
    "AlgorithmError",
    "ArealTrend",
    "BaseConform",
    "BuildNote",
    "BuildOptions",
    "BuildWarning",
    "Contacts",
    "CrossedSurfacesError",
    "DepthProfile",
    "Fluids",
    "GridError",
    "Horizon",
    "HorizonResolution",
    "InputWarning",
    "InterfaceRepair",
    "InvalidInputError",
    "Lattice",
    "Model",
    "ModelSpec",
    "MonteCarloDrawError",
    "OutOfRangeError",
    "Picks",
    "Pipeline",
    "Priors",
    "Progress",
    "PropertyReport",
    "Proportional",
    "Provenance",
    "Search",
    "Surface",
    "Taper",
    "TieResidual",
    "TopConform",
    "Trend",
    "Variogram",
    "WellLog",
    "WellOutsideGridWarning",
    "Zone",
    "ZoneInfo",
    "ZoneLayering",
    "ZoneVolumes",
    "__version__",
    "build",
    "get_num_threads",
    "ensemble",
    "io",
    "model_from_arrays",
    "read_grid",
    "run_ensemble",
    "set_num_threads",
    "thread_limit",
]
