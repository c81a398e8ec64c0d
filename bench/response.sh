#!/usr/bin/env bash
# Builds the response benchmark and runs it beside scipy's freqresp and step
# and numpy.roots (system Python with Debian's python3-scipy; without it our
# times only). Usage: bench/response.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-10}
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target response_bench
scipy_times=""
if /usr/bin/python3 -c 'import scipy.signal' 2>/dev/null; then
  scipy_times=$(/usr/bin/python3 bench/response_scipy.py "$reps")
fi
# shellcheck disable=SC2086
exec build-bench/bin/response_bench "$reps" $scipy_times
