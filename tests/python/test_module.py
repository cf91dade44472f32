import _zorvastatic


def test_version_and_docstring():
    assert _zorvastatic.__version__ == "0.1.13"
    assert _zorvastatic.__doc__ == "The `_zorvastatic` extension module."
