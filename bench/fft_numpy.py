# The numpy side of the FFT benchmark: numpy.fft.fft on complex vectors of
# 2^16 and 3^10 points, best of the given number of runs. Prints N=seconds
# words for fft_bench. Usage: fft_numpy.py [repetitions]
import sys
import time

import numpy as np

reps = int(sys.argv[1]) if len(sys.argv) > 1 else 50
rng = np.random.default_rng(777)
words = []
for n in (65536, 59049):
    x = rng.uniform(-1, 1, n) + 1j * rng.uniform(-1, 1, n)
    np.fft.fft(x)  # plans and caches are built outside the timing
    best = float("inf")
    for _ in range(reps):
        t0 = time.perf_counter()
        np.fft.fft(x)
        best = min(best, time.perf_counter() - t0)
    words.append(f"{n}={best!r}")
print(" ".join(words))
