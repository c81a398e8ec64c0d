#!/usr/bin/env bash
# The interpreter beside Lua 5.4 (and GNU Octave when it is installed): the
# same kernels as ZVR scripts run by zvr, as Lua scripts and as Octave
# scripts, timed side by side in one run by interleaved runs of each process.
# Kernels, sized to run at least 100 ms in Lua: the recursive fib(33),
# nested loops summing i * j, a scalar series of 13 million terms and the
# escape-time grid computed 330 times. Each side's empty-script time is
# subtracted, and the ratio of the medians is checked against its target
# (2.5 times Lua for the calls and loops, 2 times for the series and grid).
# The old small kernels (fib(20), a 500,000-step loop, a quicksort and one
# escape grid) stay as a start-up check: whole processes, 3 times Lua.
# Usage: bench/interp.sh [runs]   (default 15; Octave runs OCTAVE_RUNS
# times, default 1, since its kernels take minutes; 0 leaves it out).
# ZVR=path times another zvr binary (a build of an earlier commit, say).
# bench/interp_instructions.sh counts the instructions per call and per loop
# iteration of fib and the nested loops, beside Lua's, with their own targets.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}
octave_runs=${OCTAVE_RUNS:-1}

. bench/zvr_side.sh
need_command lua5.4 lua5.4
find_zvr
dir=bench/interp
octave=""
command -v octave-cli >/dev/null && octave=octave-cli
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

kernels=(fib33 nested series escape_rep)
startup=(fib loop qsort escape)
# Octave runs the ZVR text itself: a leading statement makes the file a
# script whose functions are defined before they are called.
for k in "${kernels[@]}" empty; do
  { echo "1;"; cat "$dir/$k.zvr"; } >"$tmp/$k.m"
done

# Every side must compute the same thing.
for k in "${kernels[@]}" "${startup[@]}"; do
  a=$("$ZVR" "$dir/$k.zvr") b=$(lua5.4 "$dir/$k.lua")
  if [ "$a" != "$b" ]; then
    echo "interp.sh: $k differs: zvr '$a', lua '$b'" >&2
    exit 1
  fi
done

python3 - "$runs" "$octave_runs" "$ZVR" "$dir" "$tmp" "$octave" <<'PY'
import subprocess, sys, time, statistics
runs, octave_runs = int(sys.argv[1]), int(sys.argv[2])
zvr, d, tmp, octave = sys.argv[3:7]
if octave_runs < 1:
    octave = ""
kernels = ["fib33", "nested", "series", "escape_rep"]
targets = {"fib33": 2.5, "nested": 2.5, "series": 2.0, "escape_rep": 2.0}
startup = ["fib", "loop", "qsort", "escape"]
cmds = {}
for k in kernels + startup + ["empty"]:
    cmds[("zvr", k)] = [zvr, f"{d}/{k}.zvr"]
    cmds[("lua", k)] = ["lua5.4", f"{d}/{k}.lua"]
if octave:
    for k in kernels + ["empty"]:
        cmds[("octave", k)] = [octave, "--norc", "--quiet", "--no-window-system", f"{tmp}/{k}.m"]
t = {n: [] for n in cmds}
# Interleaved, so that the machine's load falls on every command alike.
for r in range(runs):
    for n, c in cmds.items():
        if n[0] == "octave" and r >= octave_runs:
            continue
        t0 = time.perf_counter_ns()
        # Octave reports a harmless exception on leaving a script.
        subprocess.run(c, stdout=subprocess.DEVNULL, check=True,
                       stderr=subprocess.DEVNULL if n[0] == "octave" else None)
        t[n].append((time.perf_counter_ns() - t0) / 1e6)
ms = {n: statistics.median(v) for n, v in t.items()}
status = 0
print(f"kernels: medians of {runs} interleaved runs (Octave {octave_runs}), "
      "each side's empty-script time subtracted, ms")
head = f"{'kernel':<11} {'zvr':>9} {'lua':>9} {'zvr/lua':>8} {'target':>7}"
if octave:
    head += f" {'octave':>10} {'octave/zvr':>11}"
print(head)
for k in kernels:
    z = ms[("zvr", k)] - ms[("zvr", "empty")]
    l = ms[("lua", k)] - ms[("lua", "empty")]
    r = z / l if l > 0 else float("inf")
    ok = r <= targets[k]
    status |= 0 if ok else 2
    line = f"{k:<11} {z:9.1f} {l:9.1f} {r:7.2f}x {targets[k]:6.1f}x"
    if octave:
        o = ms[("octave", k)] - ms[("octave", "empty")]
        line += f" {o:10.1f} {o / z if z > 0 else 0:10.1f}x"
    print(line + ("" if ok else "  OVER"))
print(f"start-up check: whole processes, medians of {runs} runs, ms (target 3x Lua)")
for k in startup + ["empty"]:
    z, l = ms[("zvr", k)], ms[("lua", k)]
    print(f"{k:<11} {z:9.2f} {l:9.2f} {z / l:7.2f}x" + ("" if k == "empty" or z / l <= 3 else "  OVER"))
sys.exit(status)
PY
