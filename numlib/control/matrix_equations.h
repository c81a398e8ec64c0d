// Matrix equations of control design on real row-major matrices: continuous
// Lyapunov and Sylvester (Hessenberg-Schur), discrete Lyapunov (bilinear map)
// and the algebraic Riccati equations (ordered Schur form of the Hamiltonian
// or symplectic matrix). Kernels work in the caller's workspace and fail only
// when a Schur iteration runs out of budget.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Workspace in doubles of lyap_kernel_real for an m x m left and n x n right matrix.
int64_t la_workspace_size(int64_t m, int64_t n);

// Solves A X + X B + C = 0 (B null: A X + X A^T + C = 0) in place on C (m x n).
// A and B are destroyed. False when a Schur iteration fails.
bool lyap_kernel_real(double* a, int32_t m, double* b, int32_t n, double* c, double* work);

// Solves A X A^T - X + C = 0 in place on C (n x n); A destroyed.
// Work: la_workspace_size(n, n) + n * n doubles.
bool dlyap_kernel_real(double* a, int32_t n, double* c, double* work);
int64_t dlyap_workspace_size(int64_t n);

int bi_lyap(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dlyap(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// care and dare: data 'c' or 'd'.
int bi_care(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
