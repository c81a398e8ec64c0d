#!/usr/bin/python3
# Prints the table of elliptic_accuracy_test.cpp for amplitudes past a
# quarter turn: F(phi | m) and E(phi | m) at and a few ulps to 1e7 ulps
# around odd multiples of pi/2, where F grows like 1 / cos phi as m nears 1,
# from mpmath at 60 digits on the exact double arguments. Needs Debian's
# python3-mpmath; paste the output into the test.
import struct

import mpmath as mp

mp.mp.dps = 60


def moved(x, k):
    bits = struct.unpack('<q', struct.pack('<d', x))[0]
    return struct.unpack('<d', struct.pack('<q', bits + k))[0]


MS = [1 - 2.0 ** -50, 1 - 2.0 ** -30, 0.9, -1.0]
points = []
for j in [1, -3, 21]:
    base = float(mp.pi * j / 2)
    for k in [0, 1, -2, 10 ** 4, -10 ** 7]:
        points += [(moved(base, k), m) for m in MS]
points += [(1.5708, m) for m in MS] + [(-4.71239, m) for m in MS]
for phi, m in points:
    p, q = mp.mpf(phi), mp.mpf(m)
    print('    {%r, %r, %r, %r},' % (phi, m, float(mp.ellipf(p, q)), float(mp.ellipe(p, q))))
