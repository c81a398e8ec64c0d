#!/usr/bin/env bash
# A handler's contour(z) of a 500 x 500 grid (closed and open curves) at the
# 7 default levels through the built-in, the filled form, and both drawn into
# 800 x 600 through the Qt raster driver (bench/contour_bench.cpp), beside
# Matplotlib's contour, contourf and Agg draws of the same grid at the same
# levels (bench/contour_matplotlib.py) when python3-matplotlib is installed;
# without it only ours. Each kernel runs reps times in one process, the same
# on both sides, reps chosen so that each side's calls take 100 ms or more;
# each process also runs with reps = 0, and that start-up is
# subtracted. Runs are interleaved and medians taken: of wall time, of
# processor time, and of each process's own timer round the kernel calls.
# Usage: bench/contour.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-9}
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target contour_bench >/dev/null
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mpl=""
/usr/bin/python3 -c "import matplotlib" 2>/dev/null && mpl=bench/contour_matplotlib.py
exec /usr/bin/python3 bench/kernel_sides.py "$runs" build-bench/bin/contour_bench "$mpl" "" contour contourf contour_draw contourf_draw
