#!/usr/bin/python3
# Prints the whole-range table of elliptic_accuracy_test.cpp: F(phi | m) and
# E(phi | m) over amplitudes from 1e-300 to many periods and parameters from
# -1e300 to just below 1 (and above 1 inside the real range), and sn, cn, dn
# of the Jacobi functions up to 1 - 2^-53, from mpmath at 60 digits on the
# exact double arguments. Needs Debian's python3-mpmath; paste the output into
# the test.
import mpmath as mp

mp.mp.dps = 60
PHIS = ['1e-300', '1e-150', '1e-100', '1e-8', '0.3', '1', '1.5707963267948966', '2', '3.5', '-2.2',
        '10', '100']
MS = ['-1e300', '-1e6', '-3', '-1e-12', '0', '1e-10', '0.3', '0.5', '0.9', '0.999999',
      str(1 - 2.0 ** -30), str(1 - 2.0 ** -53)]
# Parameters above 1 with an amplitude where m sin^2 phi <= 1.
ABOVE = [('1e-100', '1e100'), ('1e-150', '1e200'), ('0.3', '2'), ('0.5', '1.5'), ('0.1', '50')]


def row(kind, x, m, value):
    print('    {\'%s\', %r, %r, %r},' % (kind, float(x), float(m), float(value)))


def f_e(phi, m):
    p, q = mp.mpf(phi), mp.mpf(m)
    row('f', phi, m, mp.ellipf(p, q))
    row('e', phi, m, mp.ellipe(p, q))


for ps in PHIS:
    for ms in MS:
        f_e(float(ps), float(ms))
for ps, ms in ABOVE:
    f_e(float(ps), float(ms))
for us in ['1e-8', '0.4', '1.5', '3', '7', '-5', '20']:
    for ms in ['0', '0.1', '0.5', '0.9', '0.999999', str(1 - 2.0 ** -30), str(1 - 2.0 ** -53)]:
        u, m = float(us), float(ms)
        row('s', u, m, mp.ellipfun('sn', mp.mpf(u), m=mp.mpf(m)))
        row('c', u, m, mp.ellipfun('cn', mp.mpf(u), m=mp.mpf(m)))
        row('d', u, m, mp.ellipfun('dn', mp.mpf(u), m=mp.mpf(m)))
