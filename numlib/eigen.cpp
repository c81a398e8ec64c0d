// Real eigenvalues by elimination to Hessenberg form and the shifted double-
// step QR iteration on the active block only (no vectors are kept), cyclic
// Jacobi for symmetric matrices, and balancing by powers of two; and the wide
// variants for companion matrices (balancing over the whole exponent range,
// deflation tests that weigh neighbours, real and complex iterations). Scaling
// by powers of two is exact, so balancing changes no eigenvalue.
#include "numlib/eigen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

#include "numlib/balance_factor.h"
#include "numlib/complex_arith.h"
#include "numlib/range_scale.h"

namespace {

using Idx = std::ptrdiff_t;

constexpr double kEps = 2.220446049250313e-16;
static_assert(kEps == 0x1p-52, "the tolerance unit is 2^-52");
// Double steps allowed per order, over all eigenvalues together.
constexpr int64_t kHqrBudgetPerOrder = 30;
// Iterations of one eigenvalue after which an exceptional shift is taken.
constexpr int32_t kExceptionalShiftAt1 = 10;
constexpr int32_t kExceptionalShiftAt2 = 20;
constexpr int32_t kJacobiSweeps = 50;
constexpr int32_t kJacobiThresholdSweeps = 4;  // sweeps 0 .. 3 skip small elements
constexpr int32_t kJacobiSkipFromSweep = 5;    // from here negligible ones are zeroed
constexpr double kBalanceSmall = 0x1p-49;
constexpr double kBalanceBig = 0x1p49;
static_assert(kBalanceSmall == 1.7763568394002505e-15 && kBalanceBig == 562949953421312.0, "");

// Below this a subdiagonal is dropped outright by the wide iteration: the
// smallest normal number times n / eps, for n up to 2^16.
constexpr double kWideSmall = 0x1p-1022 * 0x1p16 / kEps;

struct Real {
  double* a;
  Idx n;
  double& operator()(Idx i, Idx j) const { return a[i * n + j]; }
};

double sign_of(double magnitude, double p) { return p >= 0.0 ? magnitude : -magnitude; }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// What a matrix holding NaN or Inf gets: no eigenvalue (NaN in both parts)
// and the result of a spent budget.
bool no_eigenvalues(double* wr, double* wi, Idx n) {
  std::fill(wr, wr + n, kNaN);
  std::fill(wi, wi + n, kNaN);
  return false;
}

}  // namespace

void numk_hessenberg_elim(double* ap, int32_t n, int32_t* pivots) {
  const Real a{ap, n};
  const Idx nn = n;
  for (Idx m = 1; m + 1 < nn; ++m) {
    double x = 0.0;
    Idx piv = m;
    for (Idx j = m; j < nn; ++j) {
      if (std::fabs(a(j, m - 1)) > std::fabs(x)) {
        x = a(j, m - 1);
        piv = j;
      }
    }
    pivots[m] = int32_t(piv);
    if (piv != m) {
      for (Idx j = m - 1; j < nn; ++j) std::swap(a(piv, j), a(m, j));
      for (Idx j = 0; j < nn; ++j) std::swap(a(j, piv), a(j, m));
    }
    if (x != 0.0) {
      for (Idx i = m + 1; i < nn; ++i) {
        double y = a(i, m - 1);
        if (y == 0.0) continue;
        y /= x;
        a(i, m - 1) = y;
        for (Idx j = m; j < nn; ++j) a(i, j) -= y * a(m, j);
        for (Idx j = 0; j < nn; ++j) a(j, m) += y * a(j, i);
      }
    }
  }
}

namespace {

// The deflation tests of the wide iteration. A subdiagonal h(k, k-1) is
// dropped when it is negligible beside its diagonal neighbours (beside the
// neighbouring subdiagonals where both are zero, as in a companion matrix,
// never beside the whole matrix's norm) and when, moreover, dropping it moves
// the eigenvalues of the 2 x 2 block around it by no more than rounding does:
// a subdiagonal 1 beside a diagonal of 1e300 is not negligible when the other
// eigenvalue of the block is -1.
bool negligible_wide(Real h, Idx k, Idx nn) {
  const double sub = std::fabs(h(k, k - 1));
  if (sub <= kWideSmall) return true;
  double tst = std::fabs(h(k - 1, k - 1)) + std::fabs(h(k, k));
  if (tst == 0.0) {
    if (k >= 2) tst += std::fabs(h(k - 1, k - 2));
    if (k + 1 <= nn) tst += std::fabs(h(k + 1, k));
  }
  if (!(sub <= kEps * tst)) return false;
  const double sup = std::fabs(h(k - 1, k));
  const double ab = std::max(sub, sup), ba = std::min(sub, sup);
  const double dd = std::fabs(h(k - 1, k - 1) - h(k, k)), hk = std::fabs(h(k, k));
  const double aa = std::max(hk, dd), bb = std::min(hk, dd);
  const double s = aa + ab;
  return ba * (ab / s) <= std::max(kWideSmall, kEps * (bb * (aa / s)));
}

// The eigenvalues of the trailing 2 x 2 block [[y, b], [c, x]] (plus the
// shift t) without forming b c or p squared, which overflow long before the
// eigenvalues do.
void block_eigvals_scaled(double y, double b, double c, double x, double t, double* wr,
                          double* wi) {
  const double p = (y - x) / 2.0;
  const double bcmax = std::max(std::fabs(b), std::fabs(c));
  const double bcmis = std::min(std::fabs(b), std::fabs(c)) * (b < 0.0 ? -1.0 : 1.0) *
                       (c < 0.0 ? -1.0 : 1.0);
  const double scale = std::max(std::fabs(p), bcmax);
  const double z = scale == 0.0 ? 0.0 : (p / scale) * p + (bcmax / scale) * bcmis;
  if (z >= 0.0) {
    const double r = p + sign_of(std::sqrt(scale) * std::sqrt(z), p);
    wr[0] = x + r + t;
    wr[1] = r == 0.0 ? x + t : x - (bcmax / r) * bcmis + t;
    wi[0] = wi[1] = 0.0;
  } else {
    wr[0] = wr[1] = x + p + t;
    wi[0] = std::sqrt(scale) * std::sqrt(-z);
    wi[1] = -wi[0];
  }
}

// The shifted double-step QR iteration shared by both entries; `wide`
// chooses the deflation tests and the 2 x 2 solution above.
bool hessenberg_qr(double* hp, int32_t n, double tol, bool wide, double* wr, double* wi) {
  const Real h{hp, n};
  const Idx N = n;
  if (N <= 0) return true;
  double anorm = 0.0;
  for (Idx i = 0; i < N; ++i)
    for (Idx j = std::max<Idx>(i - 1, 0); j < N; ++j) anorm += std::fabs(h(i, j));
  if (anorm == 0.0) {
    std::fill(wr, wr + N, 0.0);
    std::fill(wi, wi + N, 0.0);
    return true;
  }
  // A NaN or Inf element leaves no eigenvalue to find: the deflation tests
  // compare false on NaN, and the old shortcut of a NaN norm gave zeros that
  // looked like an answer. Every eigenvalue is NaN, as when the budget runs out.
  if (!std::isfinite(anorm)) return no_eigenvalues(wr, wi, N);
  int64_t budget = kHqrBudgetPerOrder * N;
  double t = 0.0;  // shifts already subtracted from the diagonal
  Idx nn = N - 1;
  while (nn >= 0) {
    int32_t its = 0;
    for (;;) {
      Idx l = nn;
      for (; l >= 1; --l) {
        if (wide) {
          if (negligible_wide(h, l, nn)) break;
          continue;
        }
        double s = std::fabs(h(l - 1, l - 1)) + std::fabs(h(l, l));
        if (s == 0.0) s = anorm / (double(nn + 1) * double(nn + 1) / 2.0);
        if (std::fabs(h(l, l - 1)) <= tol * s) break;
      }
      double x = h(nn, nn);
      if (l == nn) {
        wr[nn] = x + t;
        wi[nn] = 0.0;
        --nn;
        break;
      }
      double y = h(nn - 1, nn - 1), w = h(nn, nn - 1) * h(nn - 1, nn);
      if (l == nn - 1 && wide) {
        block_eigvals_scaled(y, h(nn - 1, nn), h(nn, nn - 1), x, t, wr + nn - 1, wi + nn - 1);
        nn -= 2;
        break;
      }
      if (l == nn - 1) {
        const double p = (y - x) / 2.0, q = p * p + w;
        double z = std::sqrt(std::fabs(q));
        x += t;
        if (q > 0.0) {
          z = p + sign_of(z, p);
          wr[nn - 1] = x + z;
          wr[nn] = x - w / z;
          wi[nn - 1] = wi[nn] = 0.0;
        } else {
          wr[nn - 1] = wr[nn] = x + p;
          wi[nn - 1] = z;
          wi[nn] = -z;
        }
        nn -= 2;
        break;
      }
      if (budget == 0) {
        // Leave nothing undefined: the eigenvalues not reached are NaN.
        std::fill(wr, wr + nn + 1, std::numeric_limits<double>::quiet_NaN());
        std::fill(wi, wi + nn + 1, std::numeric_limits<double>::quiet_NaN());
        return false;
      }
      --budget;
      if (its == kExceptionalShiftAt1 || its == kExceptionalShiftAt2) {
        t += x;
        for (Idx i = 0; i <= nn; ++i) h(i, i) -= x;
        const double s = std::fabs(h(nn, nn - 1)) + std::fabs(h(nn - 1, nn - 2));
        x = y = 0.75 * s;
        w = -0.4375 * s * s;
      }
      ++its;

      // Two consecutive small subdiagonals let the step start above l.
      Idx m = nn - 2;
      double p = 0.0, q = 0.0, r = 0.0, z = 0.0;
      for (; m >= l; --m) {
        z = h(m, m);
        r = x - z;
        double s = y - z;
        p = (r * s - w) / h(m + 1, m) + h(m, m + 1);
        q = h(m + 1, m + 1) - z - r - s;
        r = h(m + 2, m + 1);
        s = std::fabs(p) + std::fabs(q) + std::fabs(r);
        p /= s;
        q /= s;
        r /= s;
        if (m == l) break;
        const double u = std::fabs(h(m, m - 1)) * (std::fabs(q) + std::fabs(r));
        const double v =
            std::fabs(p) * (std::fabs(h(m - 1, m - 1)) + std::fabs(z) + std::fabs(h(m + 1, m + 1)));
        if (u <= tol * v) break;
      }
      for (Idx i = m + 2; i <= nn; ++i) {
        h(i, i - 2) = 0.0;
        if (i != m + 2) h(i, i - 3) = 0.0;
      }
      for (Idx k = m; k <= nn - 1; ++k) {
        const bool last = k == nn - 1;
        if (k != m) {
          p = h(k, k - 1);
          q = h(k + 1, k - 1);
          r = last ? 0.0 : h(k + 2, k - 1);
          x = std::fabs(p) + std::fabs(q) + std::fabs(r);
          if (x == 0.0) continue;
          p /= x;
          q /= x;
          r /= x;
        }
        const double s = sign_of(std::sqrt(p * p + q * q + r * r), p);
        if (k != m)
          h(k, k - 1) = -s * x;
        else if (l != m)
          h(k, k - 1) = -h(k, k - 1);
        p += s;
        x = p / s;
        y = q / s;
        z = r / s;
        q /= p;
        r /= p;
        for (Idx j = k; j <= nn; ++j) {
          p = h(k, j) + q * h(k + 1, j);
          if (!last) {
            p += r * h(k + 2, j);
            h(k + 2, j) -= p * z;
          }
          h(k + 1, j) -= p * y;
          h(k, j) -= p * x;
        }
        const Idx imax = std::min(nn, k + 3);
        for (Idx i = l; i <= imax; ++i) {
          p = x * h(i, k) + y * h(i, k + 1);
          if (!last) {
            p += z * h(i, k + 2);
            h(i, k + 2) -= p * r;
          }
          h(i, k + 1) -= p * q;
          h(i, k) -= p;
        }
      }
    }
  }
  return true;
}

}  // namespace

bool numk_hessenberg_eigvals(double* hp, int32_t n, double tol, double* wr, double* wi) {
  return hessenberg_qr(hp, n, tol, false, wr, wi);
}

bool numk_hessenberg_eigvals_wide(double* hp, int32_t n, double* wr, double* wi) {
  return hessenberg_qr(hp, n, kEps, true, wr, wi);
}

bool numk_eig_real(double* a, int32_t n, int32_t* pivots, double* wr, double* wi) {
  if (n <= 0) return true;
  // The whole matrix, before the elimination: a NaN met where no pivot is
  // taken stays among the multipliers, which the iteration never reads.
  const Idx count = Idx{n} * n;
  if (!std::all_of(a, a + count, [](double x) { return std::isfinite(x); }))
    return no_eigenvalues(wr, wi, n);
  // The iteration squares elements: a matrix far from 1 in size overflows
  // (no convergence) or underflows (wrong values) unless it is scaled first.
  const int scale = range_scale_exponent(range_scale_max(a, count));
  range_scale_apply(a, count, scale);
  numk_hessenberg_elim(a, n, pivots);
  const bool ok = numk_hessenberg_eigvals(a, n, kEps, wr, wi);
  range_scale_apply(wr, n, -scale);
  range_scale_apply(wi, n, -scale);
  return ok;
}

void numk_eig_symmetric(double* ap, int32_t n, double* d, double* vp, double* work) {
  const Idx nn = n < 0 ? 0 : n;
  const Real a{ap, nn}, v{vp, nn};
  double* b = work;
  double* z = work + nn;
  if (vp) {
    std::fill(vp, vp + nn * nn, 0.0);
    for (Idx i = 0; i < nn; ++i) v(i, i) = 1.0;
  }
  for (Idx i = 0; i < nn; ++i) {
    b[i] = d[i] = a(i, i);
    z[i] = 0.0;
  }
  // A NaN off the diagonal never passes the rotation threshold, so the sweeps
  // would leave the diagonal as if it were the answer: NaN values and vectors.
  bool finite = true;
  for (Idx p = 0; p < nn && finite; ++p)
    for (Idx q = p; q < nn && finite; ++q) finite = std::isfinite(a(p, q));
  if (!finite) {
    std::fill(d, d + nn, kNaN);
    if (vp) std::fill(vp, vp + nn * nn, kNaN);
    return;
  }
  if (nn < 2) return;
  for (int32_t sweep = 0; sweep < kJacobiSweeps; ++sweep) {
    double sm = 0.0;
    for (Idx p = 0; p + 1 < nn; ++p)
      for (Idx q = p + 1; q < nn; ++q) sm += std::fabs(a(p, q));
    if (sm == 0.0) return;
    const double tresh = sweep < kJacobiThresholdSweeps ? 0.2 * sm / double(nn * nn) : 0.0;
    for (Idx p = 0; p + 1 < nn; ++p) {
      for (Idx q = p + 1; q < nn; ++q) {
        const double g = 100.0 * std::fabs(a(p, q));
        if (sweep >= kJacobiSkipFromSweep && std::fabs(d[p]) + g == std::fabs(d[p]) &&
            std::fabs(d[q]) + g == std::fabs(d[q])) {
          a(p, q) = 0.0;
          continue;
        }
        if (!(std::fabs(a(p, q)) > tresh)) continue;
        double h = d[q] - d[p];
        double t;
        if (std::fabs(h) + g == std::fabs(h)) {
          t = a(p, q) / h;
        } else {
          const double theta = h / (2.0 * a(p, q));
          t = 1.0 / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
          if (theta < 0.0) t = -t;
        }
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c, tau = s / (1.0 + c);
        h = t * a(p, q);
        z[p] -= h;
        z[q] += h;
        d[p] -= h;
        d[q] += h;
        a(p, q) = 0.0;
        auto rotate = [s, tau](double& gg, double& hh) {
          const double g0 = gg, h0 = hh;
          gg = g0 - s * (h0 + g0 * tau);
          hh = h0 + s * (g0 - h0 * tau);
        };
        for (Idx j = 0; j < p; ++j) rotate(a(j, p), a(j, q));
        for (Idx j = p + 1; j < q; ++j) rotate(a(p, j), a(j, q));
        for (Idx j = q + 1; j < nn; ++j) rotate(a(p, j), a(q, j));
        if (vp)
          for (Idx j = 0; j < nn; ++j) rotate(v(j, p), v(j, q));
      }
    }
    for (Idx i = 0; i < nn; ++i) {
      b[i] += z[i];
      d[i] = b[i];
      z[i] = 0.0;
    }
  }
}

void numk_balance(double* a_re, double* a_im, int32_t n, double* d) {
  const Idx nn = n < 0 ? 0 : n;
  const Real re{a_re, nn}, im{a_im, nn};
  for (Idx i = 0; i < nn; ++i) d[i] = 1.0;
  // Every change lowers the sum of the off-diagonal magnitudes, so the sweeps
  // end.
  bool changed = true;
  while (changed) {
    changed = false;
    for (Idx i = 0; i < nn; ++i) {
      double c = 0.0, r = 0.0, cmax = 0.0, rmax = 0.0;
      for (Idx k = 0; k < nn; ++k) {
        const double ac = std::fabs(re(k, i)), ar = std::fabs(re(i, k));
        c += ac;
        r += ar;
        cmax = std::max(cmax, ac);
        rmax = std::max(rmax, ar);
        if (a_im) {
          const double bc = std::fabs(im(k, i)), br = std::fabs(im(i, k));
          c += bc;
          r += br;
          cmax = std::max(cmax, bc);
          rmax = std::max(rmax, br);
        }
      }
      if (c == 0.0 || r == 0.0) continue;
      double f = 1.0;
      if (c >= r) {
        while (2.0 * r < c && f > kBalanceSmall && cmax > kBalanceSmall && r < kBalanceBig) {
          f /= 2.0;
          c /= 2.0;
          cmax /= 2.0;
          r *= 2.0;
        }
      } else {
        while (2.0 * c < r && f < kBalanceBig && c < kBalanceBig && rmax > kBalanceSmall) {
          f *= 2.0;
          c *= 2.0;
          r /= 2.0;
          rmax /= 2.0;
        }
      }
      const double g = f * d[i];
      if (f == 1.0 || !(g > kBalanceSmall) || g >= kBalanceBig) continue;
      d[i] = g;
      const double inv = 1.0 / f;
      for (Idx k = 0; k < nn; ++k) {
        re(k, i) *= f;
        if (a_im) im(k, i) *= f;
      }
      for (Idx k = 0; k < nn; ++k) {
        re(i, k) *= inv;
        if (a_im) im(i, k) *= inv;
      }
      changed = true;
    }
  }
}

namespace {

// The 2-norm of n complex values at stride (im null for real ones) and their
// largest magnitude, scaled so that neither overflows nor underflows.
void scaled_norm(const double* re, const double* im, Idx n, Idx stride, double* norm, double* big) {
  double m = 0.0;
  for (Idx k = 0; k < n; ++k) {
    m = std::max(m, std::fabs(re[k * stride]));
    if (im) m = std::max(m, std::fabs(im[k * stride]));
  }
  *big = m;
  if (m == 0.0 || !std::isfinite(m)) {
    *norm = m;
    return;
  }
  double sum = 0.0;
  for (Idx k = 0; k < n; ++k) {
    const double r = re[k * stride] / m, i = im ? im[k * stride] / m : 0.0;
    sum += r * r + i * i;
  }
  *norm = m * std::sqrt(sum);
}

}  // namespace

void numk_balance_wide(double* a_re, double* a_im, int32_t n, double* d) {
  const Idx nn = n < 0 ? 0 : n;
  const Real re{a_re, nn}, im{a_im, nn};
  for (Idx i = 0; i < nn; ++i) d[i] = 1.0;
  // Every change lowers c + r of its index by at least a twentieth, so the
  // sweeps end.
  bool changed = true;
  while (changed) {
    changed = false;
    for (Idx i = 0; i < nn; ++i) {
      double c, ca, r, ra;
      scaled_norm(a_re + i, a_im ? a_im + i : nullptr, nn, nn, &c, &ca);
      scaled_norm(a_re + i * nn, a_im ? a_im + i * nn : nullptr, nn, 1, &r, &ra);
      if (c == 0.0 || r == 0.0 || !std::isfinite(c + r)) continue;
      const double f = numk_detail::balance_factor(c, ca, r, ra, d[i]);
      if (f == 1.0) continue;
      d[i] *= f;
      const double inv = 1.0 / f;
      for (Idx k = 0; k < nn; ++k) {
        re(i, k) *= inv;
        re(k, i) *= f;
        if (a_im) {
          im(i, k) *= inv;
          im(k, i) *= f;
        }
      }
      changed = true;
    }
  }
}

namespace {

using Complex = CxMatrix;

// The wide deflation test of negligible_wide, on complex elements.
bool negligible_wide_complex(Complex h, Idx k, Idx hi) {
  const double sub = cx_abs1(h.get(k, k - 1));
  if (sub <= kWideSmall) return true;
  double tst = cx_abs1(h.get(k - 1, k - 1)) + cx_abs1(h.get(k, k));
  if (tst == 0.0) {
    if (k >= 2) tst += cx_abs1(h.get(k - 1, k - 2));
    if (k + 1 <= hi) tst += cx_abs1(h.get(k + 1, k));
  }
  if (!(sub <= kEps * tst)) return false;
  const double sup = cx_abs1(h.get(k - 1, k));
  const double ab = std::max(sub, sup), ba = std::min(sub, sup);
  const double dd = cx_abs1(cx_sub(h.get(k - 1, k - 1), h.get(k, k))), hk = cx_abs1(h.get(k, k));
  const double aa = std::max(hk, dd), bb = std::min(hk, dd);
  const double s = aa + ab;
  return ba * (ab / s) <= std::max(kWideSmall, kEps * (bb * (aa / s)));
}

// The shift for the active block l .. i: the eigenvalue of its trailing 2 x 2
// block nearer to h(i, i), or an exceptional one after 10 and 20 steps
// without a deflation.
Cx wilkinson_shift(Complex h, Idx l, Idx i, int32_t its) {
  if (its == kExceptionalShiftAt1)
    return cx_add(h.get(l, l), {0.75 * cx_abs1(h.get(l + 1, l)), 0.0});
  if (its == kExceptionalShiftAt2)
    return cx_add(h.get(i, i), {0.75 * cx_abs1(h.get(i, i - 1)), 0.0});
  Cx t = h.get(i, i);
  const Cx u = cx_mul(cx_sqrt(h.get(i - 1, i)), cx_sqrt(h.get(i, i - 1)));
  double s = cx_abs1(u);
  if (s == 0.0) return t;
  const Cx x = cx_scale(cx_sub(h.get(i - 1, i - 1), t), 0.5);
  const double sx = cx_abs1(x);
  s = std::max(s, sx);
  const Cx xs = cx_scale(x, 1.0 / s), us = cx_scale(u, 1.0 / s);
  Cx y = cx_scale(cx_sqrt(cx_add(cx_mul(xs, xs), cx_mul(us, us))), s);
  if (sx > 0.0) {
    const Cx xn = cx_scale(x, 1.0 / sx);
    if (xn.re * y.re + xn.im * y.im < 0.0) y = {-y.re, -y.im};
  }
  return cx_sub(t, cx_mul(u, cx_div(u, cx_add(x, y))));
}

// (c, s) with [c s; -conj(s) c] (a, b) = (r, 0), c real.
void complex_rotation(Cx a, Cx b, double* c, Cx* s) {
  const double scale = cx_abs1(a) + cx_abs1(b);
  if (cx_abs1(b) == 0.0) {
    *c = 1.0;
    *s = {0.0, 0.0};
    return;
  }
  const Cx as = cx_scale(a, 1.0 / scale), bs = cx_scale(b, 1.0 / scale);
  const double na = std::sqrt(cx_abs2(as)), r = std::sqrt(cx_abs2(as) + cx_abs2(bs));
  if (na == 0.0) {
    *c = 0.0;
    *s = cx_scale(cx_conj(bs), 1.0 / r);
    return;
  }
  *c = na / r;
  *s = cx_scale(cx_mul(cx_scale(as, 1.0 / na), cx_conj(bs)), 1.0 / r);
}

}  // namespace

bool numk_hessenberg_eigvals_complex_wide(double* h_re, double* h_im, int32_t n, double* wr,
                                          double* wi) {
  const Complex h{h_re, h_im, n};
  const Idx N = n;
  if (N <= 0) return true;
  for (Idx k = 0; k < N * N; ++k)
    if (!std::isfinite(h_re[k]) || !std::isfinite(h_im[k])) return no_eigenvalues(wr, wi, N);
  int64_t budget = kHqrBudgetPerOrder * N;
  Idx i = N - 1;
  int32_t its = 0;
  while (i >= 0) {
    Idx l = i;
    for (; l >= 1; --l)
      if (negligible_wide_complex(h, l, i)) break;
    if (l >= 1) h.set(l, l - 1, {0.0, 0.0});
    if (l == i) {
      wr[i] = h_re[i * N + i];
      wi[i] = h_im[i * N + i];
      --i;
      its = 0;
      continue;
    }
    if (budget == 0) {
      std::fill(wr, wr + i + 1, kNaN);
      std::fill(wi, wi + i + 1, kNaN);
      return false;
    }
    --budget;
    const Cx t = wilkinson_shift(h, l, i, its);
    ++its;
    // One implicit single-shift QR step on rows and columns l .. i (only
    // the eigenvalues are wanted, so nothing outside the block is kept up).
    Cx a = cx_sub(h.get(l, l), t), b = h.get(l + 1, l);
    for (Idx k = l; k < i; ++k) {
      if (k > l) {
        a = h.get(k, k - 1);
        b = h.get(k + 1, k - 1);
      }
      double c;
      Cx s;
      complex_rotation(a, b, &c, &s);
      for (Idx j = k > l ? k - 1 : k; j <= i; ++j) {
        const Cx x = h.get(k, j), y = h.get(k + 1, j);
        h.set(k, j, cx_add(cx_scale(x, c), cx_mul(s, y)));
        h.set(k + 1, j, cx_sub(cx_scale(y, c), cx_mul(cx_conj(s), x)));
      }
      if (k > l) h.set(k + 1, k - 1, {0.0, 0.0});
      const Idx last = std::min(k + 2, i);
      for (Idx j = l; j <= last; ++j) {
        const Cx x = h.get(j, k), y = h.get(j, k + 1);
        h.set(j, k, cx_add(cx_scale(x, c), cx_mul(y, cx_conj(s))));
        h.set(j, k + 1, cx_sub(cx_scale(y, c), cx_mul(x, s)));
      }
    }
  }
  return true;
}
