// Householder reflectors on row-major matrices, their application to row and
// column blocks, Hessenberg reduction and QR with optional column pivoting, for
// real and for complex (separate real and imaginary arrays) data. Nothing here
// allocates or fails: reflectors live in the caller's work array.
#pragma once

#include <cstdint>

// Work sizes in doubles.
inline int64_t la_hessenberg_work_real(int64_t n) { return n; }
inline int64_t la_hessenberg_work_complex(int64_t n) { return 2 * n; }
inline int64_t la_qr_work_real(int64_t m, int64_t n, bool pivoting) {
  return m + (pivoting ? n : 0);
}
inline int64_t la_qr_work_complex(int64_t m, int64_t n, bool pivoting) {
  return 2 * m + (pivoting ? n : 0);
}

// v (p doubles) and beta of H = I - beta v v^T with H x = -sign(x0) |x| e1,
// x read at x[k * stride] (either sign). A zero x (or a NaN first element)
// gives v = 0, beta = 1. v is scaled by max |x_k|; beta absorbs the scale.
void la_house_real(const double* x, int32_t p, int32_t stride, double* v, double* beta);

// H = I - beta v v^H with H x = -(x0 / |x0|) |x| e1 (x0 = 0 taken as 1).
void la_house_complex(const double* x_re, const double* x_im, int32_t p, int32_t stride,
                      double* v_re, double* v_im, double* beta);

// A (m x n) := H A on rows k .. min(m, e)-1 of all columns; v spans those rows.
void la_house_apply_left_real(double* a, int32_t m, int32_t n, const double* v, double beta,
                              int32_t k, int32_t e);
// A := A H on columns k .. min(n, e)-1 of all rows.
void la_house_apply_right_real(double* a, int32_t m, int32_t n, const double* v, double beta,
                               int32_t k, int32_t e);
void la_house_apply_left_complex(double* a_re, double* a_im, int32_t m, int32_t n,
                                 const double* v_re, const double* v_im, double beta, int32_t k,
                                 int32_t e);
void la_house_apply_right_complex(double* a_re, double* a_im, int32_t m, int32_t n,
                                  const double* v_re, const double* v_im, double beta, int32_t k,
                                  int32_t e);

// A (n x n) := Q^T A Q upper Hessenberg (Q^H in the complex case), entries
// below the subdiagonal exactly zero. q (n x n) may be null; q_re and q_im are
// both given or both null.
void la_hessenberg_real(double* a, int32_t n, double* q, double* work);
void la_hessenberg_complex(double* a_re, double* a_im, int32_t n, double* q_re, double* q_im,
                           double* work);

// A (m x n) := R with A P = Q R; q (m x m) may be null. perm (n entries, 0-based
// input column of each output column) null means no pivoting. With pivoting the
// loop stops at the first all-zero remainder, so zero columns end last.
void la_qr_real(double* a, int32_t m, int32_t n, double* q, int32_t* perm, double* work);
void la_qr_complex(double* a_re, double* a_im, int32_t m, int32_t n, double* q_re, double* q_im,
                   int32_t* perm, double* work);
