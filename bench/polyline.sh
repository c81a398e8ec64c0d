#!/usr/bin/env bash
# Builds and runs the polyline benchmark: a 100,000-point sine drawn through
# the Qt driver and directly with QPainter. Usage: bench/polyline.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target polyline_bench
exec build-bench/bin/polyline_bench "$@"
