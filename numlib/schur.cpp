// Francis double-shift QR iterations to real and complex Schur form, with the
// final splitting of 2 x 2 blocks by one rotation each. Invariant between
// steps: the matrix is upper Hessenberg (a perturbed step may leave rounding
// dust below the subdiagonal, cleared at the end) and input = Q H Q^H.
#include "numlib/schur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "numlib/complex_arith.h"
#include "numlib/householder.h"
#include "numlib/range_scale.h"

namespace {

using Idx = std::ptrdiff_t;

constexpr double kEps = 2.220446049250313e-16;
static_assert(kEps == 0x1p-52, "the tolerance unit is 2^-52");
// A subdiagonal this small (relative to its diagonal neighbours) is dropped
// by the final standardisation.
constexpr double kSplitTol = 2 * kEps;
// A complex 2 x 2 block whose subdiagonal is below this (relative) is left
// as it is: rotating it would only move rounding noise around.
constexpr double kComplexSplitTol = 2000 * kEps;
static_assert(kComplexSplitTol == 4.440892098500626e-13, "");
// Exceptional shifts: the perturbation grows with the iteration count.
constexpr double kShiftPerturbation = 0.02;
constexpr int64_t kRealPerturbEvery = 10;
constexpr int64_t kComplexPerturbEvery = 20;

struct Real {
  double* a;
  Idx n;
  double& operator()(Idx i, Idx j) const { return a[i * n + j]; }
};

using Complex = CxMatrix;

// Trailing rows that hold only 1 x 1 and 2 x 2 blocks, or n when all do.
template <class NonZero>
Idx converged_rows(Idx n, NonZero nonzero) {
  for (Idx c = 0; c < n - 2; ++c)
    if (nonzero(n - 1 - c, n - 2 - c) && nonzero(n - 2 - c, n - 3 - c)) return c;
  return n;
}

void rotate_real_columns(Real h, Idx i, Idx rows, double c, double s) {
  for (Idx j = 0; j < rows; ++j) {
    const double x = h(j, i - 1), y = h(j, i);
    h(j, i - 1) = c * x + s * y;
    h(j, i) = c * y - s * x;
  }
}

// Splits the 2 x 2 blocks with real eigenvalues, sets the complex flag for
// the others and clears everything below the first subdiagonal.
void standardise_real(Real h, double* q, uint8_t* complex_flag) {
  const Idx n = h.n;
  if (complex_flag) *complex_flag = 0;
  Idx i = 1;
  while (i < n) {
    if (std::fabs(h(i, i - 1)) <= kSplitTol * (std::fabs(h(i - 1, i - 1)) + std::fabs(h(i, i)))) {
      h(i, i - 1) = 0.0;
      ++i;
      continue;
    }
    const double a = h(i - 1, i - 1), b = h(i - 1, i), g = h(i, i - 1), d = h(i, i);
    const double p = a - d, disc = p * p + 4.0 * b * g;
    if (disc < 0.0) {
      if (complex_flag) *complex_flag = 1;
    } else if (disc >= 0.0) {
      const double sgn = p < 0.0 ? -1.0 : 1.0;
      const double mu = (sgn * std::sqrt(disc) + p) / 2.0;
      const double r = 1.0 / std::sqrt(mu * mu + g * g);
      const double c = mu * r, s = g * r;
      rotate_real_columns(h, i, i + 1, c, s);
      for (Idx j = i - 1; j < n; ++j) {
        const double u = h(i - 1, j), w = h(i, j);
        h(i - 1, j) = c * u + s * w;
        h(i, j) = c * w - s * u;
      }
      h(i, i - 1) = 0.0;
      if (q) rotate_real_columns(Real{q, n}, i, n, c, s);
    }
    if (i + 1 < n) h(i + 1, i) = 0.0;
    i += 2;
  }
  for (Idx r = 2; r < n; ++r)
    for (Idx j = 0; j + 1 < r; ++j) h(r, j) = 0.0;
}

// Columns i-1 and i of rows 0 .. rows-1: x := c x + cs y, y := conj(c) y - s x.
void rotate_complex_columns(Complex m, Idx i, Idx rows, Cx c, Cx s, Cx cs) {
  for (Idx j = 0; j < rows; ++j) {
    const Cx x = m.get(j, i - 1), y = m.get(j, i);
    m.set(j, i - 1, cx_add(cx_mul(c, x), cx_mul(cs, y)));
    m.set(j, i, cx_sub(cx_mul(cx_conj(c), y), cx_mul(s, x)));
  }
}

// Rows i-1 and i from column first: u := conj(c) u + s w, w := c w - cs u.
void rotate_complex_rows(Complex m, Idx i, Idx first, Cx c, Cx s, Cx cs) {
  for (Idx j = first; j < m.n; ++j) {
    const Cx u = m.get(i - 1, j), w = m.get(i, j);
    m.set(i - 1, j, cx_add(cx_mul(cx_conj(c), u), cx_mul(s, w)));
    m.set(i, j, cx_sub(cx_mul(c, w), cx_mul(cs, u)));
  }
}

// Triangularises the 2 x 2 blocks that the complex iteration left.
void finish_complex(Complex m, double* q_re, double* q_im) {
  const Idx n = m.n;
  Idx i = 1;
  while (i < n) {
    const Cx g = m.get(i, i - 1);
    const Cx a = m.get(i - 1, i - 1), b = m.get(i - 1, i), d = m.get(i, i);
    if (!(cx_abs1(g) > kComplexSplitTol * (cx_abs1(a) + cx_abs1(d)))) {
      ++i;
      continue;
    }
    // mu solves g mu^2 - (a - d) conj(g) mu - b conj(g)^2 = 0, which makes the
    // rotated block upper triangular; the root of larger modulus is taken.
    const double g2 = cx_abs2(g);
    const Cx w = {(g.re * g.re - g.im * g.im) / g2,
                  (g.re == 0.0 || g.im == 0.0) ? 0.0 : -2.0 * g.re * g.im / g2};
    const Cx pw = cx_mul(cx_sub(a, d), w);
    const Cx qq = cx_mul(cx_conj(g), w);
    const Cx disc = cx_add(cx_mul(pw, pw), cx_mul(cx_scale(qq, 4.0), b));
    const Cx rt = cx_sqrt(disc);
    const Cx mu = cx_scale(pw.re >= 0.0 ? cx_add(pw, rt) : cx_sub(pw, rt), 0.5);
    const double r = 1.0 / std::sqrt(cx_abs2(mu) + g2);
    const Cx c = cx_scale(mu, r), s = cx_scale(g, r), cs = cx_conj(s);
    rotate_complex_columns(m, i, n, c, s, cs);
    rotate_complex_rows(m, i, 0, c, s, cs);
    if (q_re) rotate_complex_columns(Complex{q_re, q_im, n}, i, n, c, s, cs);
    m.set(i, i - 1, {0.0, 0.0});
    if (i + 1 < n) m.set(i + 1, i, {0.0, 0.0});
    i += 2;
  }
}

}  // namespace

void la_schur_real_step(double* hp, int32_t n, int32_t l, int32_t c, double shift_perturbation,
                        double* q) {
  const Real h{hp, n};
  const Idx e = Idx{n} - 1 - c;
  if (l < 0 || e - l < 1) return;
  const double p = shift_perturbation;
  const double a = h(e - 1, e - 1), b = h(e - 1, e), g = h(e, e - 1), d = h(e, e);
  const double s = p + d + a, t = d * a - g * b + p;
  const double hll = h(l, l);
  const double x = t + (hll - s) * hll + h(l, l + 1) * h(l + 1, l);
  const double y = (h(l + 1, l + 1) + hll - s) * h(l + 1, l);
  const double z = l + 2 <= e ? h(l + 2, l + 1) * h(l + 1, l) : 0.0;
  for (Idx k = 0; k < e - l; ++k) {
    const Idx r0 = l + k;
    const int32_t len = r0 + 2 > e ? 2 : 3;
    double v[3], beta;
    if (k == 0) {
      const double first[3] = {x, y, z};
      la_house_real(first, len, 1, v, &beta);
    } else {
      la_house_real(hp + r0 * n + (r0 - 1), len, n, v, &beta);
    }
    la_house_apply_left_real(hp, n, n, v, beta, int32_t(r0), int32_t(r0 + len));
    if (k > 0 && p == 0.0)
      for (Idx i = r0 + 1; i < r0 + len; ++i) h(i, r0 - 1) = 0.0;
    la_house_apply_right_real(hp, n, n, v, beta, int32_t(r0), int32_t(r0 + len));
    if (q) la_house_apply_right_real(q, n, n, v, beta, int32_t(r0), int32_t(r0 + len));
  }
}

namespace {

bool schur_real_unscaled(double* hp, int32_t n, double* q, uint8_t* complex_flag, double* work) {
  la_hessenberg_real(hp, n, q, work);
  const Real h{hp, n};
  const Idx nn = n;
  const int64_t budget = int64_t{kSchurBudgetPerOrder} * n;
  for (int64_t it = 0; it < budget; ++it) {
    for (Idx i = 1; i < nn; ++i)
      if (std::fabs(h(i, i - 1)) < kEps * (std::fabs(h(i - 1, i - 1)) + std::fabs(h(i, i))))
        h(i, i - 1) = 0.0;
    const Idx c = converged_rows(nn, [&](Idx i, Idx j) { return h(i, j) != 0.0; });
    if (c == nn) {
      standardise_real(h, q, complex_flag);
      return true;
    }
    const Idx e = nn - 1 - c;
    Idx l = e;
    while (l > 0 && h(l, l - 1) != 0.0) --l;
    const double pert =
        it % kRealPerturbEvery == kRealPerturbEvery - 1 ? double(it) * kShiftPerturbation : 0.0;
    la_schur_real_step(hp, n, int32_t(l), int32_t(c), pert, q);
  }
  return false;
}

}  // namespace

// The iteration squares elements, so a matrix far from 1 in size is reduced
// scaled by a power of two (exact) and its T scaled back; Q does not change.
bool la_schur_real(double* hp, int32_t n, double* q, uint8_t* complex_flag, double* work) {
  if (complex_flag) *complex_flag = 0;
  if (n <= 0) return true;
  const int64_t count = int64_t{n} * n;
  const int scale = range_scale_exponent(range_scale_max(hp, count));
  range_scale_apply(hp, count, scale);
  const bool ok = schur_real_unscaled(hp, n, q, complex_flag, work);
  range_scale_apply(hp, count, -scale);
  return ok;
}

void la_schur_real_to_complex(double* t_re, double* t_im, double* q_re, double* q_im,
                              int32_t n) {
  const Idx nn = n < 0 ? 0 : n;
  std::fill(t_im, t_im + nn * nn, 0.0);
  if (q_re) std::fill(q_im, q_im + nn * nn, 0.0);
  const Real tr{t_re, nn};
  const Complex t{t_re, t_im, nn};
  Idx i = 1;
  while (i < nn) {
    if (std::fabs(tr(i, i - 1)) <=
        kSplitTol * (std::fabs(tr(i - 1, i - 1)) + std::fabs(tr(i, i)))) {
      tr(i, i - 1) = 0.0;
      ++i;
      continue;
    }
    const double a = tr(i - 1, i - 1), b = tr(i - 1, i), g = tr(i, i - 1), d = tr(i, i);
    const double p = a - d, disc = p * p + 4.0 * b * g;
    Cx c{NAN, NAN};
    double s = NAN;
    if (disc < 0.0) {
      const double hp = p / 2.0, hq = std::sqrt(-disc) / 2.0;
      const double r = 1.0 / std::sqrt(hp * hp + hq * hq + g * g);
      c = {hp * r, hq * r};
      s = g * r;
    } else if (disc >= 0.0) {
      const double sgn = p < 0.0 ? -1.0 : 1.0;
      const double mu = (sgn * std::sqrt(disc) + p) / 2.0;
      const double r = 1.0 / std::sqrt(mu * mu + g * g);
      c = {mu * r, 0.0};
      s = g * r;
    }
    if (!std::isnan(s)) {
      const Cx sc{s, 0.0};
      rotate_complex_columns(t, i, i + 1, c, sc, sc);
      rotate_complex_rows(t, i, i - 1, c, sc, sc);
      t.set(i, i - 1, {0.0, 0.0});
      if (q_re) rotate_complex_columns(Complex{q_re, q_im, nn}, i, nn, c, sc, sc);
    }
    if (i + 1 < nn) t.set(i + 1, i, {0.0, 0.0});
    i += 2;
  }
}

void la_schur_complex_step(double* a_re, double* a_im, int32_t n, int32_t l, int32_t c,
                           double shift_perturbation, double* q_re, double* q_im) {
  const Complex m{a_re, a_im, n};
  const Idx e = Idx{n} - 1 - c;
  if (l < 0 || e - l < 1) return;
  const double p = shift_perturbation;
  const Cx a = m.get(e - 1, e - 1), b = m.get(e - 1, e), g = m.get(e, e - 1), d = m.get(e, e);
  Cx s = cx_add(d, a);
  s.re = p + d.re + a.re;
  Cx t = cx_sub(cx_mul(d, a), cx_mul(g, b));
  t.re += p;
  const Cx all = m.get(l, l), sub = m.get(l + 1, l);
  const Cx x = cx_add(cx_add(t, cx_mul(cx_sub(all, s), all)), cx_mul(m.get(l, l + 1), sub));
  const Cx y = cx_mul(cx_sub(cx_add(m.get(l + 1, l + 1), all), s), sub);
  const Cx z = l + 2 <= e ? cx_mul(m.get(l + 2, l + 1), sub) : Cx{0.0, 0.0};
  const bool with_q = q_re && q_im;
  for (Idx k = 0; k < e - l; ++k) {
    const Idx r0 = l + k;
    const int32_t len = r0 + 2 > e ? 2 : 3;
    double vr[3], vi[3], beta;
    if (k == 0) {
      const double fr[3] = {x.re, y.re, z.re}, fi[3] = {x.im, y.im, z.im};
      la_house_complex(fr, fi, len, 1, vr, vi, &beta);
    } else {
      const Idx at = r0 * n + (r0 - 1);
      la_house_complex(a_re + at, a_im + at, len, n, vr, vi, &beta);
    }
    la_house_apply_left_complex(a_re, a_im, n, n, vr, vi, beta, int32_t(r0), int32_t(r0 + len));
    if (k > 0)
      for (Idx i = r0 + 1; i < r0 + len; ++i) m.set(i, r0 - 1, {0.0, 0.0});
    la_house_apply_right_complex(a_re, a_im, n, n, vr, vi, beta, int32_t(r0), int32_t(r0 + len));
    if (with_q)
      la_house_apply_right_complex(q_re, q_im, n, n, vr, vi, beta, int32_t(r0), int32_t(r0 + len));
  }
}

namespace {

bool schur_complex_unscaled(double* a_re, double* a_im, int32_t n, double* q_re, double* q_im,
                            double* work) {
  la_hessenberg_complex(a_re, a_im, n, q_re, q_im, work);
  const Complex m{a_re, a_im, n};
  const Idx nn = n;
  const bool with_q = q_re && q_im;
  const int64_t budget = int64_t{kSchurBudgetPerOrder} * n;
  for (int64_t it = 0; it < budget; ++it) {
    for (Idx i = 1; i < nn; ++i)
      if (cx_abs1(m.get(i, i - 1)) <
          kEps * (cx_abs1(m.get(i - 1, i - 1)) + cx_abs1(m.get(i, i))))
        m.set(i, i - 1, {0.0, 0.0});
    const Idx c = converged_rows(nn, [&](Idx i, Idx j) { return m.nonzero(i, j); });
    if (c == nn) {
      finish_complex(m, with_q ? q_re : nullptr, q_im);
      return true;
    }
    const Idx e = nn - 1 - c;
    Idx l = e;
    while (l > 0 && m.nonzero(l, l - 1)) --l;
    const double pert = it % kComplexPerturbEvery == kComplexPerturbEvery - 1
                            ? double(it) * kShiftPerturbation
                            : 0.0;
    la_schur_complex_step(a_re, a_im, n, int32_t(l), int32_t(c), pert, with_q ? q_re : nullptr,
                          q_im);
  }
  return false;
}

}  // namespace

bool la_schur_complex(double* a_re, double* a_im, int32_t n, double* q_re, double* q_im,
                      double* work) {
  if (n <= 0) return true;
  const int64_t count = int64_t{n} * n;
  const int scale =
      range_scale_exponent(std::fmax(range_scale_max(a_re, count), range_scale_max(a_im, count)));
  range_scale_apply(a_re, count, scale);
  range_scale_apply(a_im, count, scale);
  const bool ok = schur_complex_unscaled(a_re, a_im, n, q_re, q_im, work);
  range_scale_apply(a_re, count, -scale);
  range_scale_apply(a_im, count, -scale);
  return ok;
}
