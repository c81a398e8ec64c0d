#!/usr/bin/env bash
# sort, unique, ismember, setdiff and diff of large vectors beside GNU Octave
# (Debian's octave package, installed when missing), the loops beside
# bench/growth_bench.cpp that need the other side in the same run. Both
# sides run the same ZVR text as whole processes: each kernel REPS times
# after building its inputs, REPS chosen so that Octave's side takes 100 ms
# or more, and the same process with REPS = 0 (start-up and inputs), whose
# time is subtracted. Runs are interleaved and medians taken, of processor
# time (the figure that a loaded machine disturbs least) and of wall time.
# Every process first runs its kernel once more, untimed in effect, since
# the REPS = 0 process runs it too: the first use of the memory it needs
# (page faults) is paid on both sides of the subtraction, and the figures
# are the cost of a call in a running program. One thread on both sides.
# Each kernel is timed at 200,000 and 1.6 million elements (sort also at
# 400,000 and 800,000); the growth exponent is the slope of log time over
# log n. Targets at 1.6 million: sort within 1.5 times Octave's time with an
# exponent of at most 1.15, unique, ismember and setdiff within 2 times,
# diff within 1.5 times, and on sorted, reversed, periodic, repeated and
# constant inputs (doubles; singles, int32 and uint8 for sort, unique,
# ismember and setdiff; int64 for the sorts and, random too, every set
# function) every function within Octave's time; the exit status is 2 when
# one is missed.
# Usage: bench/sortset.sh [runs [name]]   (default 3 runs, every kernel;
# with a name, only the kernels whose names contain it). ZVR=path times
# another zvr binary (a build of an earlier commit, for the figures before a
# change).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
only=${2:-}
. bench/zvr_side.sh
need_command octave-cli octave
find_zvr
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 python3 - "$runs" "$ZVR" "$tmp" "$only" <<'PY'
import math, resource, statistics, subprocess, sys, time
runs, zvr, tmp, only = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
# name: (inputs, kernel, repetitions at 1.6 million, sizes, target ratio,
# exponent limit). Inputs with many ties: integers drawn from half the range.
big = 1600000
kernels = {
    "sort": ("x = rand(1, N);", "s = sort(x);", 1, (200000, 400000, 800000, big), 1.5, 1.15),
    "sort ties": ("x = floor(rand(1, N) * N / 8);", "s = sort(x);", 1, (200000, big), 1.5, 1.15),
    "[s, i] = sort": ("x = rand(1, N);", "[s, i] = sort(x);", 1, (200000, big), 1.5, 1.15),
    "sort descend": ("x = rand(1, N);", "s = sort(x, 'descend');", 1, (200000, big), 1.5, 1.15),
    "sort int32": ("x = int32(floor(rand(1, N) * N));", "s = sort(x);", 1, (200000, big), None, None),
    "unique": ("x = floor(rand(1, N) * N / 2);", "u = unique(x);", 1, (200000, big), 2.0, None),
    "[u, i, j] = unique": ("x = floor(rand(1, N) * N / 2);", "[u, i, j] = unique(x);", 1, (200000, big), 2.0, None),
    "ismember": ("x = floor(rand(1, N) * N); s = 1:2:N;", "tf = ismember(x, s);", 1, (200000, big), 2.0, None),
    "setdiff": ("x = floor(rand(1, N) * N); s = 1:3:N;", "c = setdiff(x, s);", 1, (200000, big), 2.0, None),
    # Few values repeated many times (at 1.6 million, each some 160 times
    # for unique, 16 for setdiff), in random order and in a periodic one,
    # whose ordered stretches a merge sort finds. More repetitions where
    # Octave's side is fast, so that each side's figure stands well above
    # the noise of the subtraction.
    "unique rep": ("x = floor(rand(1, N) * 10007);", "u = unique(x);", 3, (200000, big), 2.0, None),
    "[u,i,j] = unique rep": ("x = floor(rand(1, N) * 10007);", "[u, i, j] = unique(x);", 2, (200000, big), 2.0, None),
    "unique rep periodic": ("x = mod(0:N - 1, 10007);", "u = unique(x);", 20, (200000, big), 2.0, None),
    "setdiff rep": ("x = floor(rand(1, N) * 100003); s = 1:3:100003;", "c = setdiff(x, s);", 3, (200000, big), 2.0, None),
    "setdiff rep periodic": ("x = mod(0:N - 1, 100003); s = 1:3:100003;", "c = setdiff(x, s);", 10, (200000, big), 2.0, None),
    "diff": ("x = rand(1, N);", "d = diff(x);", 100, (200000, big), 1.5, None),
    "diff column": ("x = rand(N, 1);", "d = diff(x);", 100, (200000, big), 1.5, None),
}
# Ordered inputs beside random ones, every function on each, at 1.6 million
# only: sorted, reversed, periodic, each value twice, all equal. The second
# operand of ismember and the set functions is every other element of the
# first. Target: Octave's time or better.
shapes = {
    "random": ("x = rand(1, N);", 1),
    "sorted": ("x = (1:N) / 7;", 50),
    "reversed": ("x = (N:-1:1) / 7;", 50),
    "periodic": ("x = mod(0:N - 1, 10007);", 10),
    "twice": ("x = mod(0:N - 1, N / 2);", 25),
    "equal": ("x = ones(1, N);", 50),
}
calls = {
    "sort": "s = sort(x);",
    "[s,i]=sort": "[s, i] = sort(x);",
    "sort desc": "s = sort(x, 'descend');",
    "unique": "u = unique(x);",
    "ismember": "tf = ismember(x, y);",
    "setdiff": "c = setdiff(x, y);",
    "intersect": "c = intersect(x, y);",
    "union": "c = union(x, y);",
}
for shape, (inputs, reps) in shapes.items():
    for call, body in calls.items():
        kernels[f"{call} {shape}"] = (inputs + " y = x(1:2:end);", body, reps, (big,), 1.0, None)
# The same shapes in other classes (integers built exactly, since a
# conversion to an integer class truncates, and within the class's range,
# which a conversion wraps here and saturates in Octave): sort and its
# index, unique, ismember and setdiff. Target: Octave's time or better.
class_shapes = {
    "sorted": ("1:N", 50),
    "reversed": ("N:-1:1", 50),
    "periodic": ("mod(0:N - 1, 10007)", 10),
    "twice": ("mod(0:N - 1, N / 2)", 25),
    "equal": ("ones(1, N)", 50),
}
byte_shapes = {  # the same orders in 256 values
    "sorted": "floor((0:N - 1) * 256 / N)",
    "reversed": "floor((N - 1:-1:0) * 256 / N)",
    "periodic": "mod(0:N - 1, 251)",
    "twice": "mod(floor((0:N - 1) * 512 / N), 256)",
    "equal": "ones(1, N)",
}
class_calls = {k: calls[k] for k in ("sort", "[s,i]=sort", "unique", "ismember", "setdiff")}
# int64, whose values the set functions compare as integers: every set
# function, and random integers from 0 to N too.
int64_calls = {k: v for k, v in calls.items() if k != "sort desc"}
class_shapes_int64 = dict(class_shapes, random=("floor(rand(1, N) * N)", 1))
for cls in ("single", "int32", "uint8", "int64"):
    shapes_here = class_shapes_int64 if cls == "int64" else class_shapes
    for shape, (values, reps) in shapes_here.items():
        for call, body in (int64_calls if cls == "int64" else class_calls).items():
            v = byte_shapes[shape] if cls == "uint8" else values
            kernels[f"{call} {cls} {shape}"] = (f"x = {cls}({v}); y = x(1:2:end);", body, reps, (big,), 1.0, None)
if only:
    kernels = {k: v for k, v in kernels.items() if only in k}
cmds = {}
for name, (inputs, body, reps_big, sizes, _, _) in kernels.items():
    for n in sizes:
        reps = max(1, round(reps_big * big / n))
        for r in (0, reps):
            text = inputs.replace("N", str(n)) + f"\n{body}\nfor rep = 1:{r}\n  {body}\nend\n"
            path = f"{tmp}/k{len(cmds)}.m"
            with open(path, "w") as f:
                f.write(text)
            cmds[("zvr", name, n, r)] = [zvr, path]
            cmds[("octave", name, n, r)] = ["octave-cli", "--norc", "--quiet", path]
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

def per_call(d, side, name, n):
    reps = max(r for (s, k, m, r) in d if (s, k, m) == (side, name, n))
    t = statistics.median(d[side, name, n, reps]) - statistics.median(d[side, name, n, 0])
    return max(t, 1e-3) / reps

def slope(points):
    xs = [math.log(n) for n, _ in points]
    ys = [math.log(t) for _, t in points]
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)

print(f"sortset: medians of {runs} interleaved runs, ms per call, start-up, inputs and a first call subtracted")
print(f"{'kernel':<20} {'n':>9} {'zvr cpu':>9} {'oct cpu':>9} {'ratio':>6} {'zvr wall':>9} {'oct wall':>9} {'ratio':>6}")
status = 0
for name, (_, _, _, sizes, target, limit) in kernels.items():
    for n in sizes:
        z, o = per_call(cpu, "zvr", name, n), per_call(cpu, "octave", name, n)
        zw, ow = per_call(wall, "zvr", name, n), per_call(wall, "octave", name, n)
        line = f"{name:<20} {n:9d} {z:9.2f} {o:9.2f} {z / o:6.2f} {zw:9.2f} {ow:9.2f} {zw / ow:6.2f}"
        if n == big and target:
            ok = z / o <= target
            status |= 0 if ok else 2
            line += f"  target {target}x" + ("" if ok else " OVER")
        print(line)
    if len(sizes) < 2:
        continue
    ez = slope([(n, per_call(cpu, "zvr", name, n)) for n in sizes])
    eo = slope([(n, per_call(cpu, "octave", name, n)) for n in sizes])
    line = f"{name:<20} {'exponent':>9} {ez:9.2f} {eo:9.2f}"
    if limit:
        ok = ez <= limit
        status |= 0 if ok else 2
        line += f"  limit {limit}" + ("" if ok else " OVER")
    print(line)
sys.exit(status)
PY
