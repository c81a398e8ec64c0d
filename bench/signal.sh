#!/usr/bin/env bash
# Builds the signal benchmark in the benchmark tree and runs filter, conv and
# conv2 beside scipy.signal.lfilter, numpy.convolve and scipy.signal.convolve2d
# in one run. Usage: bench/signal.sh [repetitions]
# scipy comes from the system Python (Debian's python3-scipy); without it only
# our own times are shown.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-10}
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target signal_bench
scipy_times=""
for py in /usr/bin/python3 python3; do
  if "$py" -c 'import scipy.signal' 2>/dev/null; then
    scipy_times=$("$py" bench/signal_scipy.py "$reps")
    break
  fi
done
[ -n "$scipy_times" ] || echo "scipy not found (apt-get install python3-scipy): our times only" >&2
# shellcheck disable=SC2086
exec build-bench/bin/signal_bench "$reps" $scipy_times
