// Functions of an upper-triangular complex matrix, the core of sqrtm, logm
// and funm in both linear-algebra sections. Matrices are n x n, row-major,
// with separate real and imaginary blocks. None allocates or fails.
#pragma once

#include <cstdint>

// F := the principal square root of T by the column recurrence
// F[i][j] = (T[i][j] - sum F[i][k] F[k][j]) / (F[i][i] + F[j][j]), which holds
// for repeated eigenvalues too. Only F's upper triangle is written.
void matfun_sqrt_triangle(const double* t_re, const double* t_im, int32_t n, double* f_re,
                          double* f_im);

// F := the principal logarithm of T by inverse scaling and squaring: square
// roots until ||R - I||_1 <= 1/4, a series there, times 2^s.
int64_t matfun_log_work(int64_t n);
void matfun_log_triangle(const double* t_re, const double* t_im, int32_t n, double* f_re,
                         double* f_im, double* work);

// The smallest |T[j][j] - T[i][i]|^2 over i < j, starting from |T[0][0]|^2.
double matfun_delta2(const double* t_re, const double* t_im, int32_t n);

// With F's upper triangle complete: est (when asked) from T and delta2, the
// back transformation F := U F U^H (T's storage holds U F on the way), and
// the complex-result flag (when asked).
void matfun_finish(double* t_re, double* t_im, const double* u_re, const double* u_im, int32_t n,
                   double* f_re, double* f_im, double delta2, uint8_t* complex_flag, double* est);

// Parlett's recurrence from F's diagonal, then matfun_finish. Always true.
bool funm_complex_kernel(double* t_re, double* t_im, const double* u_re, const double* u_im,
                         int32_t n, double* f_re, double* f_im, uint8_t* complex_flag,
                         double* est);
