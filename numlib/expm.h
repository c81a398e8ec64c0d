// Matrix exponential by balancing, scaling and squaring with the degree-6
// diagonal Pade approximant, and the power of a scalar to a matrix, x^A = exp(ln(x) A).
// Row-major n x n matrices; complex ones are one array of 2 n^2 doubles (real
// block, then imaginary block). The caller gives E and the work block; the
// kernels allocate nothing and return no status.
#pragma once

#include <cstdint>

// Work sizes in doubles: real 2 n + 2 n^2, complex 3 n + 4 n^2 (a row, the
// power and denominator blocks, and the n balancing factors).
inline int64_t numk_expm_work_real(int64_t n) { return 2 * n + 2 * n * n; }
inline int64_t numk_expm_work_complex(int64_t n) { return 3 * n + 4 * n * n; }

// E := exp(A). A is left as the matrix the approximant was formed from: A
// itself, or A balanced when that lowered its norm, divided by the scaling
// power of two.
void numk_expm_real(double* a, int32_t n, double* e, double* work);
void numk_expm_complex(double* a, int32_t n, double* e, double* work);

// Largest row sum of absolute values (moduli); 0 when n < 1. A NaN row sum
// makes the norm NaN.
double numk_norm_inf_real(const double* a, int32_t n);
double numk_norm_inf_complex(const double* re, const double* im, int32_t n);

// E := exp(log(x) A); A is overwritten.
void numk_scalar_pow_matrix_real(double x, double* a, int32_t n, double* e, double* work);
void numk_scalar_pow_matrix_complex(double z_re, double z_im, double* a, int32_t n, double* e,
                                    double* work);
