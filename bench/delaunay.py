#!/usr/bin/python3
"""scipy.spatial.Delaunay of 10^3 and 10^4 random points, for bench/delaunay.sh."""
import sys
import time
import numpy as np
from scipy.spatial import Delaunay

reps = int(sys.argv[1]) if len(sys.argv) > 1 else 3
rng = np.random.default_rng(1)
for n in (1000, 10000):
    pts = rng.uniform(size=(n, 2))
    best = 1e30
    for _ in range(reps):
        t0 = time.perf_counter()
        Delaunay(pts)
        best = min(best, time.perf_counter() - t0)
    print("scipy Delaunay, %d points: %.4f s" % (n, best))
