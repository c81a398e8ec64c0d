// Polynomial built-ins over coefficient vectors, highest power first: polyval,
// polyder, polyint, roots and poly, with the coefficient helpers they share.
// Results are pushed above the arguments and the arguments removed beneath
// them last, so a failing call leaves the stack as it found it.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Pushes a 1 by (n + 1) row of zeros, complex when im is given.
int poly_push_zero_coeffs(EngineContext* ctx, int32_t n, double** re, double** im);

// c[i + j] += a[i] b[j] for i = 0..na, j = 0..nb (degrees na and nb), in
// complex arithmetic when a_im or b_im is given (c_im must then exist).
void poly_mul_accumulate(const double* a_re, const double* a_im, int32_t na, const double* b_re,
                         const double* b_im, int32_t nb, double* c_re, double* c_im);

int bi_polyval(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_polyder(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_polyint(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_roots(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_poly(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
