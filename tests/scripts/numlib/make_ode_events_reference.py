#!/usr/bin/python3
# Reference event times for ode_events.zvr: scipy's solve_ivp with events on
# Van der Pol (mu = 1) at tight tolerances, every zero crossing of y1 over
# [0, 20], and the downward crossings only. Prints ZVR assignments.
import numpy as np
from scipy.integrate import solve_ivp


def vdp(t, y):
    return [y[1], (1 - y[0] ** 2) * y[1] - y[0]]


def crossing(t, y):
    return y[0]


def falling(t, y):
    return y[0]


falling.direction = -1


def times(event):
    sol = solve_ivp(vdp, (0, 20), [2, 0], method="RK45", rtol=1e-12, atol=1e-12, events=event)
    return sol.t_events[0]


def row(name, v):
    print("%s = [%s];" % (name, " ".join("%.17g" % x for x in v)))


row("vdp_all", times(crossing))
row("vdp_down", times(falling))
