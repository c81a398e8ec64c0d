// The numerical library's own linear-algebra built-ins, the rows of the
// engine's "!ZVR" section: SVD-based functions, factorisations, functions of
// a matrix, Householder reflectors and linear programming. Each takes its
// inputs from the value stack (first input deepest), replaces them by its
// outputs (first output on top) and returns a status; on a failure the
// stacks are as they were.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// SVD-based.
int bi_svd(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_rank(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_cond(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_pinv(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_orth(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_null(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_norm(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// Factorisations.
int bi_eig(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_balance(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_hess(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_schur(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_chol(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lu(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_qr(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// Functions of a matrix: expm, and sqrtm ('s'), logm ('l'), funm ('f') by
// the data word. funm is re-entered with nargin < 0 after each call of its
// function argument.
int bi_expm(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_matfun(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// Reflectors and linear programming.
int bi_householder(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_householderapply(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_linprog(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
