// Small complex arithmetic for the numeric kernels, written out so that every
// operation is the plain formula whatever the compiler's complex runtime does
// with infinities (no __muldc3 rescue), and so results are the same everywhere.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/core/complex_scalar.h"

struct Cx {
  double re, im;
};

// A square complex matrix held as two row-major planes of n x n doubles.
struct CxMatrix {
  double *re, *im;
  std::ptrdiff_t n;
  Cx get(std::ptrdiff_t i, std::ptrdiff_t j) const { return {re[i * n + j], im[i * n + j]}; }
  void set(std::ptrdiff_t i, std::ptrdiff_t j, Cx z) const {
    re[i * n + j] = z.re;
    im[i * n + j] = z.im;
  }
  bool nonzero(std::ptrdiff_t i, std::ptrdiff_t j) const { return re[i * n + j] != 0.0 || im[i * n + j] != 0.0; }
};

inline Cx cx_add(Cx a, Cx b) { return {a.re + b.re, a.im + b.im}; }
inline Cx cx_sub(Cx a, Cx b) { return {a.re - b.re, a.im - b.im}; }
inline Cx cx_mul(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Cx cx_scale(Cx a, double s) { return {a.re * s, a.im * s}; }
inline Cx cx_conj(Cx a) { return {a.re, -a.im}; }
inline double cx_abs1(Cx a) { return std::fabs(a.re) + std::fabs(a.im); }
inline double cx_abs2(Cx a) { return a.re * a.re + a.im * a.im; }

// a / b by the engine's one complex division (Smith's, scaled at the ends of
// the range; no squares of b formed).
inline Cx cx_div(Cx a, Cx b) {
  Cx q;
  cplx::smith_divide(a.re, a.im, b.re, b.im, q.re, q.im);
  return q;
}

// Principal square root; the modulus is formed without overflow.
inline Cx cx_sqrt(Cx z) {
  const double ar = std::fabs(z.re), ai = std::fabs(z.im);
  const double hi = std::max(ar, ai), lo = std::min(ar, ai);
  if (hi == 0.0) return {0.0, 0.0};
  const double q = lo / hi;
  const double m = hi * std::sqrt(1.0 + q * q);
  if (z.re > 0.0) {
    const double re = std::sqrt((m + z.re) / 2.0);
    return {re, z.im / (2.0 * re)};
  }
  double im = std::sqrt((m - z.re) / 2.0);
  if (z.im < 0.0) im = -im;
  return {z.im / (2.0 * im), im};
}
