#!/usr/bin/env bash
# Every test: the C++ tests built with AddressSanitizer and UndefinedBehaviorSanitizer (ctest over
# GoogleTest), then the Python tests (pytest) against the installed extension.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/deps.sh

jobs=${ZV_JOBS:-2}
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=ON \
  -DZV_BUILD_TESTS=ON -DZV_BUILD_PYTHON=OFF -DCMAKE_CXX_FLAGS="-O1" >/dev/null
cmake --build build/sanitize -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build/sanitize && ctest --output-on-failure -j "$jobs")

scripts/install.sh
cd "$root/tests/python" && python3 -m pytest -q -p no:cacheprovider "$root/tests/python"
