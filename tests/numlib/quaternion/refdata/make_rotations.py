#!/usr/bin/python3
"""Writes rotations.txt from scipy.spatial.transform.Rotation.from_euler("xyz", ...).

Each line: roll pitch yaw, then the quaternion w x y z (scipy keeps the
scalar part last), then the 3 by 3 rotation matrix row by row.
"""
import numpy as np
from scipy.spatial.transform import Rotation

rng = np.random.default_rng(20261207)
rows = []
for _ in range(200):
    r, p, y = rng.uniform(-np.pi, np.pi), rng.uniform(-np.pi / 2, np.pi / 2), rng.uniform(-np.pi, np.pi)
    rot = Rotation.from_euler("xyz", [r, p, y])
    x, qy, z, w = rot.as_quat()
    m = rot.as_matrix().reshape(-1)
    rows.append(" ".join("%.17g" % v for v in [r, p, y, w, x, qy, z, *m]))
with open("rotations.txt", "w") as f:
    f.write("\n".join(rows) + "\n")
