#!/usr/bin/python3
# Writes reference values for the special-function and distribution tests
# from scipy.special, scipy.stats and math. Run once; special.txt is committed.
# Needs Debian's python3-scipy.
# Record layout, one per line ('#' lines are comments):
#   tag n a1 .. an expected
# tags: the function (erf, gammainc, ...) or "pdf:name", "cdf:name",
# "icdf:name" with the arguments in this library's order (x or p first).
import math
import os

import numpy as np
from scipy import special as sp
from scipy import stats as st

HERE = os.path.dirname(os.path.abspath(__file__))
rows = []


def add(tag, args, value):
    value = float(value)
    if math.isnan(value):
        return
    rows.append(tag + " " + str(len(args)) + " " + " ".join(repr(float(a)) for a in args) +
                " " + repr(value))


XS = [-30, -5.5, -2, -1.52, -1, -0.3, 0, 1e-5, 0.25, 0.7, 1.5, 2.5, 4, 6, 27]
for x in XS:
    add("erf", [x], sp.erf(x))
    add("erfc", [x], sp.erfc(x))
for y in [-0.999, -0.9, -0.7, -0.5, -0.1, 0, 1e-6, 0.2, 0.69, 0.71, 0.95, 0.9999]:
    add("erfinv", [y], sp.erfinv(y))
for x in [-4.5, -2.5, -0.5, 0.1, 0.5, 1, 1.5, 2, 3.7, 5, 11.9, 12, 12.5, 30.2, 100, 150.3, 170.5]:
    add("gamma", [x], sp.gamma(x))
for x in [0.01, 0.5, 1, 2, 3.3, 10, 50, 100, 999.5, 1e5]:
    add("gammaln", [x], sp.gammaln(x))
for n in range(0, 171):
    add("factorial", [n], float(math.factorial(n)))
for a in [0.5, 1, 2.5, 10, 30, 100, 1000]:
    for x in [0.01, 0.5, 1, 3, 9.5, 30, 99, 110, 1000]:
        add("gammainc", [x, a], sp.gammainc(a, x))
for a in [0.5, 1, 2.5, 7, 40, 100]:
    for b in [0.5, 1.5, 3, 20, 100, 900]:
        add("beta", [a, b], sp.beta(a, b))
        add("betaln", [a, b], sp.betaln(a, b))
        for x in [0.001, 0.1, 0.35, 0.5, 0.8, 0.97]:
            add("betainc", [x, a, b], sp.betainc(a, b, x))
for n in [0, 1, 5, 20, 33, 34, 40, 50, 60, 67, 100, 300, 1000]:
    for k in sorted({0, 1, 2, n // 3, n // 2, n} - set(range(n + 1, n + 3))):
        add("nchoosek", [n, k], float(math.comb(n, k)))
for x in [1e-3, 0.1, 0.3, 0.5, 0.75, 1, 1.3, 2, 3, 10, 1e4]:
    add("diln", [x], -sp.spence(x))
for m in [0, 0.1, 0.5, 0.9, 0.999, 1]:
    for u in [-7.5, -1, 0.2, 1, 2.5, 9]:
        sn, cn, dn, ph = sp.ellipj(u, m)
        add("ellipj_sn", [u, m], sn)
        add("ellipj_cn", [u, m], cn)
        add("ellipj_dn", [u, m], dn)
for m in [0, 0.01, 0.3, 0.5, 0.8, 0.99, 0.999999]:
    add("ellipk", [m], sp.ellipk(m))
    add("ellipe_complete", [m], sp.ellipe(m))
for m in [-5, -1, -0.2, 0, 0.2, 0.5, 0.9, 0.99, 1.2, 2, 4]:
    for phi in [-1.2, 0.1, 0.3, 0.7, 1.2, 1.5, 2.5, 4]:
        add("ellipf", [phi, m], sp.ellipkinc(phi, m))
        add("ellipe", [phi, m], sp.ellipeinc(phi, m))

SQPI = math.sqrt(math.pi)
# name, parameter sets, scipy distribution from the parameters, x values, has icdf
DISTS = [
    ("norm", [(0, 1), (3, 2.5), (-1, 0.2)], lambda a, b: st.norm(loc=a, scale=b),
     [-3, -1, 0, 0.5, 2, 4.5], True),
    ("unif", [(0, 1), (-2, 3)], lambda a, b: st.uniform(loc=a, scale=b - a),
     [-3, -1, 0, 0.5, 0.99, 2.5], True),
    ("chi2", [(1,), (3,), (10.5,)], lambda k: st.chi2(k), [-1, 0.1, 0.5, 2, 7, 20], True),
    ("t", [(1,), (2,), (5,), (30,)], lambda n: st.t(n), [-5, -1, -0.2, 0.3, 1, 2, 6], True),
    ("f", [(2, 3), (5, 11), (20, 4)], lambda a, b: st.f(a, b), [0.1, 0.5, 1, 2.5, 8], True),
    ("exp", [(1,), (2.5,)], lambda m: st.expon(scale=m), [-1, 0.01, 0.5, 3, 10], False),
    ("beta", [(0.5, 0.5), (2, 3), (7, 1.5)], lambda a, b: st.beta(a, b),
     [0.001, 0.1, 0.4, 0.75, 0.99], True),
    ("rayl", [(1,), (0.5,)], lambda s: st.rayleigh(scale=s), [-1, 0.1, 0.8, 2, 3], False),
    ("cauchy", [(0, 1), (2, 0.5)], lambda a, b: st.cauchy(loc=a, scale=b), [-10, -1, 0, 2.2, 30], False),
    ("chi", [(1,), (2,), (4.5,)], lambda k: st.chi(k), [-1, 0.1, 0.9, 2, 4], False),
    ("gamma", [(0.7, 1), (3, 2), (12, 0.5)], lambda k, t: st.gamma(k, scale=t),
     [-1, 0.05, 0.5, 2, 6, 15], True),
    ("half-normal", [(1,), (0.4,)], lambda t: st.halfnorm(scale=SQPI / (t * math.sqrt(2))),
     [-1, 0.01, 0.5, 1.7, 4], False),
    ("laplace", [(0, 1), (1, 2.5)], lambda a, b: st.laplace(loc=a, scale=b), [-6, -1, 0.5, 1, 3, 9], False),
    ("logn", [(0, 1), (1, 0.4)], lambda a, b: st.lognorm(s=b, scale=math.exp(a)),
     [-1, 0.05, 0.5, 1, 3, 12], True),
    ("weib", [(1.5, 1), (0.7, 3)], lambda k, l: st.weibull_min(k, scale=l), [-1, 0.01, 0.5, 2, 6], False),
]


def t_ppf(p, nu):
    # scipy's t.ppf is good to about 1e-11 only (t.ppf(0.9, 1) misses tan(0.4 pi)
    # by 3e-11); through the inverse incomplete beta it is good to rounding.
    q = max(p, 1 - p)
    y = sp.betaincinv(0.5, nu / 2, 2 * q - 1)
    t = math.sqrt(nu * y / (1 - y))
    return t if p >= 0.5 else -t


PS = [0.001, 0.01, 0.1, 0.3, 0.5, 0.77, 0.9, 0.99, 0.999]
for name, sets, make, xs, has_icdf in DISTS:
    for pars in sets:
        d = make(*pars)
        for x in xs:
            add("pdf:" + name, [x, *pars], d.pdf(x))
            add("cdf:" + name, [x, *pars], d.cdf(x))
        if has_icdf:
            for p in PS:
                add("icdf:" + name, [p, *pars], d.ppf(p) if name != "t" else t_ppf(p, *pars))

with open(os.path.join(HERE, "special.txt"), "w") as f:
    f.write("# tag n args expected (scipy " + __import__("scipy").__version__ + ")\n")
    f.write("\n".join(rows) + "\n")
