"""The examples in the file layer's docstrings run and print what they say."""

from __future__ import annotations

import doctest
import importlib

import pytest

import io_grids  # noqa: F401  (makes the package importable from the source tree)

MODULES = [
    "",
    "._arrays",
    "._files",
    "._layout",
    "._read",
    ".egrid",
    ".grdecl",
    ".roff",
    ".vtk",
    ".xtgeo",
]


@pytest.mark.parametrize("suffix", MODULES)
def test_docstring_examples(suffix):
    pytest.importorskip("xtgeo")
    pytest.importorskip("pyvista")
    module = importlib.import_module("zorvastatic.io" + suffix)
    result = doctest.testmod(module, optionflags=doctest.ELLIPSIS)
    assert result.attempted > 0
    assert result.failed == 0
