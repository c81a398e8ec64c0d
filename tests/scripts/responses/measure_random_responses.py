#!/usr/bin/python3
"""The worst disagreement per command over random systems, zvr against
scipy.signal (step, impulse, lsim for initial, dstep, dimpulse), on the
transfer function and its tf2ss form: continuous systems of order 1 to 20
(integrators, repeated poles, poly(-(1:n)) and random orders 15-20 over
'Range' [0 5]), initial states in a random basis, discrete systems with a
pole at z = 1 now and then. Also counts the calls that failed and the
automatic ranges that do not end where the poles put them (10/|r| summed
over the poles with |r|^2 > 1e-6, at most 1e6 s; discrete poles through
|ln z| / T). A measuring tool, not a test: it needs scipy.
Usage: measure_random_responses.py ZVR [seed]"""
import sys, subprocess, tempfile
import numpy as np
from scipy import signal, linalg
ZVR = sys.argv[1]
rng = np.random.default_rng(int(sys.argv[2]) if len(sys.argv) > 2 else 1)

def fmt(v):
    v = np.atleast_2d(np.asarray(v, float))
    return '[' + '; '.join(' '.join('%.17g' % x for x in r) for r in v) + ']'

def cpoles(n, integ=0, rep=False):
    """n poles: integ at 0, a triple real pole when rep, the rest random
    (real, or complex pairs)."""
    p = [-10 ** rng.uniform(-1, 1)] * 3 if rep and n - integ >= 3 else []
    while len(p) < n - integ:
        if rng.random() < 0.4 and len(p) <= n - integ - 2:
            re = -10 ** rng.uniform(-1, 1); im = 10 ** rng.uniform(-1, 1)
            p += [complex(re, im), complex(re, -im)]
        else:
            p.append(-10 ** rng.uniform(-1, 1))
    return np.array(p + [0] * integ, complex)

def dpoles(n, one=0):
    p = []
    while len(p) < n - one:
        if rng.random() < 0.4 and len(p) <= n - one - 2:
            r = rng.uniform(0.1, 0.95); a = rng.uniform(0.1, 3)
            p += [r * np.exp(1j * a), r * np.exp(-1j * a)]
        else:
            p.append(rng.uniform(-0.95, 0.95))
    return np.array(p + [1.0] * one, complex)

def rule(poles, ts=None):
    s = 0.0
    for z in poles:
        r = abs(z) if ts is None else (abs(np.log(complex(z))) / ts if z != 0 else np.inf)
        if r * r > 1e-6: s += 10 / r
    return min(s, 1e6) if s > 0 else 10

cases = []  # (command, args text, ref function(t) -> y or None, rule tf, kind)
for k in range(60):
    n = int(rng.integers(1, 21)) if k >= 20 else [1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20][k]
    integ = int(rng.random() < 0.25)
    poles = cpoles(n, integ, rep=rng.random() < 0.2)
    den = np.real(np.poly(poles)); nz = int(rng.integers(0, n))
    num = np.real(np.poly(-10 ** rng.uniform(-1, 1, nz))) * rng.uniform(0.5, 2)
    tfr = rule(poles)
    for cmd in ['step', 'impulse']:
        if cmd == 'impulse' and integ and n == 1: continue
        cases.append((cmd, f'{fmt(num)}, {fmt(den)}', (num, den), tfr, 'tf', n))
        a, b, c, d = signal.tf2ss(num, den)
        cases.append((cmd, f'{fmt(a)}, {fmt(b)}, {fmt(c)}, {fmt(d)}', (a, b, c, d), tfr, 'ss', n))
    # modal state space with an integrator sometimes
    V = rng.normal(size=(n, n)); A = np.real(V @ np.diag(poles) @ np.linalg.inv(V)) if np.all(np.isreal(poles)) else None
    if A is not None:
        B = rng.normal(size=(n, 1)); C = rng.normal(size=(1, n))
        cases.append(('initial', f'{fmt(A)}, {fmt(C)}, {fmt(B)}', (A, B, C), tfr, 'ini', n))
# Poles crowding together after the hold: poly(-(1:n)) and random orders 15-20.
for n in range(8, 21):
    poles = -np.arange(1.0, n + 1); den = np.poly(poles); num = np.array([den[-1]])
    for cmd in ['step', 'impulse']:
        cases.append((cmd, f'{fmt(num)}, {fmt(den)}', (num, den), rule(poles), 'tf', n))
        a, b, c, d = signal.tf2ss(num, den)
        cases.append((cmd, f'{fmt(a)}, {fmt(b)}, {fmt(c)}, {fmt(d)}', (a, b, c, d), rule(poles), 'ss', n))
        # a short range: the held poles crowd near z = 1
        cases.append((cmd, f'{fmt(num)}, {fmt(den)}, o5', (num, den), 5.0, 'tf', n))
        cases.append((cmd, f'{fmt(a)}, {fmt(b)}, {fmt(c)}, {fmt(d)}, o5', (a, b, c, d), 5.0, 'ss', n))
for n in range(15, 21):
    poles = cpoles(n); den = np.real(np.poly(poles)); num = np.real(np.poly(-10 ** rng.uniform(-1, 1, n - 2)))
    for cmd in ['step', 'impulse']:
        cases.append((cmd, f'{fmt(num)}, {fmt(den)}, o5', (num, den), 5.0, 'tf', n))
        a, b, c, d = signal.tf2ss(num, den)
        cases.append((cmd, f'{fmt(a)}, {fmt(b)}, {fmt(c)}, {fmt(d)}, o5', (a, b, c, d), 5.0, 'ss', n))
# initial: real block-diagonal forms in a random basis, an integrator sometimes.
for k in range(30):
    n = int(rng.integers(1, 12)); poles = cpoles(n, int(rng.random() < 0.3))
    blocks = []; i = 0; pl = list(poles)
    J = np.zeros((n, n)); i = 0
    while i < n:
        z = pl[i]
        if abs(z.imag) > 0: J[i:i+2, i:i+2] = [[z.real, z.imag], [-z.imag, z.real]]; i += 2
        else: J[i, i] = z.real; i += 1
    V = rng.normal(size=(n, n)); A = V @ J @ np.linalg.inv(V)
    B = rng.normal(size=(n, 1)); C = rng.normal(size=(2, n))
    cases.append(('initial', f'{fmt(A)}, {fmt(C)}, {fmt(B)}', (A, B, C), rule(poles), 'ini', n))
for k in range(40):
    n = int(rng.integers(1, 13)); one = int(rng.random() < 0.4); ts = [1.0, 0.5, 0.1][k % 3]
    poles = dpoles(n, one); den = np.real(np.poly(poles))
    num = rng.normal(size=int(rng.integers(1, n + 1)))
    tfr = rule(poles, ts)
    for cmd in ['dstep', 'dimpulse']:
        cases.append((cmd, f'{fmt(num)}, {fmt(den)}, {ts!r}', (num, den, ts), tfr, 'tf', n))
        a, b, c, d = signal.tf2ss(num, den)
        cases.append((cmd, f'{fmt(a)}, {fmt(b)}, {fmt(c)}, {fmt(d)}, {ts!r}', (a, b, c, d, ts), tfr, 'ss', n))

lines = ["o5 = responseset('Range', [0 5]);"]
for i, (cmd, args, _, _, _, _) in enumerate(cases):
    lines.append(f"try, [y, t] = {cmd}({args}); fprintf('C {i} %d %d\\n', numel(t), numel(y)); fprintf('%.16e\\n', t, y); catch, fprintf('E {i} %s\\n', lasterr); end")
with tempfile.NamedTemporaryFile('w', suffix='.zvr') as f:
    f.write('\n'.join(lines) + '\n'); f.flush()
    out = subprocess.run([ZVR, f.name], capture_output=True, text=True).stdout.split('\n')
res = {}
i = 0
while i < len(out):
    l = out[i]
    if l.startswith('E '):
        _, k, msg = l.split(' ', 2); res[int(k)] = msg; i += 1
    elif l.startswith('C '):
        _, k, m, my = l.split(); m = int(m); my = int(my)
        v = np.array([float(x) for x in out[i + 1:i + 1 + m + my]]); res[int(k)] = (v[:m], v[m:]); i += 1 + m + my
    else: i += 1

errs = {}; worst = {}; rng_bad = {}; fails = {}
for i, (cmd, args, sysd, tfr, kind, n) in enumerate(cases):
    key = f'{cmd} {kind}'
    r = res.get(i)
    if not isinstance(r, tuple):
        fails[key] = fails.get(key, 0) + 1; continue
    t, y = r
    if cmd in ('step', 'impulse', 'initial'):
        tt, yy = t[2:], y[2:]
        if kind == 'tf': s = signal.lti(*sysd)
        elif kind == 'ss': s = signal.lti(*sysd)
        if cmd == 'step':
            _, ref = signal.step(s, T=tt)
        elif cmd == 'impulse': _, ref = signal.impulse(s, T=tt)
        else:
            A, B, C = sysd; _, ref, _ = signal.lsim((A, np.zeros((len(A), 1)), C, np.zeros((len(C), 1))), np.zeros(len(tt)), tt, X0=B.ravel())
            ref = ref.reshape(len(tt), -1).T
            yy = y.reshape(-1, len(C)).T[:, 2:]
        tend = t[-1]
    else:
        if kind == 'tf': num, den, ts = sysd; s = (num, den, ts)
        else: a, b, c, d, ts = sysd; s = (a, b, c, d, ts)
        u = np.ones(len(t)) if cmd == 'dstep' else np.eye(1, len(t)).ravel()
        _, ref, *_ = signal.dlsim(s, u)
        yy = y; tend = t[-1]
    ref = np.ravel(ref); yy = np.ravel(yy)
    if yy.shape != ref.shape:
        fails[key] = fails.get(key, 0) + 1
        if len(sys.argv) > 3: print('shape', i, cmd, kind, yy.shape, ref.shape, t[:3], t[-3:])
        continue
    e = np.max(np.abs(yy - ref)) / max(np.max(np.abs(ref)), 1e-300)
    if not np.isfinite(e): e = np.inf
    worst[key] = max(worst.get(key, 0), e); errs[i] = e
    rr = abs(tend - tfr) / tfr if cmd in ('step', 'impulse', 'initial') else abs(tend - np.floor(tfr / sysd[-1] + 1e-9) * sysd[-1]) / tfr
    if rr > 1e-3: rng_bad[key] = rng_bad.get(key, 0) + 1
counts = {}
for c in cases: counts[f'{c[0]} {c[4]}'] = counts.get(f'{c[0]} {c[4]}', 0) + 1
for k in sorted(counts):
    print(f'{k:14s} cases {counts[k]:3d}  failed {fails.get(k, 0):3d}  range off rule {rng_bad.get(k, 0):3d}  worst rel error {worst.get(k, float("nan")):.3g}')
if len(sys.argv) > 3:  # the cases that failed or end off the rule
    for i, (cmd, args, sysd, tfr, kind, n) in enumerate(cases):
        r = res.get(i)
        if not isinstance(r, tuple): print(i, cmd, kind, n, r, args[:300])
        elif cmd in ('step', 'impulse', 'initial') and abs(r[0][-1] - tfr) / tfr > 1e-3:
            print(i, cmd, kind, n, 'ends at', r[0][-1], 'rule', tfr, args[:200])
