#!/usr/bin/python3
"""Matplotlib's side of bench/figure_sizes.sh: the data of
figure_sizes_bench.cpp drawn by plot_surface (rstride = cstride = 1, a colour
map), plot3D, a PatchCollection of circles, pcolormesh and scatter, Agg,
800 x 600 at 100 dpi. Kernels KIND-SIZE-STEP: first builds the artists on a
cleared axes and draws the canvas; redraw draws the canvas; step moves the
view one step (azimuth for 3-D, the x limits for 2-D) and draws the canvas.
Prints the seconds of the kernel runs alone and the peak resident memory in
kB, as figure_sizes_bench does.
Usage: figure_sizes_matplotlib.py KIND-SIZE-STEP reps"""
import resource
import sys
import time

import numpy as np
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
from matplotlib.collections import PatchCollection
from matplotlib.patches import Circle

kind, size, step = sys.argv[1].split("-")
n = int(float(size))
reps = int(sys.argv[2])
fig = plt.figure(figsize=(8, 6), dpi=100)
ax = None


def golden(n):
    k = np.arange(n)
    return np.mod(k * 0.618034, 1), np.mod(k * 0.414214, 1), k


def build():
    global ax
    fig.clf()
    if kind in ("surf", "plot3"):
        ax = fig.add_subplot(projection="3d")
    else:
        ax = fig.add_subplot()
    if kind == "surf":
        X, Y = np.meshgrid(-3 + 6 * np.arange(n) / (n - 1), -3 + 6 * np.arange(n) / (n - 1))
        Z = 3 * (1 - X)**2 * np.exp(-X**2 - (Y + 1)**2) - 10 * (X / 5 - X**3 - Y**5) * np.exp(-X**2 - Y**2)
        ax.plot_surface(X, Y, Z, rstride=1, cstride=1, cmap="viridis")
    elif kind == "plot3":
        t = 20 * np.pi * np.arange(n) / (n - 1)
        ax.plot3D(np.cos(t), np.sin(t), t / (20 * np.pi))
    elif kind == "circle":
        x, y, k = golden(n)
        r = 0.01 + 0.02 * np.mod(k * 0.7071, 1)
        ax.add_collection(PatchCollection([Circle((a, b), c) for a, b, c in zip(x, y, r)], facecolor="none",
                                          edgecolor="b"))
        ax.autoscale_view()
    elif kind == "pcolor":
        t = -3 + 6 * np.arange(n) / (n - 1)
        ax.pcolormesh(np.sin(np.outer(t, t)))
    else:
        x, y, _ = golden(n)
        ax.scatter(x, y, marker="o", facecolors="none", edgecolors="b")
    fig.canvas.draw()


build()  # the first draw sets up the canvas and fonts: start-up, as on our side
t0 = time.perf_counter()
for k in range(reps):
    if step == "first":
        build()
        continue
    if step == "step":
        shift = 4 * ((k // 20) % 2 and 20 - k % 20 or k % 20 + 1)
        if kind in ("surf", "plot3"):
            ax.view_init(elev=30, azim=-60 + shift * 0.45)
        else:
            lo, hi = ax.get_xlim()
            d = (hi - lo) * shift / 640
            ax.set_xlim(lo - d, hi - d)
    fig.canvas.draw()
print("%.9f %d" % (time.perf_counter() - t0, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss))
