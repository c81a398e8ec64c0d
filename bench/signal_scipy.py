# The scipy and numpy side of the signal benchmark: lfilter of 10^6 samples
# with 8 coefficients, convolve of 10^4 by 10^3 points, convolve2d of a
# 1000 x 1000 matrix with a 5 x 5 kernel; best of the given number of runs.
# Prints NAME=seconds words for signal_bench. Usage: signal_scipy.py [reps]
import sys
import time

import numpy as np
from scipy import signal

reps = int(sys.argv[1]) if len(sys.argv) > 1 else 10
rng = np.random.default_rng(5)
b = rng.uniform(-1, 1, 8)
a = rng.uniform(-1, 1, 8) * 0.1
a[0] = 1.0
x = rng.uniform(-1, 1, 1000000)
p = rng.uniform(-1, 1, 10000)
q = rng.uniform(-1, 1, 1000)
img = rng.uniform(-1, 1, (1000, 1000))
ker = rng.uniform(-1, 1, (5, 5))


def best(f):
    f()
    t = float("inf")
    for _ in range(reps):
        t0 = time.perf_counter()
        f()
        t = min(t, time.perf_counter() - t0)
    return t


words = [
    f"filter={best(lambda: signal.lfilter(b, a, x))!r}",
    f"conv={best(lambda: np.convolve(p, q))!r}",
    f"conv2={best(lambda: signal.convolve2d(img, ker))!r}",
]
print(" ".join(words))
