#!/usr/bin/env bash
# delaunay of 10^3 and 10^4 random points beside scipy.spatial.Delaunay.
# Usage: bench/delaunay.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-3}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target delaunay_bench
build-bench/bin/delaunay_bench "$reps"
/usr/bin/python3 bench/delaunay.py "$reps"
