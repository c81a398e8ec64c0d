#!/usr/bin/env python3
"""Writes random ZVR programs for differential runs of two zvr binaries.

Each program builds values of every class (double scalars and arrays with
NaN, Inf and -0, complex, integers, chars, logicals, cells, structures),
combines them through concatenation, repmat, transposes, reshape, shape
queries, indexing (in range and out of it), cell reads and appends, char
appends and user function calls, and prints every result; errors are caught
and their text printed, so one failure does not hide the rest.
Usage: generate.py DIR COUNT [SEED]
"""
import os
import random
import sys

SCALARS = ["0", "-0", "1.5", "-2", "NaN", "Inf", "-Inf", "1e308", "3+4i", "complex(0, -0)",
           "1/-Inf", "pi", "-0.25i"]
ARRAYS = ["[1 2 3]", "[1; 2; 3]", "zeros(2, 3)", "reshape(1:12, 3, 4)", "reshape(1:24, 2, 3, 4)",
          "[NaN -0 Inf]", "[1+2i 3-4i]", "[]", "zeros(0, 3)", "ones(1, 9)", "(1:40) / 7",
          "reshape(1:90, 9, 10)", "[1 2; 3 4] + 1i"]
INTS = ["int8(-5)", "uint8(200)", "int32([7 8 9])", "int16([1 2 3; 4 5 6])", "uint16(1:12)",
        "int8([-128 127])", "uint32(4000000000)", "int64([1 2 3 4 5 6 7 8 9 10])"]
CHARS = ["'abc'", "''", "'x'", "['ab'; 'cd']", "'hello world, long text'", "char(65:90)"]
LOGICALS = ["true", "[true false true]", "logical([1 0; 0 1])", "false(1, 12)", "true(3, 4)"]
CELLS = ["{1, 'a', [1 2]}", "cell(2, 2)", "{}", "{int8(3), {2}, 'q'}", "num2cell(1:10)"]
STRUCTS = ["struct('a', 1, 'b', 'x')", "struct('v', [1 2 3])"]
ALL = SCALARS + ARRAYS + INTS + CHARS + LOGICALS + CELLS + STRUCTS
ROWS = ["'abc'", "'x'", "''", "int8([1 2])", "uint16(1:12)", "[true false]", "'long text row'",
        "int32([5 6 7])", "[1 2 3]", "2.5", "'q'", "logical([1 0 1 1 0 1 1 1 0 1])",
        "['ab'; 'cd']", "int8([1; 2])", "{1, 2}", "[1+1i 2]", "single([1 2])"]


def pick(r, pool):
    return r.choice(pool)


def guard(stmt):
    return f"try, {stmt}, catch, disp(lasterr), end"


def shape_queries(r, v):
    out = [f"x = {v};"]
    for q in ["numel(x)", "size(x)", "length(x)", "ndims(x)", "isempty(x)", "kind(x)", "isscalar(x)", "isvector(x)"]:
        out.append(guard(f"disp({q})"))
    out.append(guard("[m, n] = size(x); disp([m n])"))
    out.append(guard("disp(size(x, 2))"))
    return out


def concat(r):
    a, b = pick(r, ROWS), pick(r, ROWS)
    op = r.choice([" ", "; ", ", "])
    return [guard(f"y = [{a}{op}{b}]; disp(y), disp(kind(y)), disp(size(y))")]


def char_append(r):
    n = r.randint(1, 40)
    piece = r.choice(["'x'", "'ab'", "char(64 + k)", "int8(k)", "''", "k", "true"])
    start = r.choice(["''", "'s'", "int8([])", "int8(1)", "[]", "false"])
    return [f"s = {start};",
            guard(f"for k = 1:{n}, s = [s {piece}]; end, disp(s), disp(kind(s)), disp(size(s))")]


def repmat_transpose(r):
    v = pick(r, ALL)
    m, n = r.randint(0, 3), r.randint(0, 4)
    out = [f"x = {v};",
           guard(f"y = repmat(x, {m}, {n}); disp(y), disp(size(y)), disp(kind(y))"),
           guard(f"y = repmat(x, [{m} {n} {r.randint(1, 3)}]); disp(size(y)), disp(sum(y(:)))"),
           guard(f"y = repmat(x, {r.randint(1, 3)}); disp(size(y))"),
           guard("y = x.'; disp(y), disp(size(y))"),
           guard("y = x'; disp(y)")]
    big = r.choice(["reshape(1:%d, %d, %d)" % (p * q, p, q) for p, q in
                    [(70, 130), (129, 65), (64, 64), (200, 3), (1, 300)]] +
                   ["int16(reshape(1:%d, %d, %d))" % (p * q, p, q) for p, q in [(65, 70), (3, 100)]] +
                   ["char(mod(reshape(0:4899, 70, 70), 26) + 65)", "reshape(1:5000, 50, 100) * 1i"])
    out += [f"z = {big};", guard("w = z.'; disp(size(w)), disp(w(end, :)), disp(sum(w(:, 1)))"),
            guard("w = z'; disp(all(all(w.' == conj(z))))"),
            guard(f"w = repmat(z, {r.randint(1, 3)}, {r.randint(1, 3)}); disp(size(w)), disp(w(end, end))")]
    return out


def reshapes(r):
    v = pick(r, ARRAYS + INTS + CHARS + LOGICALS + CELLS)
    dims = r.choice(["1, []", "[], 1", "2, []", "[2 2 3]", "3, 4", "1, 12"])
    return [f"x = {v};", guard(f"x = reshape(x, {dims}); disp(size(x)), disp(x)"),
            guard(f"y = reshape(x, {dims}); disp(size(y))")]


def cells(r):
    n = r.randint(0, 30)
    idx = r.randint(-1, n + 2)
    return [f"c = {{}};", f"for k = 1:{n}, c{{end + 1}} = k * {pick(r, SCALARS)}; end",
            guard("disp(numel(c)), disp(size(c))"),
            guard(f"disp(c{{{idx}}})"), guard(f"d = c({idx}); disp(kind(d))"),
            guard("s = 0; for k = 1:numel(c), s = s + c{k}; end, disp(s)"),
            f"c = num2cell(1:{n});", guard(f"c{{{idx}}} = 'z'; disp(numel(c)), disp(c{{end}})"),
            guard(f"e = c(:); disp(size(e))"), guard("disp(isempty(c))")]


def indexing(r):
    v = pick(r, ARRAYS + INTS + CHARS + LOGICALS)
    i, j = r.randint(-1, 13), r.randint(0, 5)
    return [f"x = {v};", guard(f"disp(x({i}))"), guard(f"disp(x({i}, {j}))"),
            guard("disp(x(end))"), guard(f"x({i}) = 7; disp(x)"), guard("disp(x(:).')")]


def calls(r):
    v = pick(r, ALL)
    return [f"x = {v};", guard("disp(reader(x))"), guard("[a, b] = two(x); disp(a), disp(b)"),
            guard("disp(changer(x)), disp(x)"), guard("disp(numel(x) + ndims(x))")]


def arith(r):
    a, b = pick(r, SCALARS + ARRAYS + INTS + LOGICALS), pick(r, SCALARS + INTS + LOGICALS)
    op = r.choice(["+", "-", ".*", "./", "==", "<", "&", ".^"])
    return [guard(f"y = {a} {op} {b}; disp(y), disp(kind(y))")]


def structs(r):
    return [f"t = {pick(r, STRUCTS)};", guard("disp(numel(t)), disp(isfield(t, 'a')), disp(isstruct(t))"),
            guard("t.w = [t.w 1]; disp(t.w)"), guard("disp(size(t))"), guard("t.a = [t.a 2]; disp(t.a)")]


FUNCS = """
function r = kind(x)
  r = [isnumeric(x) ischar(x) islogical(x) iscell(x) isstruct(x) isinteger(x) isfloat(x)];
endfunction
function r = reader(x)
  r = numel(x) + length(x) + ndims(x) + isempty(x);
  s = size(x);
  r = r + s(1);
endfunction
function [a, b] = two(x)
  a = size(x);
  b = kind(x);
endfunction
function x = changer(x)
  if isnumeric(x) && ~isempty(x)
    x(1) = -1;
  end
endfunction
"""

GENERATORS = [shape_queries, concat, char_append, repmat_transpose, reshapes, cells, indexing, calls,
              arith, structs]


def program(r):
    lines = []
    for _ in range(r.randint(4, 9)):
        g = r.choice(GENERATORS)
        lines += g(r, pick(r, ALL)) if g is shape_queries else g(r)
    return FUNCS + "\n".join(lines) + "\n"


def write_programs(make, default_seed):
    """OUT COUNT [SEED] from the command line: COUNT programs from make(r)."""
    out, count = sys.argv[1], int(sys.argv[2])
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else default_seed
    os.makedirs(out, exist_ok=True)
    r = random.Random(seed)
    for i in range(count):
        with open(os.path.join(out, f"p{i:04d}.zvr"), "w") as f:
            f.write(make(r))


def main():
    write_programs(program, 15)


if __name__ == "__main__":
    main()
