// Gaussian elimination with partial pivoting on row-major matrices: in-place
// LU, left (A X = B) and right (X A = B) solvers, determinants. The kernels
// allocate nothing and cannot fail; a singular matrix shows only in the numbers.
// Pivot rule everywhere: the first strictly larger magnitude wins, so ties keep
// the earlier row and a NaN magnitude never wins.
#pragma once

#include <cstdint>

// a (m x n) := L and U of P A = L U, rows physically exchanged; perm[k] is the
// input row now at position k. A zero or NaN pivot skips its column.
void lu_factor_real(double* a, int32_t m, int32_t n, uint32_t* perm);
void lu_factor_complex(double* re, double* im, int32_t m, int32_t n, uint32_t* perm);

// b (n x p) := A^-1 B. a is destroyed (its first n doubles end as scratch);
// perm is n words of scratch. With b_complex set, b's imaginary block of n p
// doubles follows its real block and is solved with the same elimination.
void linsolve_left_real(double* a, double* b, int32_t n, int32_t p, uint32_t* perm,
                        uint8_t b_complex);
// a and b complex: each is one array, the imaginary block after the real one.
void linsolve_left_complex(double* a, double* b, int32_t n, int32_t p, uint32_t* perm);

// b (m x n) := B A^-1, solved as the transposed left problem without forming
// any transpose. a is destroyed; perm is n words of scratch.
void linsolve_right_real(double* a, double* b, int32_t n, int32_t m, uint32_t* perm);
void linsolve_right_complex(double* a, double* b, int32_t n, int32_t m, uint32_t* perm);

// det := det(A); a is destroyed. The elimination stops at the first zero or NaN
// pivot, so a singular matrix gives a signed zero.
void det_real(double* a, double* det, int32_t n, uint32_t* perm);
void det_complex(double* re, double* im, double* det_re, double* det_im, int32_t n,
                 uint32_t* perm);
