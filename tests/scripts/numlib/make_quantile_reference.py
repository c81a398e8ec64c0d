#!/usr/bin/python3
# Writes quantile_reference.zvr: reference quantiles of the gamma, beta, t
# and F distributions over tables of shapes (from 1e-3 to 1e6) and
# probabilities (from 1e-300 to 1 - 2^-52), checked against icdf, with the
# round trip cdf(icdf(p)) = p. The quantiles are scipy's, each polished by
# Newton's method in 40-digit arithmetic (mpmath), because scipy's own are
# loose in the far tails of large shapes; the largest correction is noted in
# the script. Each row also carries its condition number c = |d ln x / d ln T|
# (T the tail probability on p's side): icdf must lie within tol (1 + c)
# of the reference. Run once; the script and its .out are committed. Needs
# Debian's python3-scipy and python3-mpmath.
import os

import mpmath as mp
from scipy import stats

mp.mp.dps = 40
HERE = os.path.dirname(os.path.abspath(__file__))

PROBS = [1e-300, 1e-100, 1e-10, 1e-3, 0.1, 0.5, 0.9, 0.999, 1 - 1e-10, 1 - 2.0 ** -52]
GAMMA_SHAPES = [1e-3, 0.1, 0.5, 1, 2.5, 10, 100, 143, 150, 171, 172, 500, 1e4, 1e5, 1e6]
BETA_SHAPES = [(1e-3, 1e-3), (0.5, 0.5), (0.5, 3), (2, 5), (50, 2), (520, 520), (600, 3), (5000, 5000)]
T_DEGREES = [1, 3, 30, 1e5]
F_DEGREES = [(1, 1), (5, 2), (30, 40), (1e4, 1e4)]


def tail_target(p):
    """Which tail a probability is solved on, and that tail exactly."""
    p = mp.mpf(p)
    return (True, p) if p <= 0.5 else (False, 1 - p)


def newton_log(tail, log_slope, lower, target, u):
    """Newton on ln T(u) = ln target for an increasing or decreasing tail."""
    for _ in range(200):
        t = tail(u)
        if t == 0:
            u += 1 if lower else -1
            continue
        step = (mp.log(t) - mp.log(target)) * t / mp.exp(log_slope(u))
        u = u - step if lower else u + step
        if abs(step) < mp.mpf(10) ** -34 * max(1, abs(u)):
            return u
    raise RuntimeError("no convergence")


def gamma_quantile(p, k, start):
    """ln z with P(k, z) = p, from scipy's z."""
    lower, target = tail_target(p)
    k = mp.mpf(k)

    def tail(u):
        z = mp.exp(u)
        return mp.gammainc(k, 0, z, regularized=True) if lower else mp.gammainc(k, z, mp.inf, regularized=True)

    def log_slope(u):  # d P / d ln z
        z = mp.exp(u)
        return k * u - z - mp.loggamma(k)

    if start > 0 and start < float("inf"):
        u = mp.log(start)
    else:
        u = (mp.log(p) + mp.loggamma(k + 1)) / k
    return newton_log(tail, log_slope, lower, target, u)


def incomplete_beta(a, b, x):
    """I_x(a, b) by its hypergeometric series; mpmath's betainc gives up on
    large shapes, the series only needs more working precision."""
    if x == 0:
        return mp.mpf(0)
    series = mp.hyp2f1(a, 1 - b, a + 1, x, maxprec=200000, maxterms=10 ** 6)
    return mp.exp(a * mp.log(x) - mp.log(a) - mp.log(mp.beta(a, b))) * series


def beta_quantile(p, q, a, b, start):
    """Log-odds of x with I_x(a, b) = p (q = 1 - p given exactly)."""
    lower = p <= 0.5
    target = mp.mpf(p) if lower else mp.mpf(q)
    a, b = mp.mpf(a), mp.mpf(b)
    lb = mp.log(mp.beta(a, b))

    def tail(u):
        x = 1 / (1 + mp.exp(-u))
        y = 1 / (1 + mp.exp(u))
        return incomplete_beta(a, b, x) if lower else incomplete_beta(b, a, y)

    def log_slope(u):  # d I / d u
        return -a * mp.log1p(mp.exp(-u)) - b * mp.log1p(mp.exp(u)) - lb

    if 0 < start < 1:
        u = mp.log(start) - mp.log1p(-start)
    else:
        u = mp.log(a / b)
    return newton_log(tail, log_slope, lower, target, u)


def condition(solve, p):
    """|d ln x / d ln T| by a difference of 1e-20 in the tail."""
    lower, target = tail_target(p)
    h = mp.mpf(10) ** -20
    x1 = solve(target)
    x2 = solve(target * (1 + h))
    if x1 == 0:
        return mp.mpf(0)
    return abs(mp.log(x2 / x1)) / mp.log1p(h)


def fmt(v):
    return "%.17g" % float(v)


scipy_off = 0  # rows where scipy's quantile is off by more than 1e-9
rows = {"gamma": [], "beta": [], "t": [], "f": []}

for k in GAMMA_SHAPES:
    for p in PROBS:
        s = stats.gamma.ppf(p, k)
        u = gamma_quantile(p, k, s)
        z = mp.exp(u)

        def solve(target, k=k, p=p, s=s):
            pp = target if p <= 0.5 else 1 - target
            return mp.exp(gamma_quantile(pp, k, s))
        c = condition(solve, p)
        if z > 0 and s > 0:
            scipy_off += abs(s / z - 1) > 1e-9
        # The density at the double nearest z, for pdf.
        zd = mp.mpf(float(z))
        dens = mp.exp((k - 1) * mp.log(zd) - zd - mp.loggamma(k)) if zd > 0 else mp.mpf(0)
        rows["gamma"].append((k, 0, p, z, c, dens))

for a, b in BETA_SHAPES:
    for p in PROBS:
        s = stats.beta.ppf(p, a, b)
        u = beta_quantile(p, 1 - mp.mpf(p), a, b, s)
        x = 1 / (1 + mp.exp(-u))

        def solve(target, a=a, b=b, p=p, s=s):
            pp, qq = (target, 1 - target) if p <= 0.5 else (1 - target, target)
            return 1 / (1 + mp.exp(-beta_quantile(pp, qq, a, b, s)))
        c = condition(solve, p)
        if 0 < s < 1:
            scipy_off += abs(s / x - 1) > 1e-9
        rows["beta"].append((a, b, p, x, c))

for nu in T_DEGREES:
    for p in PROBS:
        if p == 0.5:
            continue  # t = 0: no relative error to speak of
        s = stats.t.ppf(p, nu)
        # t = sqrt(nu y / (1 - y)), y the beta(1/2, nu/2) quantile of 2q - 1.
        tail = mp.mpf(p) if p < 0.5 else 1 - mp.mpf(p)

        def solve(target, nu=nu, p=p):
            tl = target
            u = beta_quantile(1 - 2 * tl, 2 * tl, 0.5, nu / 2, -1)
            return mp.sqrt(nu * mp.exp(u))
        t = solve(tail) * (-1 if p < 0.5 else 1)
        c = condition(solve, min(p, 1 - p))
        scipy_off += abs(s / t - 1) > 1e-9
        rows["t"].append((nu, 0, p, t, c))

for d1, d2 in F_DEGREES:
    for p in PROBS:
        s = stats.f.ppf(p, d1, d2)

        def solve(target, d1=d1, d2=d2, p=p):
            pp, qq = (target, 1 - target) if p <= 0.5 else (1 - target, target)
            u = beta_quantile(pp, qq, d1 / 2, d2 / 2, -1)
            return d2 * mp.exp(u) / d1
        f = solve(tail_target(p)[1])
        c = condition(solve, p)
        if s > 0:
            scipy_off += abs(s / f - 1) > 1e-9
        rows["f"].append((d1, d2, p, f, c))

CHECKS = r"""
% Each family: icdf over the whole table in one call per scale, every value
% within tol (1 + c) of its reference (a reference below the doubles must
% come out as 0), and for gamma and chi-square the round trip: cdf(icdf(p))
% within 1e-12 of the tail plus what the rounding of the quantile itself
% moves it (4e-16 / c), plus half an ulp of 1 where cdf holds 1 - Q.
function n = outside(name, x, ref, c, tol)
  err = abs(x - ref) ./ abs(ref);
  err(ref == 0) = abs(x(ref == 0));
  bad = find(~(err <= tol * (1 + c)));
  for i = bad(:).'
    fprintf('  %s row %d: %.17g, reference %.17g\n', name, i, x(i), ref(i));
  end
  n = numel(bad);
endfunction
function n = round_trip(name, r, p, c, skip)
  tail = min(p, 1 - p);
  bad = find(~(abs(r - p) <= tail .* (1e-12 + 4e-16 ./ c) + 2^-53 * (p > 0.5)) & ~skip);
  for i = bad(:).'
    fprintf('  %s round trip row %d: cdf %.17g for p %.17g\n', name, i, r(i), p(i));
  end
  n = numel(bad);
endfunction
function check(name, values, refs, conds, tol, probs, trips)
  % values and refs: one column per case (scale); trips: cdf of values.
  n = 0;
  for j = 1:size(values, 2)
    n = n + outside(name, values(:, j), refs(:, j), conds, tol);
    if ~isempty(trips)
      n = n + round_trip(name, trips(:, j), probs, conds, refs(:, j) == 0);
    end
  end
  fprintf('%s: %d values, %d outside\n', name, numel(values), n);
endfunction
% A family whose icdf fails says so and the others still run.
try
  g = gamma_ref;
  scales = [1e-3 0.5 1 2 1e3 1e10];
  x = []; r = [];
  for theta = scales
    x(:, end + 1) = icdf('gamma', g(:, 3), g(:, 1), theta);
    r(:, end + 1) = cdf('gamma', x(:, end), g(:, 1), theta);
  end
  check('gamma', x, g(:, 4) * scales, g(:, 5), 5e-13, g(:, 3), r);
catch
  fprintf('gamma: %s\n', lasterr);
end
% The densities of large shapes, in log form: x^(k - 1) alone overflows.
try
  keep = g(:, 6) > 0;
  dens = g(keep, 6); z = g(keep, 4); k = g(keep, 1);
  tol = 1e-13 + 1e-15 * abs(z - k);
  err = [abs(pdf('gamma', z, k, 1) ./ dens - 1), abs(2 * pdf('gamma', 2 * z, k, 2) ./ dens - 1), ...
         abs(2 * pdf('chi2', 2 * z, 2 * k) ./ dens - 1)];
  fprintf('gamma and chi2 pdf: %d values, %d outside\n', numel(err), sum(sum(~(err <= [tol tol tol]))));
catch
  fprintf('pdf: %s\n', lasterr);
end
% Shapes from about 143 on once gave their starting point back.
try
  x = icdf('chi2', g(:, 3), 2 * g(:, 1));
  check('chi2', x, 2 * g(:, 4), g(:, 5), 5e-13, g(:, 3), cdf('chi2', x, 2 * g(:, 1)));
catch
  fprintf('chi2: %s\n', lasterr);
end
try
  b = beta_ref;
  check('beta', icdf('beta', b(:, 3), b(:, 1), b(:, 2)), b(:, 4), b(:, 5), 2e-13, b(:, 3), []);
catch
  fprintf('beta: %s\n', lasterr);
end
try
  t = t_ref;
  check('t', icdf('t', t(:, 3), t(:, 1)), t(:, 4), t(:, 5), 3e-12, t(:, 3), []);
catch
  fprintf('t: %s\n', lasterr);
end
try
  f = f_ref;
  check('f', icdf('f', f(:, 3), f(:, 1), f(:, 2)), f(:, 4), f(:, 5), 2e-13, f(:, 3), []);
catch
  fprintf('f: %s\n', lasterr);
end
"""

lines = ["% Generated by make_quantile_reference.py: do not edit.",
         "% icdf of the gamma, chi-square, beta, t and F distributions against",
         "% reference quantiles over shapes from 1e-3 to 1e6 and probabilities from",
         "% 1e-300 to 1 - 2^-52; rows [a, b, p, quantile, condition number], and",
         "% for gamma (scale 1) the density at the quantile.",
         "%% scipy's quantile was off by more than 1e-9 in %d of %d rows." %
         (scipy_off, sum(len(t) for t in rows.values()))]
for name, table in rows.items():
    lines.append("%s_ref = [" % name)
    for row in table:
        lines.append("  " + " ".join(fmt(v) for v in row))
    lines.append("];")
with open(os.path.join(HERE, "quantile_reference.zvr"), "w") as out:
    out.write("\n".join(lines) + CHECKS)
