#!/usr/bin/env bash
# The 3-D scene's growth from 10^3 to 2 x 10^6 triangles (bench/scene_growth_bench.cpp):
# a hilly surface alone, and crossed by a tilted plane (splits along the
# crossing). Each size runs `runs` times and the median processor time is
# taken; the growth exponent is the least-squares slope of log time against
# log triangles, beside n log n's over the same sizes.
# Usage: bench/scene_growth.sh [runs] [largest m]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
largest=${2:-1001}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target scene_growth_bench >/dev/null
exec /usr/bin/python3 - "$runs" "$largest" <<'PY'
import math, statistics, subprocess, sys
runs, largest = int(sys.argv[1]), int(sys.argv[2])
sizes = [m for m in (23, 50, 100, 200, 400, 708, 1001) if m <= largest]
def fit(pts):
    xs = [math.log(n) for n, _ in pts]; ys = [math.log(t) for _, t in pts]
    mx, my = statistics.mean(xs), statistics.mean(ys)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)
for crossed in (0, 1):
    print("surface crossed by a plane" if crossed else "surface alone")
    print(f"{'triangles':>10s} {'cpu ms':>9s} {'us/tri':>7s} {'splits':>7s} {'tested/tri':>10s} {'visited/tri':>11s}")
    pts = []
    for m in sizes:
        rows = [subprocess.run(["build-bench/bin/scene_growth_bench", str(m), str(crossed)], capture_output=True,
                               text=True, check=True).stdout.split() for _ in range(runs)]
        n = int(rows[0][0]); t = statistics.median(float(r[1]) for r in rows)
        pts.append((n, t))
        print(f"{n:10d} {t * 1e3:9.1f} {t / n * 1e6:7.2f} {int(rows[0][3]):7d} {int(rows[0][4]) / n:10.2f} {int(rows[0][5]) / n:11.2f}")
    nlogn = fit([(n, n * math.log(n)) for n, _ in pts])
    print(f"growth exponent {fit(pts):.3f} (n log n over these sizes: {nlogn:.3f})")
PY
