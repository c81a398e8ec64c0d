#!/usr/bin/python3
# The scipy side of bench/solvers.sh: Van der Pol with solve_ivp(RK45) at the
# tolerances of the ZVR case (steps, evaluations, seconds), and erf, gamma
# and the normal cdf on the same 10^6 values.
import time

import numpy as np
from scipy import integrate, special, stats


def best(f, reps=3):
    t = 1e30
    for _ in range(reps):
        t0 = time.perf_counter()
        f()
        t = min(t, time.perf_counter() - t0)
    return t


sol = None


def vdp():
    global sol
    sol = integrate.solve_ivp(lambda t, y: [y[1], (1 - y[0] ** 2) * y[1] - y[0]], (0, 20), [2, 0],
                              method="RK45", rtol=1e-6, atol=1e-9)


s = best(vdp)
print("scipy RK45 Van der Pol: %d steps, %d evaluations, %.4f s" % (len(sol.t) - 1, sol.nfev, s))
x = np.arange(1, 1000001) / 1e5 - 5
print("scipy erf, 10^6 values:        %.4f s" % best(lambda: special.erf(x)))
print("scipy gamma, 10^6 values:      %.4f s" % best(lambda: special.gamma(x / 2 + 3)))
print("scipy norm.cdf, 10^6 values:   %.4f s" % best(lambda: stats.norm.cdf(x)))
