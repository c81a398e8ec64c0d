// Built-ins of the special functions, distributions and integer functions;
// the engine's table names them in their rows. Each takes the engine
// context, the input and output counts and the row's data word.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Data words of the rows that share an implementation.
enum : uintptr_t {
  kSelErf = 1,
  kSelErfc = 2,
  kSelErfinv = 3,
  kSelGamma = 1,
  kSelGammaln = 2,
  kSelFactorial = 3,
  kSelBeta = 1,
  kSelBetaln = 2,
};

using IncompleteBetaFn = bool (*)(double x, double a, double b, double* out);

int bi_erf(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_gamma(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_gammainc(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_beta(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// data: an IncompleteBetaFn.
int bi_betainc(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_hypot(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

int bi_nchoosek(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// data: 'd' for gcd, 'm' for lcm.
int bi_gcd_lcm(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_diln(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// data: 'a' ellipam, 'j' ellipj, 'e' ellipe, 'f' ellipf.
int bi_elliptic(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_ellipke(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// data: 'p' pdf, 'c' cdf, 'i' icdf.
int bi_distribution(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
