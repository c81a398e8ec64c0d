# The reference side of fft_builtins_bench: numpy.fft on the same lengths and
# scipy.linalg's Lyapunov and Riccati solvers at order 100, best of the given
# number of runs (and, for the transforms, the median as key@median=seconds).
# Prints key=seconds words. Usage: fft_builtins_reference.py [repetitions]
import statistics
import sys
import time

import numpy as np
from scipy import linalg

reps = int(sys.argv[1]) if len(sys.argv) > 1 else 10
rng = np.random.default_rng(777)
words = []


def times(f):
    f()
    t = []
    for _ in range(reps):
        t0 = time.perf_counter()
        f()
        t.append(time.perf_counter() - t0)
    return t


def best(f):
    return min(times(f))


def both(key, f):
    t = times(f)
    words.append(f"{key}={min(t)!r}")
    words.append(f"{key}@median={statistics.median(t)!r}")


for n in (65536, 1048576, 531441, 1000000, 10007):
    x = rng.uniform(-1, 1, n) + 1j * rng.uniform(-1, 1, n)
    both(n, lambda: np.fft.fft(x))
x = rng.uniform(-1, 1, (1024, 1024)) + 1j * rng.uniform(-1, 1, (1024, 1024))
both("1024x1024", lambda: np.fft.fft2(x))
n = 100
a = 0.1 * rng.uniform(-1, 1, (n, n)) - 2 * np.eye(n)
c = 0.1 * rng.uniform(-1, 1, (n, n))
c = c + c.T + 4 * np.eye(n)
b = 0.1 * rng.uniform(-1, 1, (n, 10))
words.append(f"lyap={best(lambda: linalg.solve_continuous_lyapunov(a, -c))!r}")
words.append(f"care={best(lambda: linalg.solve_continuous_are(a, b, c, np.eye(10)))!r}")
print(" ".join(words))
