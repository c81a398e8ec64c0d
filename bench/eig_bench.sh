#!/usr/bin/env bash
# Eigenvalues of a 200 x 200 random matrix: our kernel against
# numpy.linalg.eigvals on the same matrix in the same run, one thread each,
# with the figures, their ratio and the largest difference of the eigenvalues.
# numpy is taken from Debian's python3-numpy when installed; without it only
# our figures are shown. Usage: bench/eig_bench.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-10}
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTN_BENCH=ON >/dev/null
cmake --build build-bench --target eig_bench >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
build-bench/bin/eig_bench --write "$tmp" "$reps"
py=/usr/bin/python3
if ! "$py" -c 'import numpy' 2>/dev/null; then
  echo "numpy not installed (apt-get install python3-numpy): no comparison"
  exit 0
fi
export OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 MKL_NUM_THREADS=1
"$py" - "$tmp" "$reps" <<'PY'
import sys, time
import numpy as np
d, reps = sys.argv[1], int(sys.argv[2])
a = np.loadtxt(d + "/matrix.txt")
ours = np.loadtxt(d + "/eig.txt")
ours = ours[:, 0] + 1j * ours[:, 1]
ours_ms = float(np.loadtxt(d + "/ours_ms.txt"))
np.linalg.eigvals(a)  # warm up
best = 1e30
for _ in range(reps):
    t0 = time.perf_counter()
    w = np.linalg.eigvals(a)
    best = min(best, time.perf_counter() - t0)
# Multiset distance: each reference value takes the nearest unused one of ours.
left = list(ours)
worst = 0.0
for z in w:
    k = int(np.argmin([abs(z - x) for x in left]))
    worst = max(worst, abs(z - left.pop(k)))
print("  numpy.linalg.eigvals          %9.3f ms  (numpy %s, 1 thread)" % (best * 1e3, np.__version__))
print("  ratio ours / numpy            %9.2f" % (ours_ms / (best * 1e3)))
print("  largest eigenvalue difference %9.2e (norm1 %.3g)" % (worst, np.abs(a).sum(axis=0).max()))
PY
