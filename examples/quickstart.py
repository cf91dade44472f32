"""Quickstart: import the engine and report its version."""

import _zorvastatic

print(f"_zorvastatic {_zorvastatic.__version__}")
