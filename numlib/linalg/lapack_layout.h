// Converters between the engine's matrices (row by row, imaginary block after
// the real block) and LAPACK's (column-major with a leading dimension,
// complex elements as interleaved real, imaginary pairs), and the special
// matrices the LAPACK rows build. They only move, negate and fill doubles:
// nothing allocates, checks or fails; a dimension below 1 does nothing. A
// null im stands for zeros going to the driver (read as +0 where conjugated)
// and for "real parts only" coming back. Permutations are 0-based.
#pragma once

#include <cstdint>

void lay_real_to_colmajor(const double* src, double* dst, int32_t m, int32_t n);
void lay_real_to_colmajor_ld(const double* src, double* dst, int32_t ld, int32_t m, int32_t n);
void lay_cplx_to_colmajor(const double* re, const double* im, double* dst, int32_t m, int32_t n);
void lay_cplx_to_colmajor_ld(const double* re, const double* im, double* dst, int32_t ld, int32_t m,
                             int32_t n);
void lay_real_to_colmajor_transposed(const double* src, double* dst, int32_t m, int32_t n);
void lay_real_to_colmajor_transposed_ld(const double* src, double* dst, int32_t ld, int32_t m,
                                        int32_t n);
void lay_cplx_to_colmajor_transposed(const double* re, const double* im, double* dst, int32_t m,
                                     int32_t n);
void lay_cplx_to_colmajor_ctransposed(const double* re, const double* im, double* dst, int32_t m,
                                      int32_t n);
void lay_cplx_to_colmajor_ctransposed_ld(const double* re, const double* im, double* dst, int32_t ld,
                                         int32_t m, int32_t n);
void lay_identity_real(double* dst, int32_t n);
void lay_identity_complex(double* dst, int32_t n);
void lay_real_from_colmajor(const double* src, double* dst, int32_t m, int32_t n);
void lay_real_from_colmajor_ld(const double* src, int32_t ld, double* dst, int32_t m, int32_t n);
void lay_cplx_from_colmajor(const double* src, double* re, double* im, int32_t m, int32_t n);
void lay_cplx_from_colmajor_ld(const double* src, int32_t ld, double* re, double* im, int32_t m,
                               int32_t n);
void lay_real_from_colmajor_transposed(const double* src, double* dst, int32_t m, int32_t n);
void lay_real_from_colmajor_transposed_ld(const double* src, int32_t ld, double* dst, int32_t m,
                                          int32_t n);
void lay_cplx_from_colmajor_transposed(const double* src, double* re, double* im, int32_t m,
                                       int32_t n);
void lay_cplx_from_colmajor_ctransposed(const double* src, double* re, double* im, int32_t m,
                                        int32_t n);
void lay_cplx_from_colmajor_ctransposed_ld(const double* src, int32_t ld, double* re, double* im,
                                           int32_t m, int32_t n);
void lay_diag_from_vector_real(const double* vec, double* dst, int32_t m, int32_t n);
void lay_diag_from_vector_complex(const double* vec, double* re, double* im, int32_t m, int32_t n);
void lay_lower_real_from_colmajor(const double* src, double* dst, int32_t m, int32_t n);
void lay_lower_cplx_from_colmajor(const double* src, double* re, double* im, int32_t m, int32_t n);
void lay_lower_real_from_colmajor_permuted(const double* src, double* dst, int32_t m, int32_t n,
                                           const int32_t* perm);
void lay_lower_cplx_from_colmajor_permuted(const double* src, double* re, double* im, int32_t m,
                                           int32_t n, const int32_t* perm);
void lay_upper_real_from_colmajor(const double* src, double* dst, int32_t m, int32_t n);
void lay_upper_real_from_colmajor_ld(const double* src, int32_t ld, double* dst, int32_t m,
                                     int32_t n);
void lay_upper_cplx_from_colmajor(const double* src, double* re, double* im, int32_t m, int32_t n);
void lay_upper_cplx_from_colmajor_ld(const double* src, int32_t ld, double* re, double* im,
                                     int32_t m, int32_t n);
void lay_fill_inf(double* dst, int32_t m, int32_t n);
// The eigenvectors of DGEEV (n x n column-major, conjugate pairs as real and
// imaginary columns) as the engine's complex n x n matrix, keyed on wi.
void lay_unpack_eigvectors(const double* v, const double* wi, double* re, double* im, int32_t n);
