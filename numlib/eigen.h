// Eigenvalue tools for row-major matrices: a general real matrix by stabilised
// elimination to Hessenberg form and the shifted double-step QR iteration, a
// symmetric one by cyclic Jacobi rotations, diagonal balancing by powers of
// two, and the wide variants that polynomial roots use on companion matrices
// (real and complex). All overwrite their input and allocate nothing.
#pragma once

#include <cstdint>

// wr, wi := the eigenvalues of a (n x n, destroyed), in no particular order; a
// complex pair is two neighbours, positive imaginary part first. pivots is n
// ints of scratch. False when the iteration budget ran out; the eigenvalues not
// found by then are NaN. A matrix holding NaN or Inf gets NaN for every
// eigenvalue and false, without an iteration.
bool numk_eig_real(double* a, int32_t n, int32_t* pivots, double* wr, double* wi);

// a := upper Hessenberg by elimination with row interchanges (multipliers
// left below the subdiagonal; pivots[m] names the row swapped into row m).
void numk_hessenberg_elim(double* a, int32_t n, int32_t* pivots);

// Eigenvalues of an upper Hessenberg h (destroyed; entries below the
// subdiagonal are ignored). Budget 30 n double steps in all. A zero norm gives
// zeros; a NaN or infinite one gives NaN and false, as numk_eig_real does.
bool numk_hessenberg_eigvals(double* h, int32_t n, double tol, double* wr, double* wi);

// d := eigenvalues of the symmetric a (read from the upper triangle, which is
// destroyed); v (n x n, or null) := eigenvectors as columns. work: 2n doubles.
// At most 50 sweeps; what is reached then is returned. A NaN or Inf in the
// upper triangle makes every value (and vector element) NaN.
void numk_eig_symmetric(double* a, int32_t n, double* d, double* v, double* work);

// d := powers of two with B = D^-1 A D balanced by row and column sums; A is
// replaced by B (a_im null for a real matrix). No permutation is done.
void numk_balance(double* a_re, double* a_im, int32_t n, double* d);

// Eigenvalues of an upper Hessenberg h (destroyed) whose elements may span
// the whole range of doubles, such as a balanced companion matrix: the same
// iteration and budget, but a subdiagonal is dropped only when that perturbs
// the eigenvalues no more than rounding (never merely because it is small
// beside the matrix's norm), and the last 2 x 2 block is solved with scaling.
bool numk_hessenberg_eigvals_wide(double* h, int32_t n, double* wr, double* wi);

// d := powers of two with B = D^-1 A D balanced by the 2-norms of rows and
// columns, over the whole exponent range (numk_balance stops at 2^49, far
// short of what a polynomial's coefficients can span); A := B. a_im is null
// for a real matrix.
void numk_balance_wide(double* a_re, double* a_im, int32_t n, double* d);

// The complex counterpart of numk_hessenberg_eigvals_wide: single-shift QR
// steps with Wilkinson's shift on an upper Hessenberg (h_re, h_im), the same
// deflation tests and budget; eigenvalue k is (wr[k], wi[k]). False (the ones
// not found NaN) when the budget runs out; NaN or Inf gives NaN and false.
bool numk_hessenberg_eigvals_complex_wide(double* h_re, double* h_im, int32_t n, double* wr,
                                          double* wi);
