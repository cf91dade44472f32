#!/usr/bin/env bash
# Builds the benchmarks in Release and runs every one of them, printing one table.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_BENCH=ON \
  -DZV_BUILD_PYTHON=OFF >/dev/null
cmake --build build/bench -j "${ZV_JOBS:-2}"
./build/bench/bench/zv_bench --benchmark_counters_tabular=true "$@"
