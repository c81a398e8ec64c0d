// Polynomial roots through companion-matrix eigenvalues with Laguerre's method
// as the fallback, coefficients from roots and characteristic polynomials.
// Deflation works in place on the coefficient array: after each root the
// array holds the quotient, leading coefficient first, and n is its degree.
#include "numlib/polyroots.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "numlib/complex_arith.h"
#include "numlib/eigen.h"

namespace {

using Idx = std::ptrdiff_t;

constexpr double kLaguerreTol = 1e-7;
constexpr double kLaguerreTolFloor = 1e-9;
// Starting points tried per root, the first one twice (1, then 1, 2, .. 29).
constexpr int32_t kLaguerreStarts = 30;
// Retries after which a converged NaN root of the complex fallback is kept.
constexpr int32_t kComplexNanRetries = 10;
// A quadratic discriminant's root below this counts as a double real root.
constexpr double kQuadraticImagFloor = 1e-7;
// Relative remainder below which x^2 - 2ux + u^2 + v^2 counts as a factor.
constexpr double kQuadraticFactorTol = 1e-9;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A NaN or Inf coefficient (or matrix element) leaves nothing to find: the
// companion iteration and Laguerre's steps would turn it into ordinary-looking
// numbers, so the kernels answer NaN for every root and coefficient it reaches.
bool all_finite(const double* p, Idx count) {
  return std::all_of(p, p + count, [](double x) { return std::isfinite(x); });
}

double effective_tol(double tol, Idx n) {
  return std::max(tol * std::exp(-double(n)), kLaguerreTolFloor);
}

// p, p' and p'' at z by Horner's scheme.
struct Derivs {
  Cx p, d1, d2;
};

Derivs eval_complex(const double* pr, const double* pi, Idx n, Cx z) {
  Cx b{pr[0], pi ? pi[0] : 0.0}, d{0.0, 0.0}, f{0.0, 0.0};
  for (Idx k = 1; k <= n; ++k) {
    f = cx_add(cx_mul(f, z), d);
    d = cx_add(cx_mul(d, z), b);
    b = cx_add(cx_mul(b, z), Cx{pr[k], pi ? pi[k] : 0.0});
  }
  return {b, d, cx_scale(f, 2.0)};
}

Derivs eval_real(const double* p, Idx n, double x) {
  double b = p[0], d = 0.0, f = 0.0;
  for (Idx k = 1; k <= n; ++k) {
    f = f * x + d;
    d = d * x + b;
    b = b * x + p[k];
  }
  return {{b, 0.0}, {d, 0.0}, {2.0 * f, 0.0}};
}

// The Laguerre step n p / (p' + s) with s the root of disc that makes the
// denominator largest (Re(conj(p') s) >= 0); NaN when it is zero.
Cx complex_step(const Derivs& e, Cx s, Idx n) {
  if (e.d1.re * s.re + e.d1.im * s.im < 0.0) s = {-s.re, -s.im};
  return cx_div(cx_scale(e.p, double(n)), cx_add(e.d1, s));
}

Cx laguerre_disc(const Derivs& e, Idx n) {
  const double m = double(n - 1);
  const Cx in = cx_sub(cx_scale(cx_mul(e.d1, e.d1), m), cx_scale(cx_mul(e.p, e.d2), double(n)));
  return cx_scale(in, m);
}

bool step_done(Cx step, double tol) {
  return (std::fabs(step.re) < tol && std::fabs(step.im) < tol) || std::isnan(step.re) ||
         std::isnan(step.im);
}

// Whether x^2 - 2u x + (u^2 + v^2) divides p up to rounding: the remainder of
// the division is compared with the same recurrence run on magnitudes.
bool quadratic_divides(const double* p, Idx n, double u, double v) {
  const double alpha = -2.0 * u, beta = u * u + v * v;
  double b1 = 0.0, b2 = 0.0, m1 = 0.0, m2 = 0.0;  // b(k-1), b(k-2) and bounds
  for (Idx k = 0; k < n; ++k) {
    const double b = p[k] - alpha * b1 - beta * b2;
    const double m = std::fabs(p[k]) + std::fabs(alpha) * m1 + beta * m2;
    b2 = b1;
    b1 = b;
    m2 = m1;
    m1 = m;
  }
  const double bn = p[n] - alpha * b1 - beta * b2;
  const double mn = std::fabs(p[n]) + std::fabs(alpha) * m1 + beta * m2;
  return std::fabs(b1) <= kQuadraticFactorTol * m1 && std::fabs(bn) <= kQuadraticFactorTol * mn;
}

void deflate_linear(double* p, Idx n, double u) {
  for (Idx k = 1; k < n; ++k) p[k] += u * p[k - 1];
}

void deflate_quadratic(double* p, Idx n, double u, double v) {
  const double a = 2.0 * u, b = u * u + v * v;
  if (n >= 3) p[1] += a * p[0];
  for (Idx k = 2; k <= n - 2; ++k) p[k] += a * p[k - 1] - b * p[k - 2];
}

// c / a for the companion matrix and the linear case: a zero a gives NaN
// when c has an imaginary part, else c.re / 0 with imaginary part 0.
Cx divide_by_leading(Cx c, Cx a) {
  if (a.re == 0.0 && a.im == 0.0) {
    if (c.im != 0.0) return {kNaN, kNaN};
    return {c.re / 0.0, 0.0};
  }
  return cx_div(c, a);
}

bool is_number(Cx z) { return !std::isnan(z.re) && !std::isnan(z.im); }

}  // namespace

RootsTestHooks& roots_test_hooks() {
  static RootsTestHooks hooks;
  return hooks;
}

bool poly_roots_real_step(const double* p, int32_t n, double* u, double* v, double tol) {
  const Idx nn = n;
  const double tol_eff = effective_tol(tol, nn);
  bool complex_mode = !(*v < 0.0);
  double x = *u;
  Cx z{*u, complex_mode ? *v : 0.0};
  bool converged = false;
  const int32_t iterations = roots_test_hooks().laguerre_iterations;
  for (int32_t it = 0; it < iterations && !converged; ++it) {
    if (!complex_mode) {
      const Derivs e = eval_real(p, nn, x);
      const double disc =
          double(nn - 1) * (double(nn - 1) * e.d1.re * e.d1.re - double(nn) * e.p.re * e.d2.re);
      if (disc < 0.0) {
        // No real Laguerre step: go on from the same point in the plane.
        complex_mode = true;
        z = {x, 0.0};
        const Cx step = complex_step(e, {0.0, std::sqrt(-disc)}, nn);
        if (step_done(step, tol_eff))
          converged = true;
        else
          z = cx_sub(z, step);
        continue;
      }
      double s = std::sqrt(disc);
      if (e.d1.re < 0.0) s = -s;
      const double den = e.d1.re + s;
      const double step = den == 0.0 ? 0.0 : double(nn) * e.p.re / den;
      if (std::fabs(step) < tol_eff)
        converged = true;
      else
        x -= step;
    } else {
      const Derivs e = eval_complex(p, nullptr, nn, z);
      const Cx step = complex_step(e, cx_sqrt(laguerre_disc(e, nn)), nn);
      if (step_done(step, tol_eff))
        converged = true;
      else
        z = cx_sub(z, step);
    }
  }
  if (!complex_mode) {
    *u = x;
    *v = -1.0;
  } else if (std::fabs(z.im) >= tol_eff && quadratic_divides(p, nn, z.re, z.im)) {
    *u = z.re;
    *v = std::fabs(z.im);
  } else {
    *u = z.re;
    *v = -1.0;
  }
  return converged;
}

int32_t poly_roots_real(double* p, int32_t n, double* re, double* im) {
  Idx nn = n;
  if (nn <= 0) return 0;
  const double inv = 1.0 / p[0];
  p[0] = 1.0;
  for (Idx k = 1; k <= nn; ++k) p[k] *= inv;
  int32_t flag = 0;
  while (nn > 0 && p[nn] == 0.0) {
    re[nn - 1] = im[nn - 1] = 0.0;
    --nn;
  }
  while (nn >= 3) {
    double u = 1.0, v = -1.0;
    bool ok = poly_roots_real_step(p, int32_t(nn), &u, &v, kLaguerreTol);
    // When every start fails the last iterate stands: a root is always taken.
    for (int32_t k = 1; k < kLaguerreStarts && (!ok || std::isnan(u) || std::isnan(v)); ++k) {
      u = double(k);
      v = -1.0;
      ok = poly_roots_real_step(p, int32_t(nn), &u, &v, kLaguerreTol);
    }
    if (v >= 0.0) {
      re[nn - 1] = re[nn - 2] = u;
      im[nn - 1] = v;
      im[nn - 2] = -v;
      flag = 1;
      deflate_quadratic(p, nn, u, v);
      nn -= 2;
    } else {
      re[nn - 1] = u;
      im[nn - 1] = 0.0;
      deflate_linear(p, nn, u);
      nn -= 1;
    }
  }
  if (nn == 2) {
    const double disc = p[1] * p[1] - 4.0 * p[2] * p[0];
    if (!(disc < 0.0)) {
      const double sq = std::sqrt(disc);
      re[0] = (sq - p[1]) / (2.0 * p[0]);
      re[1] = (-p[1] - sq) / (2.0 * p[0]);
      im[0] = im[1] = 0.0;
      return flag;
    }
    re[0] = re[1] = -p[1] / (2.0 * p[0]);
    const double sq = std::sqrt(-disc);
    if (sq >= kQuadraticImagFloor) {
      im[0] = sq / (2.0 * p[0]);
      im[1] = -sq / (2.0 * p[0]);
    } else {
      im[0] = im[1] = 0.0;
    }
    return 1;
  }
  if (nn == 1) {
    re[0] = -p[1] / p[0];
    im[0] = 0.0;
  }
  return flag;
}

int32_t roots_real_coeffs(double* p, int32_t n, double* re, double* im, double* work) {
  Idx nn = n;
  if (!all_finite(p, nn + 1)) {
    std::fill(re, re + nn, kNaN);
    std::fill(im, im + nn, 0.0);
    return 0;
  }
  while (nn > 0 && (p[nn] == 0.0 || std::isnan(p[nn]))) {
    re[nn - 1] = im[nn - 1] = 0.0;
    --nn;
  }
  if (nn == 0) return 0;
  if (nn == 1) {
    re[0] = -p[1] / p[0];
    im[0] = 0.0;
    return 0;
  }
  if (!roots_test_hooks().force_fallback) {
    double* c = work;
    std::fill(c, c + nn * nn, 0.0);
    for (Idx k = 0; k < nn; ++k) c[k] = -p[k + 1] / p[0];
    for (Idx k = 1; k < nn; ++k) c[k * nn + k - 1] = 1.0;
    // A companion matrix is Hessenberg already, and its first row can span
    // the whole exponent range (a leading coefficient of 1e-300, roots from
    // 100 to 700 whose product is 5e17): balanced over that range and iterated
    // with deflation tests that weigh neighbours, never the norm, it gives
    // roots with a backward error of rounding size. The plain iteration took
    // the unit subdiagonal for zero beside such a row and answered zeros.
    numk_balance_wide(c, nullptr, int32_t(nn), work + nn * nn);
    if (numk_hessenberg_eigvals_wide(c, int32_t(nn), re, im)) {
      for (Idx k = 0; k < nn; ++k)
        if (im[k] != 0.0) return 1;  // NaN included
      return 0;
    }
  }
  return poly_roots_real(p, int32_t(nn), re, im);
}

bool poly_roots_helper(const double* p_re, const double* p_im, int32_t n, double* z_re,
                       double* z_im, double tol) {
  const Idx nn = n;
  const double tol_eff = effective_tol(tol, nn);
  Cx z{*z_re, *z_im};
  bool converged = false;
  const int32_t iterations = roots_test_hooks().laguerre_iterations;
  for (int32_t it = 0; it < iterations && !converged; ++it) {
    const Derivs e = eval_complex(p_re, p_im, nn, z);
    const Cx step = complex_step(e, cx_sqrt(laguerre_disc(e, nn)), nn);
    if (step_done(step, tol_eff))
      converged = true;
    else
      z = cx_sub(z, step);
  }
  *z_re = z.re;
  *z_im = z.im;
  return converged;
}

void poly_roots_complex_kernel(double* p_re, double* p_im, int32_t n, double* re, double* im) {
  Idx nn = n;
  if (nn <= 0) return;
  bool real_coeffs = true;
  for (Idx k = 0; k <= nn && real_coeffs; ++k) real_coeffs = p_re[k] + p_im[k] == p_re[k];
  if (real_coeffs) {
    poly_roots_real(p_re, n, re, im);
    return;
  }
  while (nn > 0 && p_re[nn] == 0.0 && p_im[nn] == 0.0) {
    re[nn - 1] = im[nn - 1] = 0.0;
    --nn;
  }
  while (nn > 1) {
    Cx z{1.0, -1.0};
    bool ok = poly_roots_helper(p_re, p_im, int32_t(nn), &z.re, &z.im, kLaguerreTol);
    // Bounded like the real fallback; when every start fails the last
    // iterate stands, so a root is always taken.
    for (int32_t k = 1; k < kLaguerreStarts; ++k) {
      if (ok && (is_number(z) || k - 1 >= kComplexNanRetries)) break;
      z = {double(k), -1.0};
      ok = poly_roots_helper(p_re, p_im, int32_t(nn), &z.re, &z.im, kLaguerreTol);
    }
    re[nn - 1] = z.re;
    im[nn - 1] = z.im;
    for (Idx k = 1; k < nn; ++k) {
      const Cx q = cx_add(Cx{p_re[k], p_im[k]}, cx_mul(z, Cx{p_re[k - 1], p_im[k - 1]}));
      p_re[k] = q.re;
      p_im[k] = q.im;
    }
    --nn;
  }
  if (nn == 1) {
    const Cx num{-p_re[1], -p_im[1]}, den{p_re[0], p_im[0]};
    const double d2 = cx_abs2(den);
    const Cx prod = cx_mul(num, cx_conj(den));
    re[0] = prod.re / d2;
    im[0] = prod.im / d2;
  }
}

void roots_complex_coeffs(double* p_re, double* p_im, int32_t n, double* re, double* im,
                          double* work) {
  Idx nn = n;
  if (!all_finite(p_re, nn + 1) || !all_finite(p_im, nn + 1)) {
    std::fill(re, re + nn, kNaN);
    std::fill(im, im + nn, kNaN);
    return;
  }
  while (nn > 0 && p_re[nn] == 0.0 && p_im[nn] == 0.0) {
    re[nn - 1] = im[nn - 1] = 0.0;
    --nn;
  }
  if (nn == 0) return;
  const Cx lead{p_re[0], p_im[0]};
  if (nn == 1) {
    const Cx r = divide_by_leading({-p_re[1], -p_im[1]}, lead);
    re[0] = r.re;
    im[0] = r.im;
    return;
  }
  if (!roots_test_hooks().force_fallback) {
    double* c_re = work;
    double* c_im = work + nn * nn;
    std::fill(c_re, c_re + 2 * nn * nn, 0.0);
    for (Idx k = 0; k < nn; ++k) {
      const Cx r = divide_by_leading({-p_re[k + 1], -p_im[k + 1]}, lead);
      c_re[k] = r.re;
      c_im[k] = r.im;
    }
    for (Idx k = 1; k < nn; ++k) c_re[k * nn + k - 1] = 1.0;
    // Balanced and iterated as the real companion matrix is, for the same
    // reasons (a leading coefficient of 1e-18 i gave zeros for roots).
    numk_balance_wide(c_re, c_im, int32_t(nn), work + 2 * nn * nn);
    if (numk_hessenberg_eigvals_complex_wide(c_re, c_im, int32_t(nn), re, im)) return;
  }
  poly_roots_complex_kernel(p_re, p_im, int32_t(nn), re, im);
}

void numk_poly_from_real_roots(const double* r, int32_t n, double* p) {
  p[0] = 1.0;
  for (Idx k = 1; k <= n; ++k) {
    p[k] = 0.0;
    for (Idx j = k; j >= 1; --j) p[j] -= r[k - 1] * p[j - 1];
  }
}

bool numk_poly_from_roots(const double* r_re, const double* r_im, int32_t n, double* p_re,
                          double* p_im) {
  const Idx nn = n < 0 ? 0 : n;
  // n flag bytes fit in the n+1 doubles of p_re, which the expansion rewrites.
  unsigned char* taken = reinterpret_cast<unsigned char*>(p_re);
  std::memset(taken, 0, size_t(nn));
  bool paired = true;
  for (Idx i = 0; i < nn && paired; ++i) {
    if (taken[i] || r_im[i] == 0.0) continue;
    Idx j = i + 1;
    while (j < nn && (taken[j] || !(r_im[j] == -r_im[i]))) ++j;
    if (j == nn)
      paired = false;
    else
      taken[j] = 1;
  }
  p_re[0] = 1.0;
  p_im[0] = 0.0;
  for (Idx k = 1; k <= nn; ++k) {
    p_re[k] = p_im[k] = 0.0;
    const Cx r{r_re[k - 1], r_im[k - 1]};
    for (Idx j = k; j >= 1; --j) {
      const Cx q = cx_sub(Cx{p_re[j], p_im[j]}, cx_mul(r, Cx{p_re[j - 1], p_im[j - 1]}));
      p_re[j] = q.re;
      p_im[j] = q.im;
    }
  }
  return paired;
}

bool numk_charpoly(double* a, int32_t n, double* p, double* work) {
  const Idx nn = n < 0 ? 0 : n;
  // Work: the pivot record over the first n doubles, then re, im, p_im.
  int32_t* pivots = reinterpret_cast<int32_t*>(work);
  double* wr = work + nn;
  double* wi = work + 2 * nn;
  numk_eig_real(a, n, pivots, wr, wi);  // a failure leaves NaN roots behind
  return numk_poly_from_roots(wr, wi, n, p, work + 3 * nn);
}

namespace {

// The matrix seen through the permutation: element (i, j) is a(perm i, perm j).
struct Permuted {
  double *re, *im;
  const int32_t* perm;
  Idx n;
  Idx at(Idx i, Idx j) const { return Idx{perm[i]} * n + perm[j]; }
  Cx get(Idx i, Idx j) const { return {re[at(i, j)], im[at(i, j)]}; }
  void set(Idx i, Idx j, Cx z) const {
    re[at(i, j)] = z.re;
    im[at(i, j)] = z.im;
  }
  // row i -= f row k (all columns); column k += f column i (all rows).
  void eliminate(Idx i, Idx k, Cx f) const {
    for (Idx j = 0; j < n; ++j) set(i, j, cx_sub(get(i, j), cx_mul(f, get(k, j))));
    for (Idx j = 0; j < n; ++j) set(j, k, cx_add(get(j, k), cx_mul(f, get(j, i))));
  }
};

// The block b .. e-1, already upper Hessenberg with a unit subdiagonal, to
// companion form (its coefficients in row b); then p := p times its
// characteristic polynomial. deg is the degree of p so far.
void close_block(const Permuted& m, Idx b, Idx e, double* p_re, double* p_im, Idx& deg) {
  for (Idx k = e - 1; k >= b + 1; --k) {
    for (Idx j = k; j < e; ++j) {
      const Cx f = m.get(k, j);
      for (Idx i = 0; i < m.n; ++i) m.set(i, j, cx_sub(m.get(i, j), cx_mul(f, m.get(i, k - 1))));
      for (Idx i = 0; i < m.n; ++i)
        m.set(k - 1, i, cx_add(m.get(k - 1, i), cx_mul(f, m.get(j, i))));
    }
  }
  const Idx size = e - b;
  if (deg == 0) {
    for (Idx j = 0; j < size; ++j) {
      const Cx c = m.get(b, b + j);
      p_re[j + 1] = -c.re;
      p_im[j + 1] = -c.im;
    }
  } else {
    // In place from the top: new p(i) needs old p(i - j), j >= 0, only.
    for (Idx i = deg + size; i >= 1; --i) {
      Cx s = i <= deg ? Cx{p_re[i], p_im[i]} : Cx{0.0, 0.0};
      for (Idx j = 1; j <= std::min(size, i); ++j) {
        if (i - j > deg) continue;
        const Cx c = m.get(b, b + j - 1);
        s = cx_sub(s, cx_mul(c, Cx{p_re[i - j], p_im[i - j]}));
      }
      p_re[i] = s.re;
      p_im[i] = s.im;
    }
  }
  deg += size;
}

}  // namespace

void numk_charpoly_complex(double* a_re, double* a_im, int32_t n, double* p_re, double* p_im,
                           int32_t* perm) {
  const Idx nn = n < 0 ? 0 : n;
  for (Idx i = 0; i < nn; ++i) perm[i] = int32_t(i);
  p_re[0] = 1.0;
  p_im[0] = 0.0;
  if (!all_finite(a_re, nn * nn) || !all_finite(a_im, nn * nn)) {
    std::fill(p_re + 1, p_re + nn + 1, kNaN);
    std::fill(p_im + 1, p_im + nn + 1, kNaN);
    return;
  }
  const Permuted m{a_re, a_im, perm, nn};
  Idx deg = 0, block = 0;
  for (Idx k = 1; k <= nn; ++k) {
    bool split = k == nn;
    if (!split) {
      Idx best = k;
      double big = cx_abs1(m.get(k, k - 1));
      bool all_zero = true;
      for (Idx i = k; i < nn; ++i) {
        const Cx z = m.get(i, k - 1);
        if (z.re != 0.0 || z.im != 0.0) all_zero = false;
        if (cx_abs1(z) > big) {
          big = cx_abs1(z);
          best = i;
        }
      }
      // A zero column below the diagonal splits the matrix into two diagonal
      // blocks, whose characteristic polynomials multiply; dividing by the
      // zero pivot instead would fill everything with NaN.
      split = all_zero;
      if (!split) {
        std::swap(perm[k], perm[best]);
        const Cx g = m.get(k, k - 1);
        for (Idx i = 0; i < nn; ++i) m.set(i, k, cx_mul(m.get(i, k), g));
        for (Idx j = 0; j < nn; ++j) m.set(k, j, cx_div(m.get(k, j), g));
        for (Idx j = k + 1; j < nn; ++j) m.eliminate(j, k, m.get(j, k - 1));
      }
    }
    if (split) {
      close_block(m, block, k, p_re, p_im, deg);
      block = k;
    }
  }
}
