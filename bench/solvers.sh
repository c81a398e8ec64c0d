#!/usr/bin/env bash
# Builds the solver benchmark in the benchmark tree and runs it beside scipy
# (Debian's python3-scipy), in one run. Usage: bench/solvers.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target solvers_bench zvr
build-bench/bin/solvers_bench
echo "ode45 Van der Pol, its Stats:"
build-bench/bin/zvr -e "vdp = @(t, y) [y(2); (1 - y(1)^2) * y(2) - y(1)]; \
  [t, y] = ode45(vdp, [0 20], [2; 0], odeset('RelTol', 1e-6, 'AbsTol', 1e-9, 'Stats', true));"
if /usr/bin/python3 -c 'import scipy' 2>/dev/null; then
  /usr/bin/python3 bench/solvers_scipy.py
else
  echo "scipy not found (apt-get install python3-scipy): our times only" >&2
fi
