#!/usr/bin/env bash
# Builds and runs the drag benchmark: one manipulate move on a figure whose
# plot handler draws a 100,000-point curve, beside the redraw alone.
# Usage: bench/drag.sh [moves]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target drag_bench
OPENBLAS_NUM_THREADS=1 exec build-bench/bin/drag_bench "$@"
