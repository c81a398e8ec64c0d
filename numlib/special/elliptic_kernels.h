// Kernels of the Jacobi elliptic functions and the elliptic integrals of the
// first and second kind, by the arithmetic-geometric mean and the descending
// Landen transformation, and for finite F and E by Carlson's symmetric
// integrals. m is the parameter (the squared modulus). A false
// result means the iteration failed (or m lies outside the kernel's domain).
#pragma once

#include <cstdint>

// Default convergence tolerance, 2^-52.
constexpr double kEllipticTol = 2.220446049250313e-16;

// Any of am, sn, cn, dn may be null. The work area holds four arrays of
// work_doubles / 4 doubles each; more mean steps than that fail.
bool jacobi_elliptic_kernel(double u, double m, double tol, double* am, double* sn, double* cn,
                            double* dn, double* work, int64_t work_doubles);
bool elliptic_f_kernel(double phi, double m, double* out);
bool elliptic_e_kernel(double phi, double m, double* out);
// K(m) and E(m) for 0 <= m <= 1; either out may be null.
bool ellipke_agm_kernel(double m, double tol, double* k, double* e);
// D(x), the integral from 1 to x of ln t / (t - 1), for x > 0.
double dilog_kernel(double x);
