// Dense LU, the left and right linear solvers and determinants. Every loop
// keeps the documented order of operations: callers (and tests) rely on the
// exact bits, and the pivot choice is part of the contract (first strictly
// larger magnitude; NaN never wins because every comparison with it is false).
#include "numlib/dense_lu.h"

#include <cmath>
#include <cstddef>
#include <initializer_list>

#include "engine/core/complex_scalar.h"

namespace {

using Idx = std::ptrdiff_t;

inline double sq_mod(double re, double im) { return re * re + im * im; }

// Complex pivots are compared by squared modulus, which overflows past 1e154
// and underflows below 1e-162, where every candidate would tie. The
// candidates are first scaled by the power of two that brings the largest
// part to [1, 2): exact, so the order of the squares is the one they would
// have in unbounded range, and ties fall as before.
inline double pivot_scale(double top) {
  if (!(top > 0) || std::isinf(top)) return 1.0;  // zeros, NaNs and infinities as they are
  constexpr int kMaxShift = 1022;                  // 2^+-1022 are normal
  const int e = std::ilogb(top);
  return std::scalbn(1.0, e > kMaxShift ? -kMaxShift : e < -kMaxShift ? kMaxShift : -e);
}
inline double scaled_sq_mod(double re, double im, double s) { return sq_mod(re * s, im * s); }
inline double larger_part(double top, double re, double im) {
  const double m = std::fabs(re) > std::fabs(im) ? std::fabs(re) : std::fabs(im);
  return m > top ? m : top;  // a NaN part is passed over
}
// A pivot with no usable reciprocal: zero, or NaN in a part.
inline bool dead_pivot_c(double pr, double pi) {
  return (pr == 0.0 && pi == 0.0) || std::isnan(pr) || std::isnan(pi);
}

// Multiplier tests of the solvers: a row is skipped only for an exact zero; a
// NaN multiplier is applied so that it propagates.
inline bool exact_zero(double f) { return f == 0.0; }
inline bool exact_zero_c(double fr, double fi) { return fr == 0.0 && fi == 0.0; }

// x[j * step] -= f * y[j * step] for count complex values held as split
// parts: the one elimination step of every complex routine here.
inline void sub_scaled_c(double* xr, double* xi, const double* yr, const double* yi, Idx count, Idx step,
                         double fr, double fi) {
  for (Idx j = 0; j < count; ++j) {
    const double ur = yr[j * step], ui = yi[j * step];
    xr[j * step] = xr[j * step] - (fr * ur - fi * ui);
    xi[j * step] = xi[j * step] - (fr * ui + fi * ur);
  }
}

void init_perm(uint32_t* perm, Idx n) {
  for (Idx i = 0; i < n; ++i) perm[i] = static_cast<uint32_t>(i);
}

// Position in perm[k..n-1] whose row has the largest |a[row][col]|; starts
// from -1 so that a column of NaNs keeps position k.
Idx pivot_rows_real(const double* a, Idx n, Idx cols, Idx col, const uint32_t* perm, Idx k) {
  Idx q = k;
  double best = -1.0;
  for (Idx i = k; i < n; ++i) {
    double v = std::fabs(a[Idx(perm[i]) * cols + col]);
    if (v > best) {
      best = v;
      q = i;
    }
  }
  return q;
}

Idx pivot_rows_complex(const double* re, const double* im, Idx n, Idx cols, Idx col,
                       const uint32_t* perm, Idx k) {
  double top = 0.0;
  for (Idx i = k; i < n; ++i) {
    const Idx at = Idx(perm[i]) * cols + col;
    top = larger_part(top, re[at], im[at]);
  }
  const double scale = pivot_scale(top);
  Idx q = k;
  double best = -1.0;
  for (Idx i = k; i < n; ++i) {
    Idx at = Idx(perm[i]) * cols + col;
    double v = scaled_sq_mod(re[at], im[at], scale);
    if (v > best) {
      best = v;
      q = i;
    }
  }
  return q;
}

inline void swap_perm(uint32_t* perm, Idx a, Idx b) {
  uint32_t t = perm[a];
  perm[a] = perm[b];
  perm[b] = t;
}

}  // namespace

void lu_factor_real(double* a, int32_t m32, int32_t n32, uint32_t* perm) {
  const Idx m = m32, n = n32;
  init_perm(perm, m);
  if (m <= 1) return;
  for (Idx k = 0; k < m - 1 && k < n; ++k) {
    Idx p = k;
    double best = std::fabs(a[k * n + k]);  // a NaN here keeps row k
    for (Idx i = k + 1; i < m; ++i) {
      double v = std::fabs(a[i * n + k]);
      if (v > best) {
        best = v;
        p = i;
      }
    }
    swap_perm(perm, k, p);
    if (p != k) {
      for (Idx j = 0; j < n; ++j) {
        double t = a[k * n + j];
        a[k * n + j] = a[p * n + j];
        a[p * n + j] = t;
      }
    }
    const double piv = a[k * n + k];
    if (piv == 0.0 || std::isnan(piv)) continue;
    for (Idx i = k + 1; i < m; ++i) {
      double f = a[i * n + k] / piv;
      a[i * n + k] = f;
      for (Idx j = k + 1; j < n; ++j) a[i * n + j] = a[i * n + j] - f * a[k * n + j];
    }
  }
}

void lu_factor_complex(double* re, double* im, int32_t m32, int32_t n32, uint32_t* perm) {
  const Idx m = m32, n = n32;
  init_perm(perm, m);
  if (m <= 1) return;
  for (Idx k = 0; k < m - 1 && k < n; ++k) {
    double top = 0.0;
    for (Idx i = k; i < m; ++i) top = larger_part(top, re[i * n + k], im[i * n + k]);
    const double scale = pivot_scale(top);
    Idx p = k;
    double best = scaled_sq_mod(re[k * n + k], im[k * n + k], scale);
    for (Idx i = k + 1; i < m; ++i) {
      double v = scaled_sq_mod(re[i * n + k], im[i * n + k], scale);
      if (v > best) {
        best = v;
        p = i;
      }
    }
    swap_perm(perm, k, p);
    if (p != k) {
      for (Idx j = 0; j < n; ++j) {
        double t = re[k * n + j];
        re[k * n + j] = re[p * n + j];
        re[p * n + j] = t;
        t = im[k * n + j];
        im[k * n + j] = im[p * n + j];
        im[p * n + j] = t;
      }
    }
    const double pr = re[k * n + k], pi = im[k * n + k];
    if (dead_pivot_c(pr, pi)) continue;
    for (Idx i = k + 1; i < m; ++i) {
      double fr, fi;
      cplx::smith_divide(re[i * n + k], im[i * n + k], pr, pi, fr, fi);
      re[i * n + k] = fr;
      im[i * n + k] = fi;
      sub_scaled_c(re + i * n + k + 1, im + i * n + k + 1, re + k * n + k + 1, im + k * n + k + 1, n - k - 1, 1, fr,
                   fi);
    }
  }
}

void linsolve_left_real(double* a, double* b, int32_t n32, int32_t p32, uint32_t* perm,
                        uint8_t b_complex) {
  const Idx n = n32, p = p32;
  if (n <= 0) return;
  double* bi = b_complex ? b + n * p : nullptr;
  init_perm(perm, n);
  for (Idx k = 0; k < n; ++k) {
    Idx q = pivot_rows_real(a, n, n, k, perm, k);
    swap_perm(perm, q, k);
    const Idx r = perm[k];
    const double t = 1.0 / a[r * n + k];
    for (Idx j = k + 1; j < n; ++j) a[r * n + j] = t * a[r * n + j];
    for (Idx j = 0; j < p; ++j) b[r * p + j] = t * b[r * p + j];
    if (bi)
      for (Idx j = 0; j < p; ++j) bi[r * p + j] = t * bi[r * p + j];
    for (Idx i = k + 1; i < n; ++i) {
      const Idx s = perm[i];
      const double f = a[s * n + k];
      if (exact_zero(f)) continue;
      for (Idx j = k + 1; j < n; ++j) a[s * n + j] = a[s * n + j] - f * a[r * n + j];
      for (Idx j = 0; j < p; ++j) b[s * p + j] = b[s * p + j] - f * b[r * p + j];
      if (bi)
        for (Idx j = 0; j < p; ++j) bi[s * p + j] = bi[s * p + j] - f * bi[r * p + j];
    }
  }
  for (Idx k = n - 1; k >= 1; --k) {
    const Idx r = perm[k];
    for (Idx i = 0; i < k; ++i) {
      const Idx s = perm[i];
      const double f = a[s * n + k];
      if (exact_zero(f)) continue;
      for (Idx j = 0; j < p; ++j) b[s * p + j] = b[s * p + j] - f * b[r * p + j];
      if (bi)
        for (Idx j = 0; j < p; ++j) bi[s * p + j] = bi[s * p + j] - f * bi[r * p + j];
    }
  }
  // Row i of the solution sits in row perm[i]; the dead matrix is the buffer.
  for (double* blk : {b, bi}) {
    if (!blk) continue;
    for (Idx j = 0; j < p; ++j) {
      for (Idx i = 0; i < n; ++i) a[i] = blk[Idx(perm[i]) * p + j];
      for (Idx i = 0; i < n; ++i) blk[i * p + j] = a[i];
    }
  }
}

void linsolve_left_complex(double* a, double* b, int32_t n32, int32_t p32, uint32_t* perm) {
  const Idx n = n32, p = p32;
  if (n <= 0) return;
  double* ar = a;
  double* ai = a + n * n;
  double* br = b;
  double* bi = b + n * p;
  init_perm(perm, n);
  for (Idx k = 0; k < n; ++k) {
    Idx q = pivot_rows_complex(ar, ai, n, n, k, perm, k);
    swap_perm(perm, q, k);
    const Idx r = perm[k];
    double tr, ti;
    cplx::reciprocal(ar[r * n + k], ai[r * n + k], tr, ti);
    for (Idx j = k + 1; j < n; ++j) {
      const double xr = ar[r * n + j], xi = ai[r * n + j];
      ar[r * n + j] = xr * tr - xi * ti;
      ai[r * n + j] = xr * ti + xi * tr;
    }
    for (Idx j = 0; j < p; ++j) {
      const double xr = br[r * p + j], xi = bi[r * p + j];
      br[r * p + j] = xr * tr - xi * ti;
      bi[r * p + j] = xr * ti + xi * tr;
    }
    for (Idx i = k + 1; i < n; ++i) {
      const Idx s = perm[i];
      const double fr = ar[s * n + k], fi = ai[s * n + k];
      if (exact_zero_c(fr, fi)) continue;
      sub_scaled_c(ar + s * n + k + 1, ai + s * n + k + 1, ar + r * n + k + 1, ai + r * n + k + 1, n - k - 1, 1, fr,
                   fi);
      sub_scaled_c(br + s * p, bi + s * p, br + r * p, bi + r * p, p, 1, fr, fi);
    }
  }
  for (Idx k = n - 1; k >= 1; --k) {
    const Idx r = perm[k];
    for (Idx i = 0; i < k; ++i) {
      const Idx s = perm[i];
      const double fr = ar[s * n + k], fi = ai[s * n + k];
      if (exact_zero_c(fr, fi)) continue;
      sub_scaled_c(br + s * p, bi + s * p, br + r * p, bi + r * p, p, 1, fr, fi);
    }
  }
  for (double* blk : {br, bi}) {
    for (Idx j = 0; j < p; ++j) {
      for (Idx i = 0; i < n; ++i) a[i] = blk[Idx(perm[i]) * p + j];
      for (Idx i = 0; i < n; ++i) blk[i * p + j] = a[i];
    }
  }
}

// X A = B is A^T X^T = B^T: a's rows and columns trade roles and every row of b
// is one right-hand side, so no transpose is ever formed.
void linsolve_right_real(double* a, double* b, int32_t n32, int32_t m32, uint32_t* perm) {
  const Idx n = n32, m = m32;
  if (n <= 0) return;
  init_perm(perm, n);
  for (Idx k = 0; k < n; ++k) {
    Idx q = k;
    double best = -1.0;
    for (Idx i = k; i < n; ++i) {
      double v = std::fabs(a[k * n + perm[i]]);
      if (v > best) {
        best = v;
        q = i;
      }
    }
    swap_perm(perm, q, k);
    const Idx c = perm[k];
    const double t = 1.0 / a[k * n + c];
    for (Idx i = k + 1; i < n; ++i) a[i * n + c] = t * a[i * n + c];
    for (Idx j = 0; j < m; ++j) b[j * n + c] = t * b[j * n + c];
    for (Idx i = k + 1; i < n; ++i) {
      const Idx d = perm[i];
      const double f = a[k * n + d];
      if (exact_zero(f)) continue;
      for (Idx r = k + 1; r < n; ++r) a[r * n + d] = a[r * n + d] - f * a[r * n + c];
      for (Idx j = 0; j < m; ++j) b[j * n + d] = b[j * n + d] - f * b[j * n + c];
    }
  }
  for (Idx k = n - 1; k >= 1; --k) {
    const Idx c = perm[k];
    for (Idx i = 0; i < k; ++i) {
      const Idx d = perm[i];
      const double f = a[k * n + d];
      if (exact_zero(f)) continue;
      for (Idx j = 0; j < m; ++j) b[j * n + d] = b[j * n + d] - f * b[j * n + c];
    }
  }
  for (Idx j = 0; j < m; ++j) {
    for (Idx i = 0; i < n; ++i) a[i] = b[j * n + perm[i]];
    for (Idx i = 0; i < n; ++i) b[j * n + i] = a[i];
  }
}

void linsolve_right_complex(double* a, double* b, int32_t n32, int32_t m32, uint32_t* perm) {
  const Idx n = n32, m = m32;
  if (n <= 0) return;
  double* ar = a;
  double* ai = a + n * n;
  double* br = b;
  double* bi = b + m * n;
  init_perm(perm, n);
  for (Idx k = 0; k < n; ++k) {
    double top = 0.0;
    for (Idx i = k; i < n; ++i) top = larger_part(top, ar[k * n + perm[i]], ai[k * n + perm[i]]);
    const double scale = pivot_scale(top);
    Idx q = k;
    double best = -1.0;
    for (Idx i = k; i < n; ++i) {
      const Idx at = k * n + perm[i];
      double v = scaled_sq_mod(ar[at], ai[at], scale);
      if (v > best) {
        best = v;
        q = i;
      }
    }
    swap_perm(perm, q, k);
    const Idx c = perm[k];
    double tr, ti;
    cplx::reciprocal(ar[k * n + c], ai[k * n + c], tr, ti);
    for (Idx i = k + 1; i < n; ++i) {
      const double xr = ar[i * n + c], xi = ai[i * n + c];
      ar[i * n + c] = tr * xr - ti * xi;
      ai[i * n + c] = tr * xi + ti * xr;
    }
    for (Idx j = 0; j < m; ++j) {
      const double xr = br[j * n + c], xi = bi[j * n + c];
      br[j * n + c] = tr * xr - ti * xi;
      bi[j * n + c] = tr * xi + ti * xr;
    }
    for (Idx i = k + 1; i < n; ++i) {
      const Idx d = perm[i];
      const double fr = ar[k * n + d], fi = ai[k * n + d];
      if (exact_zero_c(fr, fi)) continue;
      sub_scaled_c(ar + (k + 1) * n + d, ai + (k + 1) * n + d, ar + (k + 1) * n + c, ai + (k + 1) * n + c, n - k - 1,
                   n, fr, fi);
      sub_scaled_c(br + d, bi + d, br + c, bi + c, m, n, fr, fi);
    }
  }
  for (Idx k = n - 1; k >= 1; --k) {
    const Idx c = perm[k];
    for (Idx i = 0; i < k; ++i) {
      const Idx d = perm[i];
      const double fr = ar[k * n + d], fi = ai[k * n + d];
      if (exact_zero_c(fr, fi)) continue;
      sub_scaled_c(br + d, bi + d, br + c, bi + c, m, n, fr, fi);
    }
  }
  for (double* blk : {br, bi}) {
    for (Idx j = 0; j < m; ++j) {
      for (Idx i = 0; i < n; ++i) a[i] = blk[j * n + perm[i]];
      for (Idx i = 0; i < n; ++i) blk[j * n + i] = a[i];
    }
  }
}

void det_real(double* a, double* det, int32_t n32, uint32_t* perm) {
  const Idx n = n32;
  double d = 1.0;
  if (n < 1) {
    *det = d;
    return;
  }
  init_perm(perm, n);
  for (Idx k = 0; k < n; ++k) {
    Idx q = pivot_rows_real(a, n, n, k, perm, k);
    swap_perm(perm, q, k);
    if (q != k) d = -d;
    const Idx r = perm[k];
    const double piv = a[r * n + k];
    d = d * piv;
    if (piv == 0.0 || std::isnan(piv)) break;  // d is now a signed zero or NaN
    for (Idx j = k + 1; j < n; ++j) a[r * n + j] = a[r * n + j] / piv;
    for (Idx i = k + 1; i < n; ++i) {
      const Idx s = perm[i];
      const double f = a[s * n + k];
      for (Idx j = k + 1; j < n; ++j) a[s * n + j] = a[s * n + j] - f * a[r * n + j];
    }
  }
  *det = d;
}

void det_complex(double* re, double* im, double* det_re, double* det_im, int32_t n32,
                 uint32_t* perm) {
  const Idx n = n32;
  double dr = 1.0, di = 0.0;
  if (n < 1) {
    *det_re = dr;
    *det_im = di;
    return;
  }
  init_perm(perm, n);
  for (Idx k = 0; k < n; ++k) {
    Idx q = pivot_rows_complex(re, im, n, n, k, perm, k);
    swap_perm(perm, q, k);
    if (q != k) {
      dr = -dr;
      di = -di;
    }
    const Idx r = perm[k];
    const double pr = re[r * n + k], pi = im[r * n + k];
    const double nr = dr * pr - di * pi;
    const double ni = dr * pi + di * pr;
    dr = nr;
    di = ni;
    const bool pr_dead = pr == 0.0 || std::isnan(pr);
    const bool pi_dead = pi == 0.0 || std::isnan(pi);
    if (pr_dead && pi_dead) break;
    double tr, ti;
    cplx::reciprocal(pr, pi, tr, ti);
    for (Idx j = k + 1; j < n; ++j) {
      const double xr = re[r * n + j], xi = im[r * n + j];
      re[r * n + j] = xr * tr - xi * ti;
      im[r * n + j] = xr * ti + xi * tr;
    }
    for (Idx i = k + 1; i < n; ++i) {
      const Idx s = perm[i];
      const double fr = re[s * n + k], fi = im[s * n + k];
      sub_scaled_c(re + s * n + k + 1, im + s * n + k + 1, re + r * n + k + 1, im + r * n + k + 1, n - k - 1, 1, fr,
                   fi);
    }
  }
  *det_re = dr;
  *det_im = di;
}
