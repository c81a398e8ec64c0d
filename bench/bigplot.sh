#!/usr/bin/env bash
# Curves of 10^6 and 10^7 points (x = 1:n, y = sin(x / (n / 100))) in an
# 800 x 600 figure, in a block that starts at the default MemMin and grows to
# the default MemMax as the program's does: the plot handler run and the
# figure drawn, the figure drawn alone, and one Drag-tool move with its
# redraw, through the Qt raster driver (bench/bigplot_bench.cpp), beside
# Matplotlib's Agg backend on the same points: the line plotted again and
# drawn, the canvas drawn, the x limits moved and the canvas drawn
# (bench/bigplot_matplotlib.py), when python3-matplotlib is installed;
# without it only ours. Each kernel runs reps times in one process, the same
# on both sides, reps chosen so that each side's calls take 100 ms or more
# and at least twice its start-up; each process also runs with reps = 0, and
# that start-up is subtracted. Runs are interleaved and medians taken: of
# wall time, of processor time, and of each process's own timer round the
# kernel calls. Usage: bench/bigplot.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target bigplot_bench >/dev/null
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mpl=""
/usr/bin/python3 -c "import matplotlib" 2>/dev/null && mpl=bench/bigplot_matplotlib.py
[ -n "$mpl" ] || echo "matplotlib not found (apt-get install python3-matplotlib): our times only" >&2
exec /usr/bin/python3 bench/kernel_sides.py "$runs" build-bench/bin/bigplot_bench "$mpl" "pixels of the curve's own colour in the last picture" \
  plot-1e6 draw-1e6 drag-1e6 plot-1e7 draw-1e7 drag-1e7
