// Cholesky factorisation in place on row-major n x n matrices, real symmetric
// and complex Hermitian: A becomes the upper-triangular R with R^T R = A
// (R^H R = A), its strictly lower triangle zeroed. Only the diagonal and the
// upper triangle of A are read. Nothing is allocated.
#pragma once

#include <cstdint>

// False at the first pivot that is not strictly positive (or is NaN); a is
// then partly overwritten.
bool chol_factor_real(double* a, int32_t n);

// The imaginary parts of A's diagonal are not read; R's diagonal is real (its
// imaginary parts are set to 0).
bool chol_factor(double* re, double* im, int32_t n);
