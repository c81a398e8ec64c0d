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
// x with erfc(x) = q for 0 <= q <= 2, to full relative accuracy in x for q
// down to the smallest doubles (Newton on ln erfc in the tails, where
// 1 - q has lost the digits erfinv would need).
double erfc_inverse(double q);
double gamma_function_kernel(double x, bool factorial);
// ln Gamma(x) for x > 0; +Inf at 0, NaN below 0 and for NaN.
double log_gamma_lanczos(double x);
// P(a, x), the regularized lower incomplete gamma function.
bool incomplete_gamma_kernel(double a, double x, double* out);
// P(a, x) and Q(a, x) = 1 - P(a, x) for the tails of inverses: P from the
// series below x = a + 1, Q from the continued fraction above it, each to
// its full relative accuracy; the other is 1 minus it.
bool incomplete_gamma_pair(double a, double x, double* lower, double* upper);
// ln(x^a e^-x / Gamma(a)), the factor in front of both incomplete gamma
// forms; accurate for large a, where its three terms nearly cancel.
double log_gamma_prefactor(double a, double x);
double beta_function_kernel(double a, double b);
// ln B(a, b) (NaN for a < 0, b < 0 or NaN).
double log_beta(double a, double b);
// ln(x^a y^b / B(a, b)) with y = 1 - x given by the caller: the factor in
// front of both incomplete beta forms and, less ln x + ln y, the beta
// density. For large shapes it is formed around the mean, where a ln x,
// b ln y and ln B nearly cancel.
double log_beta_power(double a, double b, double x, double y);
// I_x(a, b), the regularized incomplete beta function.
bool incomplete_beta_kernel(double x, double a, double b, double* out);
// I_x(a, b) and 1 - I_x(a, b) with y = 1 - x given by the caller (exact
// where x is near 1): the fraction gives the tail on the near side of the
// mean, I_x(a, b) or I_y(b, a), to full relative accuracy; the other is 1
// minus it.
bool incomplete_beta_pair(double x, double y, double a, double b, double* lower, double* upper);
// n! for an integer 0 <= n <= 170 (exact product, correctly rounded); others
// as gamma_function_kernel with its factorial flag.
double factorial_exact(double n);
// The binomial coefficient of integers 0 <= k <= n < 2^53, correctly rounded
// (+Inf beyond the doubles).
double binomial_exact(double n, double k);
