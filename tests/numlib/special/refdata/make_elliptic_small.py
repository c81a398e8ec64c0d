#!/usr/bin/python3
# Prints the reference table of elliptic_accuracy_test.cpp: F(phi | m) and
# E(phi | m) for negative parameters and m = 1, and am(u | 1), from mpmath at
# 60 digits. Amplitudes below pi/4 (and every amplitude of F and am at m = 1)
# are held to a few ulps, larger ones to the accuracy of the Landen loops.
# Needs Debian's python3-mpmath; paste the output into the test.
import mpmath as mp

mp.mp.dps = 60
SMALL = ['1e-300', '1e-100', '1e-20', '1e-8', '1e-4', '0.01', '0.3', '0.7', '-1e-20']
LARGE = ['0.8', '1.2', '1.5707963267948966', '2.5', '-1.2']
NEGATIVE = ['-1e6', '-1000', '-10', '-1', '-0.2', '-1e-10']


def row(kind, x, m, value, ulps):
    print('    {\'%s\', %r, %r, %r, %d},' % (kind, float(x), float(m), float(value), ulps))


for ps in SMALL + LARGE:
    phi = float(ps)
    p = mp.mpf(phi)
    ulps = 4 if ps in SMALL else 64
    for ms in NEGATIVE:
        m = mp.mpf(float(ms))
        row('f', phi, float(ms), mp.ellipf(p, m), ulps)
        row('e', phi, float(ms), mp.ellipe(p, m), ulps)
    if abs(phi) <= 1.5707963267948966:
        # F(phi | 1) integrates sec: asinh(tan phi) up to pi/2.
        row('f', phi, 1.0, mp.asinh(mp.tan(p)), 4)
        row('e', phi, 1.0, mp.ellipe(p, 1), 4)
for us in ['1e-300', '1e-20', '1e-8', '1e-4', '0.01', '0.5', '3', '-1e-8', '40', '800']:
    u = mp.mpf(float(us))
    row('a', float(us), 1.0, mp.atan(mp.sinh(u)), 2)
