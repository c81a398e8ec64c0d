#!/usr/bin/python3
# Writes reference data for the linear-algebra built-ins: random real and
# complex matrices of every shape with scipy's singular values and numpy's
# ranks, eigenvalues, expm/sqrtm/logm of well-conditioned matrices and
# linear-program optima from HiGHS. Run once; the output is committed.
# Needs Debian's python3-numpy and python3-scipy.
# linalg_ref.txt, one record per line, fields separated by blanks:
#   svd C M N RANK_OWN RANK_LAPACK re(M*N) [im(M*N)] s(min(M,N))
#   fun N a(N*N) expm(N*N) sqrtm(N*N) logm(N*N)
#   eig C N re(N*N) [im(N*N)] w_re(N) w_im(N)
#   lp M N c(N) A(M*N) b(M) objective
import os
import numpy as np
import scipy.linalg as sl
from scipy.optimize import linprog

HERE = os.path.dirname(os.path.abspath(__file__))
rng = np.random.default_rng(20261207)
EPS = np.finfo(float).eps


def nums(a):
    return " ".join(repr(float(v)) for v in np.ravel(a))


def rand(m, n, c):
    a = rng.standard_normal((m, n))
    return a + 1j * rng.standard_normal((m, n)) if c else a


def svd_cases():
    shapes = [(1, 1), (2, 3), (3, 2), (4, 4), (5, 9), (9, 5), (12, 12), (20, 7), (7, 20),
              (30, 30), (40, 60), (60, 30), (60, 60)]
    for c in (0, 1):
        for m, n in shapes:
            yield c, rand(m, n, c)
        # Rank-deficient and zero columns.
        for m, n, r in ((6, 6, 3), (8, 5, 2), (5, 8, 2), (30, 20, 11)):
            yield c, rand(m, r, c) @ rand(r, n, c)
        z = rand(7, 5, c)
        z[:, [1, 3]] = 0
        yield c, z
        yield c, np.zeros((3, 4)) + 0j * c


def main():
    out = []
    for c, a in svd_cases():
        m, n = a.shape
        s = np.linalg.svd(a, compute_uv=False)
        s1 = s[0] if s.size else 0.0
        r_own = int(np.sum(s > max(m, n) * s1 * 1e-12))
        r_lap = int(np.sum(s > max(m, n) * s1 * EPS))
        rec = ["svd", c, m, n, r_own, r_lap, nums(a.real)]
        if c:
            rec.append(nums(a.imag))
        rec.append(nums(s))
        out.append(" ".join(str(x) for x in rec))
    for n in (1, 2, 3, 5, 8, 12, 20):
        # Well conditioned, eigenvalues in the right half plane.
        a = rng.standard_normal((n, n)) * 0.4 + np.eye(n) * 2
        out.append(" ".join(["fun", str(n), nums(a), nums(sl.expm(a)), nums(sl.sqrtm(a).real),
                             nums(sl.logm(a).real)]))
    for c in (0, 1):
        for n in (1, 2, 3, 6, 10, 25, 40):
            a = rand(n, n, c)
            w = np.linalg.eigvals(a)
            rec = ["eig", str(c), str(n), nums(a.real)]
            if c:
                rec.append(nums(a.imag))
            rec += [nums(w.real), nums(w.imag)]
            out.append(" ".join(rec))
    for m, n in ((2, 2), (3, 4), (5, 3), (6, 6), (10, 8)):
        cost = rng.standard_normal(n)
        a = rng.uniform(0.1, 1.0, (m, n))
        b = rng.uniform(1.0, 2.0, m)
        res = linprog(cost, A_ub=a, b_ub=b, bounds=[(0, None)] * n, method="highs")
        out.append(" ".join(["lp", str(m), str(n), nums(cost), nums(a), nums(b), repr(float(res.fun))]))
    with open(os.path.join(HERE, "linalg_ref.txt"), "w") as f:
        f.write("\n".join(out) + "\n")


main()
