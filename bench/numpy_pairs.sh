#!/usr/bin/env bash
# ZVR kernels beside the same numpy code, process by process: svd with U, S, V
# at order 500 and fft of 2^16 and 2^20 complex points (bench/numpy_pairs/).
# Each kernel runs REPS times in one process, REPS chosen so that numpy's side
# takes 100 ms or more; each process also runs with REPS = 0 (start-up and
# inputs), and that time is subtracted. Runs are interleaved and medians
# taken, of wall time and of processor time (the steadier figure on a loaded
# machine). One thread on both sides.
# Usage: bench/numpy_pairs.sh [runs] [zvr binary]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-9}
zvr=${2:-$PWD/build/bin/zvr}
[ -x "$zvr" ] || cmake --build build --target zvr >/dev/null
OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 exec /usr/bin/python3 - "$runs" "$zvr" bench/numpy_pairs <<'PY'
import os, resource, statistics, subprocess, sys, tempfile, time
runs, zvr, src = int(sys.argv[1]), sys.argv[2], sys.argv[3]
reps = {"svd500": 3, "fft16": 100, "fft20": 5}
tmp = tempfile.mkdtemp()
cmds = {}
for k, r in reps.items():
    for n in (0, r):
        for side, ext in (("zvr", "zvr"), ("numpy", "py")):
            path = f"{tmp}/{k}.{n}.{ext}"
            with open(f"{src}/{k}.{ext}") as f, open(path, "w") as g:
                g.write(f.read().replace("REPS", str(n)))
            cmds[side, k, n] = [zvr, "-m", "1500", path] if side == "zvr" else ["/usr/bin/python3", path]
wall = {c: [] for c in cmds}
cpu = {c: [] for c in cmds}
for _ in range(runs):
    for c, argv in cmds.items():
        r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
        t0 = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
        t1 = time.perf_counter()
        r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
        wall[c].append((t1 - t0) * 1e3)
        cpu[c].append((r1.ru_utime + r1.ru_stime - r0.ru_utime - r0.ru_stime) * 1e3)
print(f"median of {runs} interleaved runs, ms per kernel call, start-up subtracted")
print(f"{'kernel':8s} {'zvr wall':>9s} {'numpy wall':>10s} {'ratio':>6s}   {'zvr cpu':>8s} {'numpy cpu':>9s} {'ratio':>6s}")
for k, r in reps.items():
    per = {}
    for side in ("zvr", "numpy"):
        for name, d in (("wall", wall), ("cpu", cpu)):
            per[side, name] = (statistics.median(d[side, k, r]) - statistics.median(d[side, k, 0])) / r
    print(f"{k:8s} {per['zvr', 'wall']:9.2f} {per['numpy', 'wall']:10.2f} {per['zvr', 'wall'] / per['numpy', 'wall']:6.2f}"
          f"   {per['zvr', 'cpu']:8.2f} {per['numpy', 'cpu']:9.2f} {per['zvr', 'cpu'] / per['numpy', 'cpu']:6.2f}")
for f in os.listdir(tmp):
    os.remove(os.path.join(tmp, f))
os.rmdir(tmp)
PY
