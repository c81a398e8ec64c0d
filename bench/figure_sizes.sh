#!/usr/bin/env bash
# surf, plot3, circle, pcolor and markers at three sizes each, in an 800 x 600
# figure, through the Qt raster driver (bench/figure_sizes_bench.cpp), in a
# block that starts at the default MemMin and grows to the default MemMax as
# the program's does, beside Matplotlib's Agg backend (plot_surface, plot3D,
# a PatchCollection of circles, pcolormesh, scatter;
# bench/figure_sizes_matplotlib.py) when python3-matplotlib is installed.
# Per kind and size: the first drawing (data made, plotted, drawn), a redraw,
# and one drag step (a camera orbit in 3-D, a pan in 2-D) with its redraw;
# the count column is each side's peak resident memory in kB. The timing
# rules are kernel_sides.py's: reps so that each side's calls take 100 ms or
# more, start-up subtracted, runs interleaved, medians and ratios.
# Usage: bench/figure_sizes.sh [runs] [kind...]   (kinds: surf plot3 circle pcolor markers)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
shift || true
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(surf plot3 circle pcolor markers)
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target figure_sizes_bench >/dev/null
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mpl=""
/usr/bin/python3 -c "import matplotlib" 2>/dev/null && mpl=bench/figure_sizes_matplotlib.py
[ -n "$mpl" ] || echo "matplotlib not found (apt-get install python3-matplotlib): our times only" >&2
declare -A sizes=([surf]="50 150 300" [plot3]="1e4 1e5 1e6" [circle]="1e3 1e4 1e5" [pcolor]="200 700 2000"
                  [markers]="1e4 1e5 1e6")
kernels=()
for kind in "${kinds[@]}"; do
  for n in ${sizes[$kind]}; do
    for step in first redraw step; do kernels+=("$kind-$n-$step"); done
  done
done
exec /usr/bin/python3 bench/kernel_sides.py "$runs" build-bench/bin/figure_sizes_bench "$mpl" "peak memory, kB" "${kernels[@]}"
