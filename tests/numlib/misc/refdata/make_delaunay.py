#!/usr/bin/python3
"""Writes delaunay_<d>d_<n>.txt from scipy.spatial: random points in general
position, their Delaunay simplices (1-based, each row sorted, rows sorted),
the hull points, and for 2-D sets query points with scipy's linear griddata
of z = sin(3x) + cos(2y) (nan outside the hull).

Layout: "n d m h q", n point rows, m simplex rows, one row of h hull
indices (1-based), q rows "x y value"."""
import numpy as np
from scipy.spatial import Delaunay, ConvexHull
from scipy.interpolate import griddata

rng = np.random.default_rng(32)
for d, n in [(2, 40), (2, 200), (2, 500), (3, 60), (3, 300)]:
    pts = rng.uniform(-1, 1, size=(n, d))
    tri = Delaunay(pts)
    simp = sorted(tuple(sorted(int(v) + 1 for v in s)) for s in tri.simplices)
    hull = sorted(int(v) + 1 for v in ConvexHull(pts).vertices)
    rows = []
    if d == 2:
        q = rng.uniform(-1.2, 1.2, size=(300, 2))
        z = np.sin(3 * pts[:, 0]) + np.cos(2 * pts[:, 1])
        g = griddata(pts, z, q, method="linear")
        rows = [(a, b, v) for (a, b), v in zip(q, g)]
    with open("delaunay_%dd_%d.txt" % (d, n), "w") as f:
        f.write("%d %d %d %d %d\n" % (n, d, len(simp), len(hull), len(rows)))
        for p in pts:
            f.write(" ".join("%.17g" % v for v in p) + "\n")
        for s in simp:
            f.write(" ".join(str(v) for v in s) + "\n")
        f.write(" ".join(str(v) for v in hull) + "\n")
        for a, b, v in rows:
            f.write("%.17g %.17g %.17g\n" % (a, b, v))
