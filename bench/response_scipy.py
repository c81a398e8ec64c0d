#!/usr/bin/python3
"""Times scipy.signal.freqresp (200 points), scipy.signal.step (203 points)
and numpy.roots at 500 gains for the tenth-order system of response_bench;
prints the three best times in seconds."""
import sys
import timeit
import numpy as np
from scipy import signal

reps = int(sys.argv[1]) if len(sys.argv) > 1 else 10
den = np.poly(-np.arange(1, 11))
num = np.array([1.0, 3, 5, 7, 9])
w = np.logspace(-2, 2, 200)
t = np.linspace(0, 20, 203)
f = min(timeit.repeat(lambda: signal.freqresp((num, den), w), number=1, repeat=reps))
s = min(timeit.repeat(lambda: signal.step((num, den), T=t), number=1, repeat=reps))
scale = np.concatenate([np.zeros(6), num])


def roots500():
    for g in range(500):
        k = g / 500.0
        np.roots((1 - k) * den + k * scale)


r = min(timeit.repeat(roots500, number=1, repeat=reps))
print(f, s, r)
