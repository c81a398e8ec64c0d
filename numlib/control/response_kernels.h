// Kernels behind the response plots: the frequency response of a state-space
// model at one complex point, and the frequency ranges and time scales that
// automatic response axes are built from. Caller scratch, no allocation.
#pragma once

#include <cstdint>

// G(s) = C (sI - A)^-1 B + D at s = (s_re, s_im), column `input` of it:
// out_re, out_im get the p outputs. A is n x n, B n x m, C p x n, D p x m
// (null: none), row-major. The left system (sI - A) X = B_col is solved.
int64_t ss_shifted_eval_work(int32_t n);
void ss_shifted_eval(const double* a, const double* b, const double* c, const double* d,
                     int32_t n, int32_t m, int32_t p, int32_t input, double s_re, double s_im,
                     double* out_re, double* out_im, double* work);
// The m singular values of the whole p x m matrix G(s), largest first (zeros
// beyond min(p, m)). False when the singular-value iteration failed.
int64_t ss_shifted_eval_multi_work(int32_t n, int32_t m, int32_t p);
bool ss_shifted_eval_multi(const double* a, const double* b, const double* c, const double* d,
                           int32_t n, int32_t m, int32_t p, double s_re, double s_im, double* sv,
                           double* work);

// A frequency range [low, high] from the smallest and largest non-zero pole
// magnitudes of a polynomial (n + 1 coefficients) or of a matrix (n x n):
// a decade below and above them. Poles all at the origin (or none) give
// [0, 10] on a linear axis, [1e-3, 10] on a logarithmic one; a linear axis
// always starts at 0.
int64_t poly_root_magnitude_range_work(int32_t n);
void poly_root_magnitude_range(const double* p, int32_t n, bool log_axis, double* work,
                               double* low, double* high);
int64_t matrix_eig_magnitude_range_work(int32_t n);
void matrix_eig_magnitude_range(const double* a, int32_t n, bool log_axis, double* work,
                                double* low, double* high);

// A time span over which a response settles: 10/|r| seconds summed over the
// poles r with |r|^2 > 1e-6 (poles at the origin, and the rounding noise
// around them, add nothing), at most 1e6; 10 when no pole counts. The _alt
// forms take discrete poles z with sample time ts through |ln z| / ts.
int64_t poly_roots_frequency_scale_work(int32_t n);
void poly_roots_frequency_scale(const double* p, int32_t n, double* work, double* out);
void poly_roots_frequency_scale_alt(const double* p, int32_t n, double ts, double* work,
                                    double* out);
int64_t matrix_eig_frequency_scale_work(int32_t n);
void matrix_eig_frequency_scale(const double* a, int32_t n, double* work, double* out);
void matrix_eig_frequency_scale_alt(const double* a, int32_t n, double ts, double* work,
                                    double* out);
