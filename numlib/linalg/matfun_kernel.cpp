// Functions of a triangular complex matrix: the square-root recurrence, the
// logarithm by inverse scaling and squaring, Parlett's recurrence for any
// scalar function, and the shared back transformation and estimates.
// Parlett's recurrence divides by differences of eigenvalues and cannot fill
// F[i][j] where T[i][i] = T[j][j]; the square-root recurrence divides by sums
// of square roots instead, which is why sqrtm and logm take it.
#include "numlib/linalg/matfun_kernel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numlib/complex_arith.h"

namespace {

using Idx = int64_t;
constexpr double kEps = 2.220446049250313e-16;
// The logarithm's series is summed where ||R - I||_1 <= 1/4; 26 terms leave
// a remainder below 0.25^27 / 27 / (3/4), under eps.
constexpr double kLogSeriesRadius = 0.25;
constexpr int kLogSeriesTerms = 26;
// More square roots than this cannot bring R nearer I (a zero eigenvalue).
constexpr int kMaxSquareRoots = 64;
// The complex-result threshold of funm, relative to F's largest column sum.
constexpr double kComplexResultTol = 2.220446049250313e-15;

Cx at(const double* re, const double* im, Idx n, Idx i, Idx j) { return {re[i * n + j], im[i * n + j]}; }
void put(double* re, double* im, Idx n, Idx i, Idx j, Cx v) {
  re[i * n + j] = v.re;
  im[i * n + j] = v.im;
}

double modulus(Cx z) { return std::hypot(z.re, z.im); }

// Complex log of a scalar: ln|z| + i arg z.
Cx cx_log(Cx z) { return {std::log(std::hypot(z.re, z.im)), std::atan2(z.im, z.re)}; }

// C := A B for upper-triangular A and B (C distinct from both).
void tri_mul(const double* ar, const double* ai, const double* br, const double* bi, Idx n,
             double* cr, double* ci) {
  std::memset(cr, 0, size_t(n * n) * 8);
  std::memset(ci, 0, size_t(n * n) * 8);
  for (Idx i = 0; i < n; ++i)
    for (Idx j = i; j < n; ++j) {
      Cx s{0, 0};
      for (Idx k = i; k <= j; ++k) s = cx_add(s, cx_mul(at(ar, ai, n, i, k), at(br, bi, n, k, j)));
      put(cr, ci, n, i, j, s);
    }
}

// One-norm of R - I over the upper triangle.
double dist_to_identity(const double* re, const double* im, Idx n) {
  double best = 0;
  for (Idx j = 0; j < n; ++j) {
    double s = 0;
    for (Idx i = 0; i <= j; ++i) {
      Cx v = at(re, im, n, i, j);
      if (i == j) v.re -= 1.0;
      s += modulus(v);
    }
    best = std::max(best, s);
    if (std::isnan(s)) return s;
  }
  return best;
}

// Largest column sum of moduli over the upper triangle.
double upper_norm1(const double* re, const double* im, Idx n) {
  double best = 0;
  for (Idx j = 0; j < n; ++j) {
    double s = 0;
    for (Idx i = 0; i <= j; ++i) s += modulus(at(re, im, n, i, j));
    best = std::max(best, s);
  }
  return best;
}

// C := A B for full complex n x n matrices; conj_b uses B^H.
void full_mul(const double* ar, const double* ai, const double* br, const double* bi, Idx n,
              bool conj_b, double* cr, double* ci) {
  for (Idx i = 0; i < n; ++i)
    for (Idx j = 0; j < n; ++j) {
      double sr = 0, si = 0;
      for (Idx k = 0; k < n; ++k) {
        const double xr = ar[i * n + k], xi = ai[i * n + k];
        const double yr = conj_b ? br[j * n + k] : br[k * n + j];
        const double yi = conj_b ? -bi[j * n + k] : bi[k * n + j];
        sr += xr * yr - xi * yi;
        si += xr * yi + xi * yr;
      }
      cr[i * n + j] = sr;
      ci[i * n + j] = si;
    }
}

}  // namespace

void matfun_sqrt_triangle(const double* tr, const double* ti, int32_t n32, double* fr, double* fi) {
  const Idx n = n32;
  for (Idx i = 0; i < n; ++i) put(fr, fi, n, i, i, cx_sqrt(at(tr, ti, n, i, i)));
  for (Idx p = 1; p < n; ++p)
    for (Idx i = 0; i + p < n; ++i) {
      const Idx j = i + p;
      Cx s = at(tr, ti, n, i, j);
      for (Idx k = i + 1; k < j; ++k) s = cx_sub(s, cx_mul(at(fr, fi, n, i, k), at(fr, fi, n, k, j)));
      const Cx d = cx_add(at(fr, fi, n, i, i), at(fr, fi, n, j, j));
      // A zero sum has no square root to fill in, unless nothing is asked.
      Cx f{0, 0};
      if (d.re != 0 || d.im != 0) f = cx_div(s, d);
      else if (s.re != 0 || s.im != 0) f = {s.re / 0.0, s.im / 0.0};
      put(fr, fi, n, i, j, f);
    }
}

int64_t matfun_log_work(int64_t n) { return 8 * n * n; }

void matfun_log_triangle(const double* tr, const double* ti, int32_t n32, double* fr, double* fi,
                         double* work) {
  const Idx n = n32, nn = n * n;
  if (n == 0) return;
  double* rr = work;  // R, then X = R - I
  double* ri = rr + nn;
  double* pr = ri + nn;  // the series' partial product
  double* pi = pr + nn;
  double* qr = pi + nn;  // scratch product
  double* qi = qr + nn;
  std::memcpy(rr, tr, size_t(nn) * 8);
  std::memcpy(ri, ti, size_t(nn) * 8);
  for (Idx i = 0; i < n; ++i)
    for (Idx j = 0; j < i; ++j) rr[i * n + j] = ri[i * n + j] = 0;
  int s = 0;
  while (s < kMaxSquareRoots && !(dist_to_identity(rr, ri, n) <= kLogSeriesRadius)) {
    matfun_sqrt_triangle(rr, ri, n32, qr, qi);
    for (Idx i = 0; i < n; ++i)
      for (Idx j = 0; j < n; ++j)
        if (j < i) qr[i * n + j] = qi[i * n + j] = 0;
    std::memcpy(rr, qr, size_t(nn) * 8);
    std::memcpy(ri, qi, size_t(nn) * 8);
    ++s;
  }
  for (Idx i = 0; i < n; ++i) rr[i * n + i] -= 1.0;  // X
  // log(I + X) = X (c1 I + X (c2 I + ... X (cK I))), c_k = (-1)^(k+1) / k.
  std::memset(pr, 0, size_t(nn) * 8);
  std::memset(pi, 0, size_t(nn) * 8);
  auto coef = [](int k) { return (k % 2 ? 1.0 : -1.0) / k; };
  for (Idx i = 0; i < n; ++i) pr[i * n + i] = coef(kLogSeriesTerms);
  for (int k = kLogSeriesTerms - 1; k >= 1; --k) {
    tri_mul(rr, ri, pr, pi, n, qr, qi);
    for (Idx i = 0; i < n; ++i) qr[i * n + i] += coef(k);
    std::memcpy(pr, qr, size_t(nn) * 8);
    std::memcpy(pi, qi, size_t(nn) * 8);
  }
  tri_mul(rr, ri, pr, pi, n, fr, fi);
  const double scale = std::ldexp(1.0, s);
  for (Idx i = 0; i < n; ++i)
    for (Idx j = i; j < n; ++j) {
      fr[i * n + j] *= scale;
      fi[i * n + j] *= scale;
    }
  // The diagonal is known exactly.
  for (Idx i = 0; i < n; ++i) put(fr, fi, n, i, i, cx_log(at(tr, ti, n, i, i)));
}

double matfun_delta2(const double* tr, const double* ti, int32_t n32) {
  const Idx n = n32;
  if (n < 1) return 0;
  double d2 = cx_abs2(at(tr, ti, n, 0, 0));
  for (Idx j = 1; j < n; ++j)
    for (Idx i = 0; i < j; ++i) d2 = std::min(d2, cx_abs2(cx_sub(at(tr, ti, n, j, j), at(tr, ti, n, i, i))));
  return d2;
}

void matfun_finish(double* tr, double* ti, const double* ur, const double* ui, int32_t n32,
                   double* fr, double* fi, double delta2, uint8_t* complex_flag, double* est) {
  const Idx n = n32;
  if (n < 1) {
    if (complex_flag) *complex_flag = 0;
    if (est) *est = 0;
    return;
  }
  if (est) {
    const double norm_t = upper_norm1(tr, ti, n);
    const double delta = std::sqrt(delta2);
    double e = delta <= kEps ? norm_t : norm_t * (kEps / delta);
    *est = std::min(1.0, std::max(kEps, e));
  }
  full_mul(ur, ui, fr, fi, n, false, tr, ti);
  full_mul(tr, ti, ur, ui, n, true, fr, fi);
  if (complex_flag) {
    double big = 0, imag = 0;
    for (Idx j = 0; j < n; ++j) {
      double s = 0, t = 0;
      for (Idx i = 0; i < n; ++i) {
        s += modulus(at(fr, fi, n, i, j));
        t += std::fabs(fi[i * n + j]);
      }
      big = std::max(big, s);
      imag = std::max(imag, t);
    }
    *complex_flag = imag > big * kComplexResultTol ? 1 : 0;
  }
}

bool funm_complex_kernel(double* tr, double* ti, const double* ur, const double* ui, int32_t n32,
                         double* fr, double* fi, uint8_t* complex_flag, double* est) {
  const Idx n = n32;
  double d2 = n > 0 ? cx_abs2(at(tr, ti, n, 0, 0)) : 0;
  for (Idx p = 1; p < n; ++p)
    for (Idx i = 0; i + p < n; ++i) {
      const Idx j = i + p;
      Cx num = cx_mul(at(tr, ti, n, i, j), cx_sub(at(fr, fi, n, j, j), at(fr, fi, n, i, i)));
      // From F T = T F: the sum is T[i][k] F[k][j] - F[i][k] T[k][j] (with
      // the opposite sign the result is wrong for any f that is not linear).
      for (Idx k = i + 1; k < j; ++k)
        num = cx_add(num, cx_sub(cx_mul(at(tr, ti, n, i, k), at(fr, fi, n, k, j)),
                                 cx_mul(at(fr, fi, n, i, k), at(tr, ti, n, k, j))));
      const Cx den = cx_sub(at(tr, ti, n, j, j), at(tr, ti, n, i, i));
      if (den.re != 0 || den.im != 0) put(fr, fi, n, i, j, cx_div(num, den));
      d2 = std::min(d2, cx_abs2(den));
    }
  matfun_finish(tr, ti, ur, ui, n32, fr, fi, d2, complex_flag, est);
  return true;
}
