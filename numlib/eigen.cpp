// Real eigenvalues by elimination to Hessenberg form and the shifted double-
// step QR iteration on the active block only (no vectors are kept), cyclic
// Jacobi for symmetric matrices, and balancing by powers of two. Scaling by
// powers of two is exact, so balancing changes no eigenvalue.
#include "numlib/eigen.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

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

bool numk_hessenberg_eigvals(double* hp, int32_t n, double tol, double* wr, double* wi) {
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

bool numk_eig_real(double* a, int32_t n, int32_t* pivots, double* wr, double* wi) {
  if (n <= 0) return true;
  // The whole matrix, before the elimination: a NaN met where no pivot is
  // taken stays among the multipliers, which the iteration never reads.
  const Idx count = Idx{n} * n;
  if (!std::all_of(a, a + count, [](double x) { return std::isfinite(x); }))
    return no_eigenvalues(wr, wi, n);
  numk_hessenberg_elim(a, n, pivots);
  return numk_hessenberg_eigvals(a, n, kEps, wr, wi);
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
