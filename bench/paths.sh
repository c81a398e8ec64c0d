#!/usr/bin/env bash
# The paths that must not grow faster than their data, beside GNU Octave
# (Debian's octave package, installed when missing): reading 100,000 cell
# elements in a loop forward, backward and in a random order, storing them in
# a random order, appending 100,000, growing a text by 20,000 and 80,000
# characters, numel of a million-element array 100,000 times, a function
# that reads its argument's first element, a 2000 x 2000 transpose and a
# repmat. Both sides run the same ZVR text as whole processes, interleaved;
# each side's empty-script time is subtracted from the medians. Targets: the
# cell loops within 2 times Octave's time, the text appends within Octave's.
# Usage: bench/paths.sh [runs]   (default 5). ZVR=path times another zvr
# binary (a build of an earlier commit, for the figures before a change).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
. bench/zvr_side.sh
need_command octave-cli octave
find_zvr
dir=bench/paths
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
kernels=(cell_read cell_read_back cell_read_random cell_write_random cell_append char_append20k char_append80k numel reader transpose repmat)
# A leading statement makes the Octave file a script whose functions are
# defined before they are called.
for k in "${kernels[@]}" empty; do
  { echo "1;"; cat "$dir/$k.zvr"; } >"$tmp/$k.m"
done

python3 - "$runs" "$ZVR" "$dir" "$tmp" "${kernels[@]}" <<'PY'
import subprocess, sys, time, statistics
runs, zvr, d, tmp = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
kernels = sys.argv[5:]
targets = {"cell_read": 2.0, "cell_read_back": 2.0, "cell_read_random": 2.0, "cell_write_random": 2.0,
           "cell_append": 2.0, "char_append20k": 1.0, "char_append80k": 1.0}
cmds = {}
for k in kernels + ["empty"]:
    cmds[("zvr", k)] = [zvr, f"{d}/{k}.zvr"]
    cmds[("octave", k)] = ["octave-cli", "--norc", "--quiet", f"{tmp}/{k}.m"]
t = {n: [] for n in cmds}
for r in range(runs):
    for n, c in cmds.items():
        t0 = time.perf_counter_ns()
        subprocess.run(c, stdout=subprocess.DEVNULL, check=True,
                       stderr=subprocess.DEVNULL if n[0] == "octave" else None)
        t[n].append((time.perf_counter_ns() - t0) / 1e6)
ms = {n: statistics.median(v) for n, v in t.items()}
print(f"paths: medians of {runs} interleaved runs, each side's empty-script time subtracted, ms")
print(f"{'kernel':<18} {'zvr':>9} {'octave':>9} {'zvr/octave':>11} {'target':>7}")
status = 0
for k in kernels:
    z = max(ms[("zvr", k)] - ms[("zvr", "empty")], 0.0)
    o = max(ms[("octave", k)] - ms[("octave", "empty")], 0.0)
    if o <= 0:
        # Octave's start-up varies by more than this kernel takes: no ratio.
        print(f"{k:<18} {z:9.1f} {o:9.1f} {'n/a':>11}")
        continue
    r = z / o
    line = f"{k:<18} {z:9.1f} {o:9.1f} {r:10.2f}x"
    if k in targets:
        ok = r <= targets[k]
        status |= 0 if ok else 2
        line += f" {targets[k]:6.1f}x" + ("" if ok else "  OVER")
    print(line)
sys.exit(status)
PY
