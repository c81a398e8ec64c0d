#!/usr/bin/env bash
# Builds the FFT built-in benchmark in the benchmark tree and runs it beside
# numpy.fft and scipy.linalg in one run. Usage: bench/fft_builtins.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-10}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target fft_builtins_bench
ref=""
if /usr/bin/python3 -c 'import numpy, scipy' 2>/dev/null; then
  ref=$(/usr/bin/python3 bench/fft_builtins_reference.py "$reps")
fi
# shellcheck disable=SC2086
exec build-bench/bin/fft_builtins_bench "$reps" $ref
