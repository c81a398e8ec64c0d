#!/usr/bin/env bash
# Line reads from files beside GNU Octave (Debian's octave package, installed
# when missing): an fgetl loop over a 200,000-line file of 6.6 MB, and fgetl
# of one line of 5 MB. Both sides run the same ZVR text as whole processes:
# the kernel once (which also brings the file into the page cache), then
# REPS times more, REPS chosen so that Octave's side takes 100 ms or more;
# the same process with REPS = 0 is subtracted, so start-up, the first read
# of the file and the first use of the memory drop out. Runs are interleaved
# and medians taken, of processor time (the figure that a loaded machine
# disturbs least) and of wall time. Targets: the lines within 0.5 times
# Octave's time, the long line within 2 times; the exit status is 2 when one
# is missed.
# Usage: bench/fileread.sh [runs]   (default 3). ZVR=path times another zvr
# binary (a build of an earlier commit, for the figures before a change).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
. bench/zvr_side.sh
need_command octave-cli octave
find_zvr
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

python3 - "$runs" "$ZVR" "$tmp" <<'PY'
import random, resource, statistics, subprocess, sys, time
runs, zvr, tmp = int(sys.argv[1]), sys.argv[2], sys.argv[3]
# 200,000 lines of 33 bytes (numbers as a program writes them), one line of
# 5,000,000 bytes.
rng = random.Random(60)
with open(f"{tmp}/lines.txt", "w") as f:
    for i in range(200000):
        f.write(f"{i},{rng.random():.10f},{rng.random() * 100:.6f}".ljust(32)[:32] + "\n")
with open(f"{tmp}/long.txt", "w") as f:
    f.write("x" * 5000000 + "\n")
# name: (kernel, repetitions, target ratio)
kernels = {
    "200,000 lines": (f"f = fopen('{tmp}/lines.txt', 'r'); n = 0; while ~feof(f), l = fgetl(f); n = n + 1; end; fclose(f);",
                      1, 0.5),
    "one 5 MB line": (f"f = fopen('{tmp}/long.txt', 'r'); l = fgetl(f); fclose(f);", 4, 2.0),
}
cmds = {}
for name, (body, reps, _) in kernels.items():
    for r in (0, reps):
        path = f"{tmp}/k{len(cmds)}.m"
        with open(path, "w") as f:
            f.write(f"{body}\nfor rep = 1:{r}\n  {body}\nend\n")
        cmds[("zvr", name, r)] = [zvr, path]
        cmds[("octave", name, r)] = ["octave-cli", "--norc", "--quiet", path]
cpu = {c: [] for c in cmds}
wall = {c: [] for c in cmds}
for _ in range(runs):
    for c, argv in cmds.items():
        r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
        t0 = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, check=True,
                       stderr=subprocess.DEVNULL if c[0] == "octave" else None)
        t1 = time.perf_counter()
        r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
        wall[c].append((t1 - t0) * 1e3)
        cpu[c].append((r1.ru_utime + r1.ru_stime - r0.ru_utime - r0.ru_stime) * 1e3)

def per_call(d, side, name):
    reps = kernels[name][1]
    t = statistics.median(d[side, name, reps]) - statistics.median(d[side, name, 0])
    return max(t, 1e-3) / reps

print(f"fileread: medians of {runs} interleaved runs, ms per kernel, start-up and a first run subtracted")
print(f"{'kernel':<16} {'zvr cpu':>9} {'oct cpu':>9} {'ratio':>6} {'zvr wall':>9} {'oct wall':>9} {'ratio':>6}")
status = 0
for name, (_, _, target) in kernels.items():
    z, o = per_call(cpu, "zvr", name), per_call(cpu, "octave", name)
    zw, ow = per_call(wall, "zvr", name), per_call(wall, "octave", name)
    ok = z / o <= target
    status |= 0 if ok else 2
    print(f"{name:<16} {z:9.1f} {o:9.1f} {z / o:6.2f} {zw:9.1f} {ow:9.1f} {zw / ow:6.2f}  target {target}x"
          + ("" if ok else " OVER"))
sys.exit(status)
PY
