#!/usr/bin/env bash
# A handler's surf of a 100 x 100 grid (19,602 triangles) under a colour map
# with one light, refreshed and drawn into 800 x 600 through the Qt raster
# driver (bench/surf_bench.cpp), beside Matplotlib's plot_surface of the same
# grid with rstride = cstride = 1 and a colour map, Agg, canvas drawn
# (bench/surf_matplotlib.py) when Debian's python3-matplotlib is installed;
# without it only ours. Target: at most 80 ms and at most half Matplotlib's
# time. Each side runs reps times in one process; each process also runs with
# reps = 0, and that start-up is subtracted. Runs are interleaved and medians
# taken: of wall time and of each process's own timer round the runs. Our
# refresh and draw are reported apart, with the scene's splits and pairs.
# Usage: bench/surf.sh [runs] [reps]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
reps=${2:-10}
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target surf_bench >/dev/null
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mpl=""
/usr/bin/python3 -c "import matplotlib" 2>/dev/null && mpl=bench/surf_matplotlib.py
[ -n "$mpl" ] || echo "matplotlib not found (apt-get install python3-matplotlib): our times only" >&2
exec /usr/bin/python3 - "$runs" "$reps" "$mpl" <<'PY'
import statistics, subprocess, sys, time
runs, reps, mpl = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
sides = {"ours": ["build-bench/bin/surf_bench"]}
if mpl:
    sides["matplotlib"] = ["/usr/bin/python3", mpl]

def run(side, n):
    t0 = time.perf_counter()
    out = subprocess.run(sides[side] + [str(n)], capture_output=True, text=True, check=True).stdout.split()
    return (time.perf_counter() - t0) * 1e3, [float(v) for v in out]

data = {}
for _ in range(runs):
    for side in sides:
        for n in (0, reps):
            data.setdefault((side, n), []).append(run(side, n))

def med(side, n, f):
    return statistics.median(f(v) for v in data[side, n])

print(f"median of {runs} interleaved runs of {reps} refresh+draw each, ms per run")
res = {}
for side in sides:
    wall = (med(side, reps, lambda v: v[0]) - med(side, 0, lambda v: v[0])) / reps
    timer = med(side, reps, lambda v: v[1][0]) / reps
    res[side] = timer
    line = f"{side:11s} wall {wall:8.2f}   timer {timer * 1e3:8.2f}"
    if side == "ours":
        last = data[side, reps][-1][1]
        refresh = med(side, reps, lambda v: v[1][1]) / reps * 1e3
        draw = med(side, reps, lambda v: v[1][2]) / reps * 1e3
        line += f"   (refresh {refresh:.2f}, draw {draw:.2f}; scene: {int(last[3])} drawn, {int(last[4])} splits,"
        line += f" {int(last[5])} pairs counted, {int(last[6])} tested, budget {int(last[7])})"
    print(line)
if mpl:
    print(f"ratio ours / matplotlib (timer): {res['ours'] / res['matplotlib']:.3f}")
PY
