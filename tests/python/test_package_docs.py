"""The package's docstring examples run, and every public name has one."""

import doctest
import importlib
import inspect
import pkgutil

import pytest

import zorvastatic as zv

MODULES = [m.name for m in pkgutil.iter_modules(zv.__path__, "zorvastatic.")]


@pytest.mark.parametrize("name", MODULES)
def test_docstring_examples_run(name):
    pytest.importorskip("xtgeo")
    pytest.importorskip("gstools")
    pytest.importorskip("lasio")
    pytest.importorskip("pandas")
    module = importlib.import_module(name)
    result = doctest.testmod(module, optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    assert result.failed == 0


def public_members():
    for name in zv.__all__:
        if name == "__version__":
            continue
        obj = getattr(zv, name)
        yield name, obj
        if inspect.isclass(obj) and not issubclass(obj, BaseException):
            for attribute, member in vars(obj).items():
                if attribute.startswith("_"):
                    continue
                if isinstance(member, (property, classmethod, staticmethod)) or inspect.isfunction(
                    member
                ):
                    yield f"{name}.{attribute}", member


@pytest.mark.parametrize(
    ("name", "obj"), list(public_members()), ids=lambda v: v if isinstance(v, str) else ""
)
def test_every_public_name_has_an_example(name, obj):
    target = obj.__func__ if isinstance(obj, (classmethod, staticmethod)) else obj
    doc = inspect.getdoc(target.fget if isinstance(target, property) else target) or ""
    assert ">>>" in doc, f"{name} has no example"


def test_the_readme_example_builds_two_zones():
    import pathlib
    import subprocess
    import sys

    example = pathlib.Path(__file__).parents[2] / "examples" / "quickstart.py"
    out = subprocess.run(
        [sys.executable, "-W", "error", str(example)], capture_output=True, text=True, check=True
    ).stdout
    lines = [line for line in out.splitlines() if line.startswith("zone ")]
    assert [line.split(":")[0] for line in lines] == ["zone A", "zone B"]
    assert all("OOIP" in line for line in lines)


def test_stubs_are_installed_and_name_every_module_member():
    import ast
    import pathlib

    import _zorvastatic

    stub = pathlib.Path(_zorvastatic.__file__).with_name("_zorvastatic.pyi")
    if not stub.exists():
        pytest.skip("the extension is not the installed one (no stubs beside it)")
    assert (pathlib.Path(zv.__file__).parent / "py.typed").exists()
    tree = ast.parse(stub.read_text())
    declared = {
        node.name for node in tree.body if isinstance(node, (ast.FunctionDef, ast.ClassDef))
    } | {
        target.id
        for node in tree.body
        if isinstance(node, ast.AnnAssign)
        for target in [node.target]
        if isinstance(target, ast.Name)
    }
    members = {name for name in vars(_zorvastatic) if not name.startswith("__")} | {"__version__"}
    assert members <= declared
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    for name in ("StaticModel", "_Builder"):
        methods = {n.name for n in classes[name].body if isinstance(n, ast.FunctionDef)}
        public = {m for m in vars(getattr(_zorvastatic, name)) if not m.startswith("__")}
        assert public <= methods, name
