#!/usr/bin/env python3
"""Writes random ZVR programs that stress calls and scalar loops, for
differential runs of two zvr binaries (run.sh with GEN=generate_calls.py).

Each program defines a few functions (recursive ones, functions with unused
or missing outputs and inputs, with nargin and nargout tests, with errors
raised inside them, with locals that change class) and calls them from loops
and from each other with scalars, special values, arrays, complex numbers,
integers, cells and strings; loops run arithmetic on real scalar locals in
the shapes the interpreter fuses («s = s + i * j», «n = n - 1», «k < 3»),
with operands and targets that sometimes are not real scalars, and calls
whose one argument is such arithmetic. Errors are
caught and their text printed, so one failure does not hide the rest.
Usage: generate_calls.py DIR COUNT [SEED]
"""
from generate import guard, pick, write_programs

VALUES = ["0", "-0", "1.5", "-2", "NaN", "Inf", "-Inf", "3", "7", "1e308", "2+1i", "int8(5)", "uint8(200)",
          "[1 2 3]", "'ab'", "true", "{1}", "[]", "single(2.5)", "-0.25"]
SMALL = ["0", "1", "2", "3", "5", "-1", "4.5"]
# The values whose fibr(v + 1) ends soon: no large integers or characters,
# whose exact steps down would take exponential time.
QUICK = [v for v in VALUES if v not in ("uint8(200)", "'ab'")]
OPS = ["+", "-", "*", ".*", "/", "./"]
CMPS = ["<", "<=", ">", ">=", "==", "~="]

FUNCS = """
function r = fibr(n)
  if n < 2
    r = n;
  else
    r = fibr(n - 1) + fibr(n - 2);
  end
endfunction
function [a, b, c] = multi(x, y)
  a = x;
  if nargin > 1
    b = y;
  else
    b = -x;
  end
  if nargout > 2
    c = a + b;
  end
endfunction
function r = acc(n, step)
  r = 0;
  k = 0;
  while k < n
    k = k + 1;
    r = r + k * step;
  end
endfunction
function noout(x)
  if x > 2
    error('noout: %g too big', x);
  end
endfunction
function r = shifty(x)
  r = x;
  r = [r 1];
  r = numel(r);
endfunction
function r = deep(n, x)
  if n <= 0
    r = x;
  else
    r = deep(n - 1, x + 1) * 1;
  end
endfunction
function r = thrower(x)
  r = x * 2;
  if x < 0
    error('thrower: negative');
  end
endfunction
function r = counts(varargin)
  r = nargin;
endfunction
function computed(k, x)
  try, disp(fibr(k + 1)), catch, disp(lasterr), end
  try, noout(k - 1), catch, disp(lasterr), end
  try, v = noout(k * 2); disp(v), catch, disp(lasterr), end
  try, disp(counts(k / 2)), catch, disp(lasterr), end
  try, disp(shifty(k - 4)), catch, disp(lasterr), end
  try, [a, b] = multi(k + 1); disp(a), disp(b), catch, disp(lasterr), end
  try, disp(thrower(k - 3)), catch, disp(lasterr), end
  try, disp(deep(3, k - 1)), catch, disp(lasterr), end
  try, disp(fibr(x - 1)), catch, disp(lasterr), end
endfunction
"""


def recursion(r):
    n = r.randint(-1, 12)
    return [guard(f"disp(fibr({n}))"), guard(f"disp(deep({r.randint(0, 40)}, {pick(r, VALUES)}))")]


def outputs(r):
    x, y = pick(r, VALUES), pick(r, VALUES)
    return [guard(f"[a, b, c] = multi({x}, {y}); disp(a), disp(b), disp(c)"),
            guard(f"[a, b] = multi({x}); disp(a), disp(b)"),
            guard(f"a = multi({x}); disp(a)"),
            guard(f"multi({x}, {y})"),
            guard(f"noout({x})"),
            guard(f"v = noout({x}); disp(v)"),
            guard(f"disp(counts({x}, {y}, 3))"),
            guard(f"disp(shifty({x}))")]


def loops(r):
    a, b = pick(r, SMALL), pick(r, SMALL)
    o1, o2, c = pick(r, OPS), pick(r, OPS), pick(r, CMPS)
    start = pick(r, VALUES)
    m, n = r.randint(0, 6), r.randint(0, 6)
    return [f"s = {start}; t = {pick(r, VALUES)};",
            guard(f"for i = 1:{m}, for j = {a}:{b}:{n}, s = s {o1} (i {o2} j); end, end, disp(s)"),
            guard(f"for i = 1:{m}, s = t {o1} (s {o2} i); end, disp(s)"),
            guard(f"k = {a}; while k {c} {n}, k = k + 1; if k > 50, break, end, end, disp(k)"),
            guard(f"disp(acc({m}, {pick(r, VALUES)}))"),
            guard(f"q = 0; for i = 1:{m}, q = q + thrower({pick(r, SMALL)} - i); end, disp(q)")]


def mixed(r):
    x = pick(r, VALUES)
    return [f"x = {x}; y = 2; z = 3;",
            guard("x = x + y * z; disp(x)"),
            guard("y = x - y ./ z; disp(y)"),
            guard("z = y * x / z; disp(z)"),
            guard("for i = 1:3, x = x + i * y; end, disp(x)")]


def computed_calls(r):
    # One argument computed from a real scalar local inside a function,
    # handed to the call without its push, to callees that take it that way
    # and to those that do not (no output, varargin, more inputs, an error).
    return [guard(f"computed({pick(r, SMALL + QUICK)}, {pick(r, QUICK)})")]


GENERATORS = [recursion, outputs, loops, mixed, computed_calls]


def program(r):
    lines = []
    for _ in range(r.randint(4, 9)):
        lines += r.choice(GENERATORS)(r)
    return FUNCS + "\n".join(lines) + "\n"


def main():
    write_programs(program, 44)


if __name__ == "__main__":
    main()
