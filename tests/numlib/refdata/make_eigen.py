#!/usr/bin/python3
# Writes reference eigenvalues for the eigenvalue and Schur tests: random real
# and complex matrices with numpy's (LAPACK geev) eigenvalues. Run once; the
# output files are committed. Needs Debian's python3-numpy.
# Record layout (one record per line, '#' lines are comments):
#   eig_real.txt:    n / matrix (n*n, row-major) / eig real parts / eig imag parts
#   eig_complex.txt: n / matrix real parts / matrix imag parts / eig re / eig im
import os
import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
rng = np.random.default_rng(20240917)


def line(values):
    return " ".join(repr(float(v)) for v in np.ravel(values)) + "\n"


def real_cases():
    for n in (1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 16, 20, 25, 32, 40):
        yield rng.standard_normal((n, n))
    # Scaled rows and columns (eigenvalues unchanged by the similarity).
    n = 12
    d = 2.0 ** rng.integers(-20, 20, n)
    yield np.diag(d) @ rng.standard_normal((n, n)) @ np.diag(1 / d)
    # Small integers: repeated structure, exact arithmetic in the steps.
    yield rng.integers(-3, 4, (9, 9)).astype(float)
    # Companion matrix of a random polynomial.
    n = 15
    c = np.zeros((n, n))
    c[0, :] = rng.standard_normal(n)
    c[np.arange(1, n), np.arange(0, n - 1)] = 1.0
    yield c


def complex_cases():
    for n in (1, 2, 3, 4, 5, 7, 10, 16, 24):
        yield rng.standard_normal((n, n)) + 1j * rng.standard_normal((n, n))


with open(os.path.join(HERE, "eig_real.txt"), "w") as f:
    f.write("# n / A row-major / eigenvalues re / im (numpy.linalg.eigvals)\n")
    for a in real_cases():
        w = np.linalg.eigvals(a)
        f.write(line([a.shape[0]]) + line(a) + line(w.real) + line(w.imag))

with open(os.path.join(HERE, "eig_complex.txt"), "w") as f:
    f.write("# n / A re / A im / eigenvalues re / im (numpy.linalg.eigvals)\n")
    for a in complex_cases():
        w = np.linalg.eigvals(a)
        f.write(line([a.shape[0]]) + line(a.real) + line(a.imag) + line(w.real) + line(w.imag))
