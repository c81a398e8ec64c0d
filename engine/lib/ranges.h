// Ranges, transposition and the small vector and matrix products: the colon
// operator and the literal range, transpose and ctranspose, trace, cov, cross
// and dot. Each replaces its arguments on the value stack by its result and
// returns a status. The count of a range is engine/core/range.h's, shared
// with the for loop.
#pragma once

#include "engine/core/context.h"

// Pushes the real range start:step:end (the literal range instruction's
// handler; its operands come in the order start, end, step). kObjectTooLarge when the
// count passes 2147483647, kStackOverflow or kDataStackOverflow when the row does not fit.
int colon_range(EngineContext* ctx, double start, double end, double step);

// Pushes the complex range (start equal to end: that scalar, real when its
// imaginary part is 0). kObjectTooLarge beyond 1073741823 points, kDataStackOverflow or kStackOverflow when no room.
int colon_complex_range(EngineContext* ctx, double start_re, double start_im, double end_re,
                        double end_im, double step_re, double step_im);

// colon(start, end) and colon(start, step, end) (nargin 2 or 3): double,
// single (complex rule, result single and complex) and integer classes (the
// count in 64-bit arithmetic; elements wrap in the class). kNonScalarArg for an integer
// argument of more than one element, kDataStackOverflow for a zero integer step.
int bi_colon(EngineContext* ctx, int nargin);

// transpose (no conjugation) and ctranspose of the top item. Arrays of more
// than two dimensions are permuted by [2 1]; lists and cell arrays too.
int bi_transpose(EngineContext* ctx);
int bi_ctranspose(EngineContext* ctx);

// trace(A) of a plain double matrix; cov(X), cov(X, flag); cross(a, b),
// cross(a, b, dim); dot(a, b), dot(a, b, dim) of real double arrays.
int bi_trace(EngineContext* ctx);
int bi_cov(EngineContext* ctx, int nargin);
int bi_cross(EngineContext* ctx, int nargin);
int bi_dot(EngineContext* ctx, int nargin);
