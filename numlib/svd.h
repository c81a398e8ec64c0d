// Singular value decompositions on row-major arrays: the real Golub-Reinsch
// kernel, complex singular values through the real 2m x 2n embedding, and the
// complex Businger-Golub kernel with U and V. Singular values always come back
// in decreasing order; the kernels allocate nothing and raise nothing. A false
// result means the iteration ran out of steps: from the real kernels that is
// information only (the values stand as the iteration left them, NaN for a
// NaN or Inf in A); only the complex kernel's false makes callers raise 9.
#pragma once

#include <cstdint>

// Work sizes in doubles. svd_decompose keeps its n permutation integers after
// the n doubles of the superdiagonal, so with V it needs n + ceil(n / 2).
inline int64_t svd_work_real(int64_t n, bool with_v) { return with_v ? n + (n + 1) / 2 : n; }
inline int64_t svd_work_values_complex(int64_t m, int64_t n) { return 4 * m * n + 5 * n + 1; }
// Work for svd_decompose_checked with the caller's nu and nv (0 when that
// factor is not asked for).
inline int64_t svd_work_checked(int64_t m, int64_t n, int64_t nu, int64_t nv) {
  int64_t blocks = 0;
  if (m < n) blocks += nu > 0 ? 2 : 1;
  if (nv > 0 && nv < n) blocks += 1;
  return blocks * 2 * n * n + 4 * n;
}

// A (m x n) = U diag(w) V^T: a becomes U (m x n), w the n singular values, v
// (n x n, or null) V. Without v only w is sorted, and the columns of U no
// longer match it. When m < n, U's columns for zero values may be anything
// (even zero): callers that want U of a wide matrix decompose its transpose.
// False when a value has not converged after 30 QR steps; that value is left
// as the iteration left it and the others are diagonalised.
bool svd_decompose(double* a, int32_t m, int32_t n, double* w, double* v, double* work);

// s := the n singular values of the complex m x n matrix re + i im (the last
// n - min(m, n) of them are zero). False as svd_decompose.
bool svd_values_complex(const double* re, const double* im, int32_t m, int32_t n, double* s,
                        double* work);

// A = U diag(s) V^H for complex A (m x n; re and im destroyed). U is m x nu
// (ur, ui; null or nu = 0 for none), V is n x nv (vr, vi; likewise); s gets n
// values, the last n - min(m, n) of them zero. When m >= n, nu must be 0 or
// between n and m; when m < n, at most m; nv at most n. False when a value
// needs more than 70 QR steps, or for nu or nv out of range (nothing is then
// written).
bool svd_decompose_checked(double* re, double* im, int32_t m, int32_t n, double* s, double* ur,
                           double* ui, int32_t nu, double* vr, double* vi, int32_t nv,
                           double* work);
