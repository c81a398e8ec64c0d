// What the linear-algebra rows answer for a matrix that holds NaN or Inf.
// Iterative drivers and kernels (eigenvalues, Schur forms, balancing) do not
// carry a NaN through: LAPACK refuses it in one routine and goes on in the
// next, and the engine's own deflation tests compare false on it. So those
// rows test their inputs first and answer NaN in every element of every
// output, the same from the "!lapack" rows and from the engine's own.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "numlib/linalg/linalg_stack.h"

// False when an element (either part) is NaN or infinite.
bool la_finite(const MatRef& a);
// The same over the upper triangle only, the part a Cholesky factor reads.
bool la_finite_upper(const MatRef& a);

// One output of a NaN answer: m x n, complex when cplx; NaN in every element,
// or (diagonal) on the diagonal only with zeros elsewhere, the shape of an
// eigenvalue or scale-factor matrix; or the real scalar `value`.
struct NanOutput {
  enum Fill { kAll, kDiagonal, kValue };
  int32_t m = 0, n = 0;
  bool cplx = false;
  Fill fill = kAll;
  double value = 0;
};

// Fills the pushed matrix r (of o's shape) as o says.
void la_nan_fill(const NanOutput& o, const MatRef& r);

// Replaces the nargin inputs by the nout outputs (outs[0] is the first output,
// left on top). 3 "Data stack overflow" with the inputs in place when they do
// not fit.
int la_answer_nan(EngineContext* ctx, int nargin, const NanOutput* outs, int nout);

// The answers of the rows that share a shape, for an n x n input (complex
// when cplx) with nargin inputs in all and nout outputs asked for:
// eig: the values (n x 1), or [V, D] with D diagonal.
int la_nan_eigen(EngineContext* ctx, int nargin, int32_t n, bool cplx, int nout);
// schur, qz: every output n x n.
int la_nan_square(EngineContext* ctx, int nargin, int32_t n, bool cplx, int nout);
// balance: B, or [T, B] with T a real diagonal.
int la_nan_balance(EngineContext* ctx, int nargin, int32_t n, bool cplx, int nout);
// sqrtm, logm, funm: F, and the accuracy estimate at its ceiling, 1.
int la_nan_matfun(EngineContext* ctx, int nargin, int32_t n, bool cplx, int nout);
