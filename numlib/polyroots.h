// Between polynomials and their roots: roots of real and complex polynomials
// (companion-matrix eigenvalues, Laguerre with deflation as the fallback),
// coefficients from roots, characteristic polynomials. A polynomial of degree
// n is n+1 coefficients, leading first; roots come back as re and im arrays.
#pragma once

#include <cstdint>

// Work sizes in doubles.
inline int64_t roots_real_work(int64_t n) { return n * n + n; }
inline int64_t roots_complex_work(int64_t n) { return 2 * n * n + 2 * n; }
// The imaginary parts of the expansion are n+1 doubles at 3n, hence 4n + 1.
inline int64_t numk_charpoly_work(int64_t n) { return 4 * n + 1; }

// Trailing zero coefficients give roots 0 at the end; the rest come from the
// companion matrix, or from the Laguerre fallback (which rewrites p) when that
// fails. Returns 1 when some imaginary part is non-zero or NaN. A NaN or Inf
// coefficient makes every root NaN (real NaN for real coefficients, NaN in
// both parts for complex ones).
int32_t roots_real_coeffs(double* p, int32_t n, double* re, double* im, double* work);
void roots_complex_coeffs(double* p_re, double* p_im, int32_t n, double* re, double* im,
                          double* work);

// Laguerre with deflation on p, which is normalised and deflated in place.
// A complex pair is stored with its positive imaginary part at the higher
// position. Returns 1 when a complex pair was found (or a negative quadratic
// discriminant was met).
int32_t poly_roots_real(double* p, int32_t n, double* re, double* im);

// One Laguerre root from (u, v): v < 0 starts at the real point u, otherwise
// at u + iv. On return v = -1 reports the real root u, v >= 0 the pair u +- iv.
// True when the iteration converged.
bool poly_roots_real_step(const double* p, int32_t n, double* u, double* v, double tol);

// Complex Laguerre with deflation; p_re and p_im are deflated in place.
void poly_roots_complex_kernel(double* p_re, double* p_im, int32_t n, double* re, double* im);
bool poly_roots_helper(const double* p_re, const double* p_im, int32_t n, double* z_re,
                       double* z_im, double tol);

// p := prod (x - r_k), leading 1.
void numk_poly_from_real_roots(const double* r, int32_t n, double* p);

// p := prod (x - r_k) in complex arithmetic. The first n bytes of p_re serve
// as pairing flags before the expansion. True when every root with a non-zero
// imaginary part has a later partner with exactly the negated imaginary part.
bool numk_poly_from_roots(const double* r_re, const double* r_im, int32_t n, double* p_re,
                          double* p_im);

// p := the characteristic polynomial of a (destroyed) through its eigenvalues;
// returns the pairing result of numk_poly_from_roots. work: numk_charpoly_work.
// A matrix holding NaN or Inf gives 1 followed by NaN.
bool numk_charpoly(double* a, int32_t n, double* p, double* work);

// p := the characteristic polynomial of a complex matrix (destroyed) by
// similarity reduction to companion form; perm is n ints of scratch. A NaN or
// Inf element gives 1 followed by NaN in both parts.
void numk_charpoly_complex(double* a_re, double* a_im, int32_t n, double* p_re, double* p_im,
                           int32_t* perm);

// For tests only: force the Laguerre fallbacks and cap their iterations.
struct RootsTestHooks {
  bool force_fallback = false;
  int32_t laguerre_iterations = 200;
};
RootsTestHooks& roots_test_hooks();
