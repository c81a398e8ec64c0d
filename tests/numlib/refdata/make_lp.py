#!/usr/bin/python3
# Writes lp_random.txt: small random linear programs (maximise c'x subject to
# A x <= b and lb <= x <= ub, bounds arrays possibly shorter than n) with their
# optimal values from SciPy's HiGHS solver: one family of real data and one of
# small integers, which makes degenerate vertices common. Run once; the C++
# tests read the file. Needs Debian's python3-numpy and python3-scipy (hence
# /usr/bin/python3).
import os
import numpy as np
from scipy.optimize import linprog

rng = np.random.default_rng(7341)
out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lp_random.txt")


def num(v):
    if np.isinf(v):
        return "inf" if v > 0 else "-inf"
    return repr(float(v))


def line(vals):
    return " ".join(num(v) for v in vals)


def real_data(m, n):
    return (np.round(rng.uniform(-1, 1, (m, n)), 3), np.round(rng.uniform(-0.5, 2, m), 3),
            np.round(rng.uniform(-1, 1, n), 3))


def integer_data(m, n):
    return (rng.integers(-2, 3, (m, n)).astype(float), rng.integers(-1, 4, m).astype(float),
            rng.integers(-2, 3, n).astype(float))


def family(make, max_m, max_n, quota, lines):
    count = {k: 0 for k in quota}
    while count != quota:
        m = int(rng.integers(0, max_m + 1))
        n = int(rng.integers(1, max_n + 1))
        A, b, c = make(m, n)
        n_lb = int(rng.integers(0, n + 1)) if rng.random() < 0.3 else n
        n_ub = int(rng.integers(0, n + 1))
        lb = np.empty(n_lb)
        ub = np.empty(n_ub)
        for k in range(n_lb):
            r = rng.random()
            lb[k] = 0.0 if r < 0.5 else (-np.inf if r < 0.65 else np.round(rng.uniform(-1, 1), 3))
        for k in range(n_ub):
            lo = lb[k] if k < n_lb and np.isfinite(lb[k]) else -1.0
            ub[k] = np.inf if rng.random() < 0.25 else np.round(lo + rng.uniform(0.1, 2), 3)
        bounds = []
        for k in range(n):
            lo = lb[k] if k < n_lb and lb[k] != -np.inf else None
            hi = ub[k] if k < n_ub and ub[k] != np.inf else None
            bounds.append((lo, hi))
        res = linprog(-c, A_ub=A if m else None, b_ub=b if m else None, bounds=bounds,
                      method="highs")
        kind = {0: "optimal", 2: "infeasible", 3: "unbounded"}.get(res.status)
        if kind is None or count[kind] >= quota[kind]:
            continue
        count[kind] += 1
        lines.append(f"problem {m} {n} {n_lb} {n_ub}")
        lines += [line(row) for row in A]
        lines += [line(b), line(c), line(lb), line(ub)]
        lines.append(f"optimal {-res.fun!r}" if kind == "optimal" else kind)


lines = ["# problem m n n_lb n_ub, then A (m lines), b, c, lb, ub, then: optimal VALUE |"
         " infeasible | unbounded"]
family(real_data, 6, 5, {"optimal": 80, "infeasible": 20, "unbounded": 25}, lines)
family(integer_data, 8, 6, {"optimal": 30, "infeasible": 10, "unbounded": 10}, lines)
with open(out, "w") as f:
    f.write("\n".join(lines) + "\n")
print(out, sum(l.startswith("problem") for l in lines), "programs")
