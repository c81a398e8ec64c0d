#!/usr/bin/python3
"""hashlib md5 and sha1 of a file, and numpy's Hamilton product of two
10^6-element quaternion arrays, for bench/digest_quaternion.sh."""
import hashlib
import sys
import time

path = sys.argv[1]
reps = int(sys.argv[2]) if len(sys.argv) > 2 else 3
for name in ("md5", "sha1"):
    best = 1e30
    for _ in range(reps):
        t0 = time.perf_counter()
        h = hashlib.new(name)
        with open(path, "rb") as f:
            while True:
                chunk = f.read(1 << 20)
                if not chunk:
                    break
                h.update(chunk)
        h.hexdigest()
        best = min(best, time.perf_counter() - t0)
    print("hashlib %s: %.3f s" % (name, best))
try:
    import numpy as np
except ImportError:
    sys.exit(0)
n = 1000000
i = np.arange(n)
a = [((i * 7 + j * 13) % 101) / 50.0 - 1 for j in range(4)]
b = [((i * 7 + j * 13 + 1) % 101) / 50.0 - 1 for j in range(4)]
best = 1e30
for _ in range(reps):
    t0 = time.perf_counter()
    aw, ax, ay, az = a
    bw, bx, by, bz = b
    w = aw * bw - ax * bx - ay * by - az * bz
    x = aw * bx + ax * bw + ay * bz - az * by
    y = aw * by - ax * bz + ay * bw + az * bx
    z = aw * bz + ax * by - ay * bx + az * bw
    best = min(best, time.perf_counter() - t0)
print("numpy Hamilton product, %d elements: %.4f s" % (n, best))
