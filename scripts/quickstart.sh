#!/usr/bin/env bash
# Set-up from a fresh machine to a running example: dependencies, build, install, run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/install.sh
cd examples && python3 quickstart.py && python3 flat_model.py
