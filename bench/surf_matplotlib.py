#!/usr/bin/python3
"""Matplotlib's side of bench/surf.sh: plot_surface of the 100 x 100 grid of
surf_bench.cpp (rstride = cstride = 1, a colour map), Agg, 800 x 600 at
100 dpi, the canvas drawn, reps times: each run builds the surface anew on a
cleared 3-D axes and draws it, as our refresh and draw do.
Prints the seconds of the runs alone, as surf_bench does.
Usage: surf_matplotlib.py reps"""
import sys
import time

import numpy as np
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt

reps = int(sys.argv[1])
n = 100
x = np.linspace(-3, 3, n)
X, Y = np.meshgrid(x, x)
Z = (3 * (1 - X)**2 * np.exp(-X**2 - (Y + 1)**2) - 10 * (X / 5 - X**3 - Y**5) * np.exp(-X**2 - Y**2)
     - np.exp(-(X + 1)**2 - Y**2) / 3)
fig = plt.figure(figsize=(8, 6), dpi=100)


def once():
    fig.clf()
    ax = fig.add_subplot(projection="3d")
    ax.plot_surface(X, Y, Z, rstride=1, cstride=1, cmap="coolwarm")
    fig.canvas.draw()


once()  # the first draw sets up the canvas and fonts: start-up, as on our side
t0 = time.perf_counter()
for _ in range(reps):
    once()
print("%.9f" % (time.perf_counter() - t0))
