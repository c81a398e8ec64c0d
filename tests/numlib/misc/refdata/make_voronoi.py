#!/usr/bin/python3
"""Writes voronoi_2d_200.txt: scipy.spatial.Voronoi vertices of the points of
delaunay_2d_200.txt, one "x y" row each, after a count."""
import numpy as np
from scipy.spatial import Voronoi

with open("delaunay_2d_200.txt") as f:
    n, d = map(int, f.readline().split()[:2])
    pts = np.array([list(map(float, f.readline().split())) for _ in range(n)])
v = Voronoi(pts).vertices
with open("voronoi_2d_200.txt", "w") as f:
    f.write("%d\n" % len(v))
    for x, y in v:
        f.write("%.17g %.17g\n" % (x, y))
