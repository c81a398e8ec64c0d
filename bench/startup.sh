#!/usr/bin/env bash
# Start-up to the first figure paint, offscreen: the packed demo beside a
# bare Qt program that opens one window. Runs are interleaved; medians and
# their ratio are printed. Usage: bench/startup.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target startup_bench startup_bare tarnivel_demo >/dev/null
runs=${1:-30}
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$(mktemp -d)
bin=build-bench/bin
python3 - "$runs" "$bin" <<'PY'
import statistics, subprocess, sys, time
runs, bin = int(sys.argv[1]), sys.argv[2]
cases = {"demo": [f"{bin}/startup_bench", f"{bin}/tarnivel-demo"], "bare": [f"{bin}/startup_bare"]}
times = {k: [] for k in cases}
# The process prints the monotonic clock at the end of its first paint.
for _ in range(runs):
    for name, cmd in cases.items():
        t = time.monotonic()
        out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
        times[name].append(float(out.split()[-1]) - t)
med = {k: statistics.median(v) * 1000 for k, v in times.items()}
for k in cases:
    print(f"{k:5s} start to first paint: median {med[k]:7.1f} ms over {runs} runs")
print(f"ratio demo/bare: {med['demo'] / med['bare']:.2f}")
PY
