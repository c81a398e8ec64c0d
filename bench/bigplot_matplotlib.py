#!/usr/bin/python3
"""Matplotlib's side of bench/bigplot.sh: the n points of bigplot_bench.cpp
(x = 1 .. n, y = sin(x / (n / 100))) as one line, Agg backend, 800 x 600 at
100 dpi, with Matplotlib's defaults (path simplification on). Kernels
KERNEL-N, each run reps times:
  plot  the line is removed and plotted again (the axes scale to it) and
        the canvas drawn;
  draw  the canvas is drawn;
  drag  the x limits move by 4 pixels' worth (20 moves right, 20 back, as
        the Drag tool moves them) and the canvas is drawn.
Prints the seconds of the kernel runs alone, as bigplot_bench does, and
the pixels the curve inked in the last picture.
Usage: bigplot_matplotlib.py plot|draw|drag-N reps"""
import sys
import time

import numpy as np
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt

kernel, size = sys.argv[1].split("-")
reps = int(sys.argv[2])
n = int(float(size))
x = np.arange(1, n + 1, dtype=float)
y = np.sin(x / (n / 100))
fig = plt.figure(figsize=(8, 6), dpi=100)
ax = fig.add_subplot()
(line,) = ax.plot(x, y, "b")
fig.canvas.draw()  # the first draw sets up the canvas and fonts: start-up, as on our side
lo, hi = ax.get_xlim()
per_pixel = (hi - lo) / (ax.bbox.width)
t0 = time.perf_counter()
for k in range(reps):
    if kernel == "plot":
        line.remove()
        (line,) = ax.plot(x, y, "b")
        ax.relim()
        ax.autoscale_view()
    elif kernel == "drag":
        steps = (20 - k % 20) if (k // 20) % 2 else (k % 20 + 1)
        ax.set_xlim(lo - steps * 4 * per_pixel, hi - steps * 4 * per_pixel)
    fig.canvas.draw()
seconds = time.perf_counter() - t0
rgb = np.asarray(fig.canvas.buffer_rgba())[:, :, :3]
blue = int(np.count_nonzero((rgb[:, :, 0] == 0) & (rgb[:, :, 1] == 0) & (rgb[:, :, 2] == 255)))
print("%.9f %d" % (seconds, blue))
