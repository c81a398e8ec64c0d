// Gain and phase margins of a unity-feedback loop L = num/den: evaluation of
// a transfer function at a complex point, the Schur stability test, the
// discrete sweep over the unit circle and its continuous form through the
// bilinear map, and the margin and dmargin built-ins.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// num(s)/den(s) at a complex point: one definition, in tf_eval.cpp.
#include "numlib/control/tf_eval.h"

// True when every root of a (n + 1 coefficients, changed) lies strictly
// inside the unit circle.
bool poly_schur_stable(double* a, int32_t n);

// Margins of L(z) = num(z)/den(z): pm (10 while the unit circle is never
// crossed) at *pm_at, gm[0..1] at gm_at[0..1] (angles). False when the closed
// loop is unstable. scratch: n + 1 doubles.
bool margin_discrete_kernel(const double* den, int32_t n, const double* num, int32_t m, double* pm,
                            double* pm_at, double* gm, double* gm_at, double* scratch);
// The same for L(s), with frequencies instead of angles. scratch: 3n + 3 + 2 (n + 1)^2.
bool margin_continuous_kernel(const double* den, int32_t n, const double* num, int32_t m,
                              double* pm, double* pm_at, double* gm, double* gm_at, double* scratch);
int64_t margin_continuous_scratch(int32_t n);

int bi_margin(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dmargin(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
