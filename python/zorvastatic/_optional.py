"""Optional dependencies, imported where they are used."""

from __future__ import annotations

import importlib
from types import ModuleType


def require(module: str, extra: str, feature: str) -> ModuleType:
    """Imports `module`, or raises ImportError naming the extra that installs it.

    Examples
    --------
    >>> require("json", "none", "this example").__name__
    'json'
    """
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(f"{feature} needs {module}: pip install zorvastatic[{extra}]") from error
