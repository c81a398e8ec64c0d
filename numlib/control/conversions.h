// Conversions of linear systems between continuous and discrete time and
// between state-space and transfer-function forms: the kernels on row-major
// arrays in caller scratch, and the c2dm, d2cm, ss2tf and tf2ss built-ins.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// num (degree m <= n) and den (degree n) after s = (a z + b)/(c z + d), both
// with n + 1 coefficients; normalised so that den_out[0] = 1 when asked.
// work: 2 (n + 1)^2 doubles.
void ctrl_bilinear_subst(const double* num, int32_t m, const double* den, int32_t n, double a,
                         double b, double c, double d, bool normalise, double* num_out,
                         double* den_out, double* work);

// One output row of ss2tf: num = det(sI - A + b c) - det(sI - A) + d det(sI - A),
// n + 1 coefficients (d = 0 when there is no D). charpoly_a: det(sI - A).
// work: n^2 + numk_charpoly_work(n) + n + 1 doubles.
void ctrl_matrix_kernel_f(const double* a, int32_t n, const double* b, int32_t b_stride,
                          const double* c, double d, const double* charpoly_a, double* num,
                          double* work);

// Controller canonical form of num (p rows of m + 1) over den (n + 1):
// a (n x n), b (n x 1), c (p x n), d (p x 1).
void ctrl_matrix_kernel_g(const double* num, int32_t p, int32_t m, const double* den, int32_t n,
                          double* a, double* b, double* c, double* d);

// Matched pole-zero map of one row: numd and dend (n + 1 coefficients, numd
// right-aligned) from num (degree m) and den (degree n) with sample time t.
// work: 4 (n + 1) + roots work doubles (ctrl_matched_work).
int64_t ctrl_matched_work(int32_t n);
void ctrl_matched_pz(const double* num, int32_t m, const double* den, int32_t n, double t,
                     double* numd, double* dend, double* work);
// The polynomial (n + 1 coefficients) whose roots are exp(r t) of the k
// roots (re, im), plus `extra` roots at -1; real when the roots pair up.
void ctrl_matched_map_poly(const double* re, const double* im, int32_t k, int32_t extra, double t,
                           double* p, double* work);

int bi_c2dm(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_d2cm(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_ss2tf(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_tf2ss(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// Zero-order-hold discretisation of (A, B) for step t, the kernel of c2dm:
// ad (n x n), bd (n x m) from the exponential of [A t, B t; 0, 0].
int64_t ctrl_matrix_kernel_zoh_work(int64_t n, int64_t m);
void ctrl_matrix_kernel_zoh(const double* a, int64_t n, const double* b, int64_t m, double t,
                            double* ad, double* bd, double* work);
// A continuous transfer function num (degree m <= n) / den (degree n)
// discretised with a zero-order hold for step t: numd and dend of n + 1
// coefficients (numd right-aligned), as c2dm gives them.
int64_t ctrl_matrix_kernel_c_work(int64_t n);  // also that of ctrl_matrix_kernel_d
void ctrl_matrix_kernel_c(const double* num, int64_t m, const double* den, int64_t n, double t,
                          double* numd, double* dend, double* work);
// The same with a first-order (triangle) hold, for inputs that are linear
// between samples; numd may then have a non-zero leading coefficient.
void ctrl_matrix_kernel_d(const double* num, int64_t m, const double* den, int64_t n, double t,
                          double* numd, double* dend, double* work);
// (A, B) held with a first-order (triangle) hold for step t: ad (n x n), bd
// (n x m), and dd (p x m, given as D or zeros) gains C G2, from the
// exponential of [A t, B t, 0; 0, 0, I; 0, 0, 0].
int64_t ctrl_matrix_kernel_b_work(int64_t n, int64_t m);
void ctrl_matrix_kernel_b(const double* a, int64_t n, const double* b, int64_t m, const double* c,
                          int64_t p, double t, double* ad, double* bd, double* dd, double* work);
