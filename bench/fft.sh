#!/usr/bin/env bash
# Builds the FFT benchmark in the benchmark tree and runs it beside numpy.fft.fft
# on the same lengths, in one run. Usage: bench/fft.sh [repetitions]
# numpy comes from the system Python (Debian's python3-numpy); without it only
# our own times are shown.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-50}
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target fft_bench
numpy_times=""
for py in /usr/bin/python3 python3; do
  if "$py" -c 'import numpy' 2>/dev/null; then
    numpy_times=$("$py" bench/fft_numpy.py "$reps")
    break
  fi
done
[ -n "$numpy_times" ] || echo "numpy not found (apt-get install python3-numpy): our times only" >&2
# shellcheck disable=SC2086
exec build-bench/bin/fft_bench "$reps" $numpy_times
