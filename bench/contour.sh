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
exec /usr/bin/python3 - "$runs" build-bench/bin/contour_bench "$mpl" <<'PY'
import math, resource, statistics, subprocess, sys, time
runs, ours, mpl = int(sys.argv[1]), sys.argv[2], sys.argv[3]
kernels = ["contour", "contourf", "contour_draw", "contourf_draw"]
sides = {"ours": [ours]}
if mpl:
    sides["matplotlib"] = ["/usr/bin/python3", mpl]

def run(side, kernel, reps):
    """Wall and processor ms of the whole process, and its own timer."""
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    out = subprocess.run(sides[side] + [kernel, str(reps)], capture_output=True, text=True, check=True).stdout
    t1 = time.perf_counter()
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = r1.ru_utime + r1.ru_stime - r0.ru_utime - r0.ru_stime
    return (t1 - t0) * 1e3, cpu * 1e3, float(out.split()[0]) * 1e3

# reps per kernel: the calls take 100 ms or more on every side, so that the
# subtracted start-up (some 200 ms) does not swamp the faster one.
reps = {}
for k in kernels:
    one = min(run(side, k, 3)[2] / 3 for side in sides for _ in range(2))
    reps[k] = max(1, math.ceil(120.0 / max(one, 1e-3)))
data = {}
for _ in range(runs):
    for k in kernels:
        for side in sides:
            for n in (0, reps[k]):
                data.setdefault((side, k, n), []).append(run(side, k, n))

def per_call(side, k, what):
    med = lambda n: statistics.median(v[what] for v in data[side, k, n])
    return (med(reps[k]) - med(0)) / reps[k] if what < 2 else med(reps[k]) / reps[k]

print(f"median of {runs} interleaved runs, ms per kernel call (wall and processor time with start-up subtracted; timer: the calls alone)")
cols = ["wall", "cpu", "timer"]
head = f"{'kernel':14s} {'reps':>4s}"
for c in cols:
    head += f"   {'ours ' + c:>11s}" + (f" {'mpl ' + c:>10s} {'ratio':>6s}" if mpl else "")
print(head)
for k in kernels:
    line = f"{k:14s} {reps[k]:4d}"
    for i, c in enumerate(cols):
        o = per_call("ours", k, i)
        line += f"   {o:11.2f}"
        if mpl:
            m = per_call("matplotlib", k, i)
            line += f" {m:10.2f} {o / m:6.2f}"
    print(line)
PY
