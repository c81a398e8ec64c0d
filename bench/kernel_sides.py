#!/usr/bin/python3
"""The timing harness shared by the figure benchmarks that set our program
beside Matplotlib: each side is a process that runs one kernel reps times
and prints the seconds of those calls alone (then, optionally, one count).
Reps per kernel are chosen so that each side's calls take 100 ms or more,
and at least twice that side's start-up; every process also runs with
reps = 0, and that start-up is subtracted.
Runs are interleaved and medians taken: of wall time, of processor time,
and of each process's own timer round the kernel calls.
Usage: kernel_sides.py RUNS OURS MPL COUNT-LABEL KERNEL... (MPL and
COUNT-LABEL may be empty: ours alone, no count reported)."""
import math
import resource
import statistics
import subprocess
import sys
import time

runs, ours, mpl, count_label = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
kernels = sys.argv[5:]
sides = {"ours": [ours]}
if mpl:
    sides["matplotlib"] = ["/usr/bin/python3", mpl]
counts = {}
kMostReps = 2000


def run(side, kernel, reps):
    """Wall and processor ms of the whole process, and its own timer."""
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter()
    out = subprocess.run(sides[side] + [kernel, str(reps)], capture_output=True, text=True, check=True).stdout
    t1 = time.perf_counter()
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = r1.ru_utime + r1.ru_stime - r0.ru_utime - r0.ru_stime
    fields = out.split()
    if len(fields) > 1:
        counts[side, kernel] = int(fields[1])
    return (t1 - t0) * 1e3, cpu * 1e3, float(fields[0]) * 1e3


reps = {}
for k in kernels:
    # Per side, one call's time (its own timer) and the start-up's wall time.
    one = {side: min(run(side, k, 3)[2] / 3 for _ in range(2)) for side in sides}
    start = {side: min(run(side, k, 0)[0] for _ in range(2)) for side in sides}
    n = 120.0 / max(min(one.values()), 1e-3)
    # A start-up that takes much longer than the calls varies by more than
    # they take: each side's calls take at least twice its start-up, so that
    # subtracting it leaves the calls' time and not its noise.
    n = max([n] + [2 * start[side] / max(one[side], 1e-3) for side in sides])
    reps[k] = max(1, min(math.ceil(n), kMostReps))
data = {}
for _ in range(runs):
    for k in kernels:
        for side in sides:
            for n in (0, reps[k]):
                data.setdefault((side, k, n), []).append(run(side, k, n))


def per_call(side, k, what):
    med = lambda n: statistics.median(v[what] for v in data[side, k, n])
    return (med(reps[k]) - med(0)) / reps[k] if what < 2 else med(reps[k]) / reps[k]


width = max(8, max(len(k) for k in kernels))
print(f"median of {runs} interleaved runs, ms per kernel call (wall and processor time with start-up subtracted; timer: the calls alone)")
cols = ["wall", "cpu", "timer"]
head = f"{'kernel':{width}s} {'reps':>4s}"
for c in cols:
    head += f"   {'ours ' + c:>11s}" + (f" {'mpl ' + c:>10s} {'ratio':>6s}" if mpl else "")
print(head)
for k in kernels:
    line = f"{k:{width}s} {reps[k]:4d}"
    for i, c in enumerate(cols):
        o = per_call("ours", k, i)
        line += f"   {o:11.2f}"
        if mpl:
            m = per_call("matplotlib", k, i)
            line += f" {m:10.2f} {o / m:6.2f}"
    print(line)
if count_label:
    print(count_label + ": " + ", ".join(f"{side} {k} {counts[side, k]}" for k in kernels for side in sides if (side, k) in counts))
