// Scalar kernels of the error, gamma and beta functions, shared by their
// built-ins, the integer functions and the probability distributions. Domain
// errors are values (NaN, +-Inf); only the two iterative kernels can fail,
// and they say so through their result flag.
#pragma once

#include <cstdint>

// Status of a kernel or built-in whose iteration did not settle.
constexpr int kNoConvergence = 9;

// 2^-52, the stopping tolerance of the series and continued fractions.
constexpr double kSpecialEps = 2.220446049250313e-16;

double erf_kernel(double x, bool complement);
double erfinv_kernel(double y);
double gamma_function_kernel(double x, bool factorial);
// ln Gamma(x) for x > 0; +Inf at 0, NaN below 0 and for NaN.
double log_gamma_lanczos(double x);
// P(a, x), the regularized lower incomplete gamma function.
bool incomplete_gamma_kernel(double a, double x, double* out);
double beta_function_kernel(double a, double b);
// ln B(a, b) (NaN for a < 0, b < 0 or NaN).
double log_beta(double a, double b);
// I_x(a, b), the regularized incomplete beta function.
bool incomplete_beta_kernel(double x, double a, double b, double* out);
// n! for an integer 0 <= n <= 170 (exact product, correctly rounded); others
// as gamma_function_kernel with its factorial flag.
double factorial_exact(double n);
// The binomial coefficient of integers 0 <= k <= n < 2^53, correctly rounded
// (+Inf beyond the doubles).
double binomial_exact(double n, double k);
