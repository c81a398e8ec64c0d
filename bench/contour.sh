#!/usr/bin/env bash
# Builds and runs the contour benchmark; beside it Matplotlib's contour and
# contourf of the same grid at the same levels (Agg, the call alone) when
# python3-matplotlib is installed. Usage: bench/contour.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target contour_bench
reps=${1:-10}
theirs=()
if python3 -c "import matplotlib" 2>/dev/null; then
  read -r c f < <(python3 - "$reps" <<'PY'
import sys, time
import numpy as np
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
n = 500
x = np.linspace(-3, 3, n)
X, Y = np.meshgrid(x, x)
Z = 3*(1-X)**2*np.exp(-X**2-(Y+1)**2) - 10*(X/5-X**3-Y**5)*np.exp(-X**2-Y**2) - np.exp(-(X+1)**2-Y**2)/3 + 1.5*X
levels = [Z.min() + (Z.max()-Z.min())*(i+1)/8 for i in range(7)]
reps = int(sys.argv[1])
def best(fn):
    b = 1e30
    for _ in range(reps):
        fig, ax = plt.subplots()
        t = time.perf_counter(); fn(ax); b = min(b, time.perf_counter() - t)
        plt.close(fig)
    return b
print(best(lambda ax: ax.contour(Z, levels)), best(lambda ax: ax.contourf(Z, levels)))
PY
)
  theirs=("contour=$c" "contourf=$f")
fi
exec build-bench/bin/contour_bench "$reps" "${theirs[@]}"
