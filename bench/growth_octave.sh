#!/usr/bin/env bash
# The loops whose time must grow no faster than their count, beside GNU
# Octave (Debian's octave package, installed when missing): stores into cell
# elements whose size changes, deletions with [], and appends of computed
# items. Each loop runs at n = 5,000 and 40,000 on both sides, timed inside
# the program with tic and toc around R repetitions (16 at 5,000, 2 at
# 40,000, so that the millisecond clock still resolves the small size), the
# runs interleaved; the medians give each side's growth exponent
# (log(t40000 / t5000) / log 8; 1 is linear) and the ratio at 40,000.
# Usage: bench/growth_octave.sh [runs]   (default 3). ZVR=path times another
# zvr binary (a build of an earlier commit, for the figures before a change).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
. bench/zvr_side.sh
need_command octave-cli octave
find_zvr

python3 - "$runs" "$ZVR" <<'PY'
import math, statistics, subprocess, sys
runs, zvr = int(sys.argv[1]), sys.argv[2]
# (setup, loop): N stands for the size.
loops = [
    ("c = cell(1, N);", "for k = 1:N, c{k} = k; end"),
    ("c = cell(1, N);", "for k = 1:N, c(k) = {k}; end"),
    ("c = num2cell(1:N);", "for k = 1:N, c{k} = [k k]; end"),
    ("c = cell(1, N);", "for k = N:-1:1, c{k} = k; end"),
    ("c = cell(1, N);", "for k = 1:N, c{k} = 'abc'; end"),
    ("x = 1:N;", "for k = 1:N, x(end) = []; end"),
    ("x = 1:N;", "for k = 1:N, x(1) = []; end"),
    ("M = ones(N, 3);", "for k = 1:N, M(1, :) = []; end"),
    ("s = '';", "for k = 1:N, s = [s sprintf('%d,', k)]; end"),
    ("x = [];", "for k = 1:N, x = [x k * 2]; end"),
    ("x = [];", "for k = 1:N, x = [x abs(k)]; end"),
    ("x = [];", "for k = 1:N, x = [x; abs(k)]; end"),
    ("x = [];", "for k = 1:N, x = [x k + 1 k + 2]; end"),
]
sizes = [(5000, 16), (40000, 2)]

def text(setup, loop, n, r):
    body = f"{setup} {loop}".replace("N", str(n))
    return f"tic; for r = 1:{r}, {body}, end; fprintf('%.6f\\n', toc / {r});"

def run(side, t):
    cmd = [zvr, "-e", t] if side == "zvr" else ["octave-cli", "--norc", "--quiet", "--eval", t]
    out = subprocess.run(cmd, capture_output=True, text=True, check=True).stdout
    return float(out.strip().split()[-1])

times = {}
for _ in range(runs):
    for i, (setup, loop) in enumerate(loops):
        for n, r in sizes:
            for side in ("zvr", "octave"):
                times.setdefault((i, n, side), []).append(run(side, text(setup, loop, n, r)))
print(f"growth beside Octave: medians of {runs} interleaved runs, seconds per loop")
print(f"{'loop':<52} {'zvr 5k':>8} {'zvr 40k':>8} {'exp':>5} {'oct 5k':>8} {'oct 40k':>8} {'exp':>5} {'zvr/oct':>8}")
def exponent(a, b):
    return math.log(max(b, 1e-6) / max(a, 1e-6)) / math.log(8)
for i, (setup, loop) in enumerate(loops):
    m = {(n, s): statistics.median(times[(i, n, s)]) for n, _ in sizes for s in ("zvr", "octave")}
    z5, z40, o5, o40 = m[(5000, "zvr")], m[(40000, "zvr")], m[(5000, "octave")], m[(40000, "octave")]
    name = (setup + " " + loop)[:52]
    print(f"{name:<52} {z5:8.4f} {z40:8.4f} {exponent(z5, z40):5.2f} {o5:8.4f} {o40:8.4f} {exponent(o5, o40):5.2f}"
          f" {z40 / o40 if o40 > 0 else float('nan'):7.2f}x")
PY
