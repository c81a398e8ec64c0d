#!/usr/bin/env bash
# A 1,000,000-point curve (x = 1:1e6, y = sin(x / 1e4)) in an 800 x 600
# figure: the plot handler run and the figure drawn, the figure drawn alone,
# and one Drag-tool move with its redraw, through the Qt raster driver
# (bench/bigplot_bench.cpp), beside Matplotlib's Agg backend on the same
# points: the line plotted again and drawn, the canvas drawn, the x limits
# moved and the canvas drawn (bench/bigplot_matplotlib.py), when
# python3-matplotlib is installed; without it only ours. Each kernel runs
# reps times in one process, the same on both sides, reps chosen so that
# each side's calls take 100 ms or more; each process also runs with
# reps = 0, and that start-up is subtracted. Runs are interleaved and medians
# taken: of wall time, of processor time, and of each process's own timer
# round the kernel calls. Usage: bench/bigplot.sh [runs]
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
exec /usr/bin/python3 - "$runs" build-bench/bin/bigplot_bench "$mpl" <<'PY'
import math, resource, statistics, subprocess, sys, time
runs, ours, mpl = int(sys.argv[1]), sys.argv[2], sys.argv[3]
kernels = ["plot", "draw", "drag"]
sides = {"ours": [ours]}
if mpl:
    sides["matplotlib"] = ["/usr/bin/python3", mpl]
inked = {}

def run(side, kernel, reps):
    """Wall and processor ms of the whole process, and its own timer."""
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    out = subprocess.run(sides[side] + [kernel, str(reps)], capture_output=True, text=True, check=True).stdout
    t1 = time.perf_counter()
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = r1.ru_utime + r1.ru_stime - r0.ru_utime - r0.ru_stime
    inked[side, kernel] = int(out.split()[1])
    return (t1 - t0) * 1e3, cpu * 1e3, float(out.split()[0]) * 1e3

# reps per kernel: the calls take 100 ms or more on every side, so that the
# subtracted start-up does not swamp the faster one.
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
head = f"{'kernel':8s} {'reps':>4s}"
for c in cols:
    head += f"   {'ours ' + c:>11s}" + (f" {'mpl ' + c:>10s} {'ratio':>6s}" if mpl else "")
print(head)
for k in kernels:
    line = f"{k:8s} {reps[k]:4d}"
    for i, c in enumerate(cols):
        o = per_call("ours", k, i)
        line += f"   {o:11.2f}"
        if mpl:
            m = per_call("matplotlib", k, i)
            line += f" {m:10.2f} {o / m:6.2f}"
    print(line)
print("pixels of the curve's own colour in the last picture: " +
      ", ".join(f"{side} {k} {inked[side, k]}" for k in kernels for side in sides))
PY
