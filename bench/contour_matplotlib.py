#!/usr/bin/python3
"""Matplotlib's side of bench/contour.sh: one kernel run reps times on the
grid and levels of contour_bench.cpp (500 x 500, the 7 levels
zmin + (zmax - zmin)(i + 1)/8), Agg backend, 800 x 600 at 100 dpi.
contour and contourf time the call alone (one axes; the call does not slow
as sets gather on it); the _draw kernels draw the figure of one set.
Prints the seconds of the kernel runs alone, as contour_bench does.
Usage: contour_matplotlib.py contour|contourf|contour_draw|contourf_draw reps"""
import sys
import time

import numpy as np
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt

kernel, reps = sys.argv[1], int(sys.argv[2])
n = 500
x = np.linspace(-3, 3, n)
X, Y = np.meshgrid(x, x)
Z = (3 * (1 - X)**2 * np.exp(-X**2 - (Y + 1)**2) - 10 * (X / 5 - X**3 - Y**5) * np.exp(-X**2 - Y**2)
     - np.exp(-(X + 1)**2 - Y**2) / 3 + 1.5 * X)
levels = [Z.min() + (Z.max() - Z.min()) * (i + 1) / 8 for i in range(7)]
fig = plt.figure(figsize=(8, 6), dpi=100)
ax = fig.add_subplot()
call = ax.contourf if kernel.startswith("contourf") else ax.contour
if kernel.endswith("_draw"):
    call(Z, levels)
    fig.canvas.draw()  # the first draw sets up the canvas: start-up, as on our side
    t0 = time.perf_counter()
    for _ in range(reps):
        fig.canvas.draw()
else:
    t0 = time.perf_counter()
    for _ in range(reps):
        call(Z, levels)
print("%.9f" % (time.perf_counter() - t0))
