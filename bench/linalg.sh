#!/usr/bin/env bash
# Times A\b, inv, det, svd, eig and schur through the LAPACK rows (and the
# engine's own rows at n = 200) beside numpy on the same OpenBLAS, one thread.
# Usage: bench/linalg.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-3}
export OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target linalg_bench >/dev/null
for n in 200 500; do
  echo "== LAPACK rows, n = $n"
  build-bench/bin/linalg_bench lapack "$n" "$reps"
done
echo "== own rows, n = 200"
build-bench/bin/linalg_bench own 200 "$reps"
/usr/bin/python3 - "$reps" <<'PY'
import sys, time
import numpy as np
import scipy.linalg as sl
reps = int(sys.argv[1])
def best(f):
    t = 1e30
    for _ in range(reps):
        t0 = time.perf_counter(); f(); t = min(t, time.perf_counter() - t0)
    return t * 1e3
for n in (200, 500):
    print(f"== numpy, n = {n}")
    rng = np.random.default_rng(1)
    a = rng.standard_normal((n, n)); b = rng.standard_normal(n)
    for name, f in (("A\\b", lambda: np.linalg.solve(a, b)), ("inv", lambda: np.linalg.inv(a)),
                     ("det", lambda: np.linalg.det(a)), ("svd values", lambda: np.linalg.svd(a, compute_uv=False)),
                     ("svd U,S,V", lambda: np.linalg.svd(a)), ("eig values", lambda: np.linalg.eigvals(a)),
                     ("eig vectors", lambda: np.linalg.eig(a)), ("schur", lambda: sl.schur(a))):
        print(f"{name:<12} {n:4d}  {best(f):9.2f} ms")
PY
