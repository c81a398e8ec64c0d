#!/usr/bin/env bash
# Builds and runs the flowed-text benchmark: 500 tabbed lines and 20 controls
# through the interpreter and the Qt driver, QPainter::drawText of the same
# visible segments, and a press on the last control. Usage: bench/flow.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target flow_bench
exec build-bench/bin/flow_bench "$@"
