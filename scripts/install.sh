#!/usr/bin/env bash
# Builds and installs the _zorvastatic extension into the current Python environment.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m pip install -q --root-user-action=ignore --no-build-isolation .
