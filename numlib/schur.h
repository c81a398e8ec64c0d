// Schur decompositions of square row-major matrices: the real quasi-triangular
// form by Francis double-shift steps, its conversion to complex triangular
// form, and the complex form by the same scheme on complex data. On success
// input = Q T Q^T (Q T Q^H). Nothing allocates; only the budget can fail.
#pragma once

#include <cstdint>

// Iterations allowed per order of the matrix.
constexpr int32_t kSchurBudgetPerOrder = 100;

// Work sizes in doubles (the Hessenberg reduction's).
inline int64_t la_schur_work_real(int64_t n) { return n; }
inline int64_t la_schur_work_complex(int64_t n) { return 2 * n; }

// h (n x n) := T, quasi-upper-triangular: a non-zero subdiagonal only inside a
// 2 x 2 block of a complex pair, every other element below the diagonal
// exactly 0. q (n x n) may be null. *complex_flag (when given) is 1 when a 2 x 2
// block remains. False when the budget ran out; h and q then hold the state
// reached. n = 0 succeeds.
bool la_schur_real(double* h, int32_t n, double* q, uint8_t* complex_flag, double* work);

// One double-shift step on the active block of rows l .. n-1-c of a Hessenberg
// matrix; shift_perturbation 0 is the plain Francis shift.
void la_schur_real_step(double* h, int32_t n, int32_t l, int32_t c, double shift_perturbation,
                        double* q);

// A real Schur form to a complex upper triangular one by one complex rotation
// per 2 x 2 block; t_im and (when q_re is given) q_im are outputs.
void la_schur_real_to_complex(double* t_re, double* t_im, double* q_re, double* q_im,
                              int32_t n);

// (a_re, a_im) := T upper triangular, except a 2 x 2 block whose subdiagonal is
// too small to rotate away. q_re and q_im both given or both null.
bool la_schur_complex(double* a_re, double* a_im, int32_t n, double* q_re, double* q_im,
                      double* work);
void la_schur_complex_step(double* a_re, double* a_im, int32_t n, int32_t l, int32_t c,
                           double shift_perturbation, double* q_re, double* q_im);
