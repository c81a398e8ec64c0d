#!/usr/bin/python3
"""The reference side of bench/response.sh for the tenth-order system of
response_bench: KERNEL run REPS times (freqresp: scipy.signal.freqresp at
200 frequencies; step: scipy.signal.step at 203 points; roots500:
numpy.roots of the locus polynomial at 500 gains).
Usage: response_scipy.py KERNEL REPS"""
import sys
import numpy as np
from scipy import signal

kernel, reps = sys.argv[1], int(sys.argv[2])
den = np.poly(-np.arange(1, 11))
num = np.array([1.0, 3, 5, 7, 9])
w = np.logspace(-2, 2, 200)
t = np.linspace(0, 20, 203)
scale = np.concatenate([np.zeros(6), num])
gains = np.arange(500) / 500.0


def freqresp():
    signal.freqresp((num, den), w)


def step():
    signal.step((num, den), T=t)


def roots500():
    for k in gains:
        np.roots((1 - k) * den + k * scale)


run = {"freqresp": freqresp, "step": step, "roots500": roots500}[kernel]
for _ in range(reps):
    run()
