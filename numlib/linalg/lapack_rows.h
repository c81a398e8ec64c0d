// The "!lapack" section: dense linear algebra over the system's LAPACK and
// BLAS. The host's table carries these rows, registered in front of the
// engine's own rows of the same names.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

int bi_lapack_balance(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_chol(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_det(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_eig(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_hess(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_inv(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_matfun(EngineContext* ctx, int nargin, int nargout, uintptr_t data);  // logm, sqrtm
int bi_lapack_lu(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_mldivide(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_mrdivide(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_orth(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_null(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_pinv(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_qr(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_qz(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_rank(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_rcond(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_schur(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_lapack_svd(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
