#!/usr/bin/python3
# Writes reference roots for the polynomial-roots tests: random real and
# complex polynomials of degree 1 to 30 with numpy's roots (eigenvalues of the
# balanced companion matrix, LAPACK). Run once; the output files are
# committed. Needs Debian's python3-numpy.
# Record layout (one record per line, '#' lines are comments):
#   roots_real.txt:    n / coefficients (n+1, leading first) / roots re / im
#   roots_complex.txt: n / coefficients re / coefficients im / roots re / im
import os
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
rng = np.random.default_rng(20240918)
DEGREES = (1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 15, 18, 21, 25, 30)


def line(values):
    return " ".join(repr(float(v)) for v in np.ravel(values)) + "\n"


with open(os.path.join(HERE, "roots_real.txt"), "w") as f:
    f.write("# n / p (leading first) / roots re / im (numpy.roots)\n")
    for n in DEGREES:
        for _ in range(2):
            p = rng.standard_normal(n + 1)
            r = np.roots(p).astype(complex)
            f.write(line([n]) + line(p) + line(r.real) + line(r.imag))

with open(os.path.join(HERE, "roots_complex.txt"), "w") as f:
    f.write("# n / p re / p im / roots re / im (numpy.roots)\n")
    for n in DEGREES:
        p = rng.standard_normal(n + 1) + 1j * rng.standard_normal(n + 1)
        r = np.roots(p)
        f.write(line([n]) + line(p.real) + line(p.imag) + line(r.real) + line(r.imag))
