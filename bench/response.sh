#!/usr/bin/env bash
# The responses of a tenth-order transfer function. First the figure: a
# handler drawing bodemag, bodephase, step and rlocus in 2 x 2, refreshed and
# drawn through the Qt raster driver into 800 x 600 (target: 16 ms). Then the
# kernels beside scipy's freqresp (200 points) and step (203 points) and
# numpy.roots at 500 gains, process by process: each kernel runs REPS times,
# REPS chosen so that the reference side takes 100 ms or more; each process
# also runs with REPS = 0 (start-up and inputs), subtracted. Runs are
# interleaved, medians taken. The locus builder's time per solved gain is
# compared with numpy.roots per call (target: at most 2 x). Without Debian's
# python3-scipy only our side runs. Usage: bench/response.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target response_bench
OPENBLAS_NUM_THREADS=1 build-bench/bin/response_bench figure 41
reference=0
/usr/bin/python3 -c 'import scipy.signal' 2>/dev/null && reference=1
[ "$reference" = 1 ] || echo "scipy not found (apt-get install python3-scipy): our times only" >&2
OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 exec /usr/bin/python3 - "$runs" "$reference" <<'PY'
import statistics, subprocess, sys, time
runs, reference = int(sys.argv[1]), sys.argv[2] == "1"
ours = "build-bench/bin/response_bench"
ref = ["/usr/bin/python3", "bench/response_scipy.py"]
kernels = ["freqresp", "step", "roots500"]


def wall(argv):
    t0 = time.perf_counter()
    out = subprocess.run(argv, stdout=subprocess.PIPE, check=True, text=True).stdout
    return time.perf_counter() - t0, out


# Repetitions: the reference side's (or, without it, our side's) kernel at
# 100 ms or more, found by doubling from one; the fastest of three runs on
# each side of the difference, so that a busy moment does not stop it early.
def fastest(argv):
    return min(wall(argv)[0] for _ in range(3))


reps = {}
for k in kernels + ["locus"]:
    probe = ref if reference and k != "locus" else [ours]
    base = fastest(probe + [k, "0"])
    r = 1
    while fastest(probe + [k, str(r)]) - base < 0.1:
        r *= 2
    reps[k] = r
cmds = {}
for k, r in reps.items():
    for n in (0, r):
        cmds["ours", k, n] = [ours, k, str(n)]
        if reference and k != "locus":
            cmds["ref", k, n] = ref + [k, str(n)]
times = {c: [] for c in cmds}
gains = 0
for _ in range(runs):
    for c, argv in cmds.items():
        s, out = wall(argv)
        times[c].append(s * 1e3)
        if c[1] == "locus" and c[2] > 0:
            gains = int(out.split()[1])


def per_call(side, k):
    return (statistics.median(times[side, k, reps[k]]) - statistics.median(times[side, k, 0])) / reps[k]


print(f"median of {runs} interleaved runs, ms per call, start-up subtracted")
print(f"{'kernel':9s} {'reps':>5s} {'ours':>9s} {'scipy':>9s} {'ratio':>6s}")
for k in kernels:
    o = per_call("ours", k)
    if reference:
        r = per_call("ref", k)
        print(f"{k:9s} {reps[k]:5d} {o:9.4f} {r:9.4f} {o / r:6.2f}")
    else:
        print(f"{k:9s} {reps[k]:5d} {o:9.4f}")
locus = per_call("ours", "locus")
line = f"locus     {reps['locus']:5d} {locus:9.4f}   {gains} gains solved, {locus / gains * 1e3:.2f} us per gain"
if reference:
    numpy_root = per_call("ref", "roots500") / 500
    line += f"; numpy.roots {numpy_root * 1e3:.2f} us per call, ratio {locus / gains / numpy_root:.2f} (target <= 2)"
print(line)
PY
