// Householder reflectors, their application, Hessenberg reduction and QR. Every
// transformation is applied in place; the reflector vector is scaled by the
// largest element of x before its norm is formed, so no square overflows.
// Left application works on a band of columns at a time so that the rows are
// walked contiguously; each column's sum still runs over r in order.
#include "numlib/householder.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

using Idx = std::ptrdiff_t;

// Column pivoting: the column of largest remaining norm among k..nn-1 (the
// first of equals) takes place k in perm and norm2; -1 when every remaining
// norm is 0. The caller swaps the matrix columns.
Idx pivot_column(double* norm2, int32_t* perm, Idx k, Idx nn) {
  Idx p = k;
  double best = norm2[k];
  for (Idx j = k + 1; j < nn; ++j) {
    if (norm2[j] > best) {
      best = norm2[j];
      p = j;
    }
  }
  if (best == 0.0) return -1;
  if (p != k) {
    std::swap(perm[k], perm[p]);
    norm2[p] = norm2[k];
    norm2[k] = best;
  }
  return p;
}

// Columns handled together by a left application (the sums live in locals).
constexpr Idx kBand = 32;

void set_identity(double* q, Idx n) {
  if (n <= 0) return;
  std::fill(q, q + n * n, 0.0);
  for (Idx i = 0; i < n; ++i) q[i * n + i] = 1.0;
}

}  // namespace

void la_house_real(const double* x, int32_t p, int32_t stride, double* v, double* beta) {
  if (p < 1) {
    *beta = 1.0;
    return;
  }
  const Idx st = stride;
  double mx = std::fabs(x[0]);
  for (Idx k = 1; k < p; ++k) {
    const double a = std::fabs(x[k * st]);
    if (a > mx) mx = a;
  }
  if (!(mx > 0.0)) {
    std::fill(v, v + p, 0.0);
    *beta = 1.0;
    return;
  }
  const double rec = 1.0 / mx;
  const bool divide = std::isinf(rec);  // subnormal mx: the reciprocal overflows
  double sigma = 0.0;
  for (Idx k = 0; k < p; ++k) {
    v[k] = divide ? x[k * st] / mx : x[k * st] * rec;
    sigma += v[k] * v[k];
  }
  const double nrm = std::sqrt(sigma);
  *beta = 1.0 / ((std::fabs(v[0]) + nrm) * nrm);
  // -0.0 >= 0 holds, so a negative zero is reflected like +0.
  if (v[0] >= 0.0)
    v[0] += nrm;
  else
    v[0] -= nrm;
}

void la_house_complex(const double* x_re, const double* x_im, int32_t p, int32_t stride,
                      double* v_re, double* v_im, double* beta) {
  if (p < 1) {
    *beta = 1.0;
    return;
  }
  const Idx st = stride;
  double mx = x_re[0] * x_re[0] + x_im[0] * x_im[0];
  for (Idx k = 1; k < p; ++k) {
    const double a = x_re[k * st] * x_re[k * st] + x_im[k * st] * x_im[k * st];
    if (a > mx) mx = a;
  }
  double s = 1.0 / std::sqrt(mx);
  if (mx == 0.0 || std::isinf(mx)) {
    // The squared moduli underflowed or overflowed although the elements did
    // not: scale by the largest part instead, which keeps every square finite.
    double big = 0.0;
    for (Idx k = 0; k < p; ++k) {
      big = std::max(big, std::fabs(x_re[k * st]));
      big = std::max(big, std::fabs(x_im[k * st]));
    }
    mx = big;
    s = 1.0 / big;
  }
  const bool divide = std::isinf(s);  // subnormal scale: its reciprocal overflows
  if (!(mx > 0.0)) {
    std::fill(v_re, v_re + p, 0.0);
    std::fill(v_im, v_im + p, 0.0);
    *beta = 1.0;
    return;
  }
  double sigma = 0.0;
  for (Idx k = 0; k < p; ++k) {
    v_re[k] = divide ? x_re[k * st] / mx : s * x_re[k * st];
    v_im[k] = divide ? x_im[k * st] / mx : s * x_im[k * st];
    sigma += v_re[k] * v_re[k] + v_im[k] * v_im[k];
  }
  const double nrm = std::sqrt(sigma);
  const double a0 = std::sqrt(v_re[0] * v_re[0] + v_im[0] * v_im[0]);
  *beta = 1.0 / ((a0 + nrm) * nrm);
  if (v_re[0] == 0.0 && v_im[0] == 0.0) {
    v_re[0] = nrm;
  } else {
    const double t = nrm / a0 + 1.0;
    v_re[0] *= t;
    v_im[0] *= t;
  }
}

void la_house_apply_left_real(double* a, int32_t m, int32_t n, const double* v, double beta,
                              int32_t k, int32_t e) {
  const Idx rows = Idx{std::min(m, e)} - k;
  if (rows <= 0 || n <= 0) return;
  const Idx nn = n;
  double s[kBand];
  for (Idx c0 = 0; c0 < nn; c0 += kBand) {
    const Idx w = std::min(kBand, nn - c0);
    for (Idx j = 0; j < w; ++j) s[j] = 0.0;
    for (Idx r = 0; r < rows; ++r) {
      const double* row = a + (k + r) * nn + c0;
      const double vr = v[r];
      for (Idx j = 0; j < w; ++j) s[j] += vr * row[j];
    }
    for (Idx j = 0; j < w; ++j) s[j] *= beta;
    for (Idx r = 0; r < rows; ++r) {
      double* row = a + (k + r) * nn + c0;
      const double vr = v[r];
      for (Idx j = 0; j < w; ++j) row[j] -= s[j] * vr;
    }
  }
}

void la_house_apply_right_real(double* a, int32_t m, int32_t n, const double* v, double beta,
                               int32_t k, int32_t e) {
  const Idx cols = Idx{std::min(n, e)} - k;
  if (cols <= 0) return;
  for (Idx i = 0; i < m; ++i) {
    double* row = a + i * Idx{n} + k;
    double s = 0.0;
    for (Idx c = 0; c < cols; ++c) s += row[c] * v[c];
    s *= beta;
    for (Idx c = 0; c < cols; ++c) row[c] -= s * v[c];
  }
}

void la_house_apply_left_complex(double* a_re, double* a_im, int32_t m, int32_t n,
                                 const double* v_re, const double* v_im, double beta, int32_t k,
                                 int32_t e) {
  const Idx rows = Idx{std::min(m, e)} - k;
  if (rows <= 0 || n <= 0) return;
  const Idx nn = n;
  double sr[kBand], si[kBand];
  for (Idx c0 = 0; c0 < nn; c0 += kBand) {
    const Idx w = std::min(kBand, nn - c0);
    for (Idx j = 0; j < w; ++j) sr[j] = si[j] = 0.0;
    for (Idx r = 0; r < rows; ++r) {
      const Idx at = (k + r) * nn + c0;
      const double vr = v_re[r], vi = v_im[r];
      for (Idx j = 0; j < w; ++j) {
        const double ar = a_re[at + j], ai = a_im[at + j];
        sr[j] += vr * ar + vi * ai;  // conj(v) A
        si[j] += vr * ai - vi * ar;
      }
    }
    for (Idx j = 0; j < w; ++j) {
      sr[j] *= beta;
      si[j] *= beta;
    }
    for (Idx r = 0; r < rows; ++r) {
      const Idx at = (k + r) * nn + c0;
      const double vr = v_re[r], vi = v_im[r];
      for (Idx j = 0; j < w; ++j) {
        a_re[at + j] -= vr * sr[j] - vi * si[j];
        a_im[at + j] -= vr * si[j] + vi * sr[j];
      }
    }
  }
}

void la_house_apply_right_complex(double* a_re, double* a_im, int32_t m, int32_t n,
                                  const double* v_re, const double* v_im, double beta, int32_t k,
                                  int32_t e) {
  const Idx cols = Idx{std::min(n, e)} - k;
  if (cols <= 0) return;
  for (Idx i = 0; i < m; ++i) {
    double* rr = a_re + i * Idx{n} + k;
    double* ri = a_im + i * Idx{n} + k;
    double sr = 0.0, si = 0.0;
    for (Idx c = 0; c < cols; ++c) {
      sr += rr[c] * v_re[c] - ri[c] * v_im[c];
      si += rr[c] * v_im[c] + ri[c] * v_re[c];
    }
    sr *= beta;
    si *= beta;
    for (Idx c = 0; c < cols; ++c) {  // s conj(v)
      rr[c] -= sr * v_re[c] + si * v_im[c];
      ri[c] -= si * v_re[c] - sr * v_im[c];
    }
  }
}

void la_hessenberg_real(double* a, int32_t n, double* q, double* work) {
  const Idx nn = n;
  if (q) set_identity(q, nn);
  for (Idx k = 1; k + 1 < nn; ++k) {
    double beta;
    la_house_real(a + k * nn + (k - 1), int32_t(nn - k), n, work, &beta);
    la_house_apply_left_real(a, n, n, work, beta, int32_t(k), n);
    for (Idx i = k + 1; i < nn; ++i) a[i * nn + (k - 1)] = 0.0;
    la_house_apply_right_real(a, n, n, work, beta, int32_t(k), n);
    if (q) la_house_apply_right_real(q, n, n, work, beta, int32_t(k), n);
  }
}

void la_hessenberg_complex(double* a_re, double* a_im, int32_t n, double* q_re, double* q_im,
                           double* work) {
  const Idx nn = n;
  double* v_re = work;
  double* v_im = work + nn;
  const bool with_q = q_re && q_im;
  if (with_q) {
    set_identity(q_re, nn);
    std::fill(q_im, q_im + nn * nn, 0.0);
  }
  for (Idx k = 1; k + 1 < nn; ++k) {
    const Idx at = k * nn + (k - 1);
    double beta;
    la_house_complex(a_re + at, a_im + at, int32_t(nn - k), n, v_re, v_im, &beta);
    la_house_apply_left_complex(a_re, a_im, n, n, v_re, v_im, beta, int32_t(k), n);
    for (Idx i = k + 1; i < nn; ++i) a_re[i * nn + (k - 1)] = a_im[i * nn + (k - 1)] = 0.0;
    la_house_apply_right_complex(a_re, a_im, n, n, v_re, v_im, beta, int32_t(k), n);
    if (with_q) la_house_apply_right_complex(q_re, q_im, n, n, v_re, v_im, beta, int32_t(k), n);
  }
}

void la_qr_real(double* a, int32_t m, int32_t n, double* q, int32_t* perm, double* work) {
  const Idx mm = m, nn = n;
  double* v = work;
  double* norm2 = work + mm;
  if (perm) {
    for (Idx j = 0; j < nn; ++j) {
      perm[j] = int32_t(j);
      double s = 0.0;
      for (Idx i = 0; i < mm; ++i) s += a[i * nn + j] * a[i * nn + j];
      norm2[j] = s;
    }
  }
  if (q) set_identity(q, mm);
  for (Idx k = 0; k < nn; ++k) {
    if (perm) {
      const Idx p = pivot_column(norm2, perm, k, nn);
      if (p < 0) break;  // the rest are zero columns
      if (p != k)
        for (Idx i = 0; i < mm; ++i) std::swap(a[i * nn + k], a[i * nn + p]);
    }
    if (k >= mm) continue;  // no rows left below the diagonal
    double beta;
    la_house_real(a + k * nn + k, int32_t(mm - k), n, v, &beta);
    la_house_apply_left_real(a, m, n, v, beta, int32_t(k), m);
    if (perm) {
      // Downdated, never recomputed: cheap, and what the column choice expects.
      for (Idx j = k + 1; j < nn; ++j) norm2[j] -= a[k * nn + j] * a[k * nn + j];
    }
    if (q) la_house_apply_right_real(q, m, m, v, beta, int32_t(k), m);
  }
  for (Idx i = 1; i < mm; ++i)
    for (Idx j = 0; j < std::min(i, nn); ++j) a[i * nn + j] = 0.0;
}

void la_qr_complex(double* a_re, double* a_im, int32_t m, int32_t n, double* q_re, double* q_im,
                   int32_t* perm, double* work) {
  const Idx mm = m, nn = n;
  double* v_re = work;
  double* v_im = work + mm;
  double* norm2 = work + 2 * mm;
  const bool with_q = q_re && q_im;
  if (perm) {
    for (Idx j = 0; j < nn; ++j) {
      perm[j] = int32_t(j);
      double s = 0.0;
      for (Idx i = 0; i < mm; ++i) {
        const Idx at = i * nn + j;
        s += a_re[at] * a_re[at] + a_im[at] * a_im[at];
      }
      norm2[j] = s;
    }
  }
  if (with_q) {
    set_identity(q_re, mm);
    std::fill(q_im, q_im + mm * mm, 0.0);
  }
  for (Idx k = 0; k < nn; ++k) {
    if (perm) {
      const Idx p = pivot_column(norm2, perm, k, nn);
      if (p < 0) break;
      if (p != k) {
        for (Idx i = 0; i < mm; ++i) {
          std::swap(a_re[i * nn + k], a_re[i * nn + p]);
          std::swap(a_im[i * nn + k], a_im[i * nn + p]);
        }
      }
    }
    if (k >= mm) continue;
    const Idx at = k * nn + k;
    double beta;
    la_house_complex(a_re + at, a_im + at, int32_t(mm - k), n, v_re, v_im, &beta);
    la_house_apply_left_complex(a_re, a_im, m, n, v_re, v_im, beta, int32_t(k), m);
    if (perm) {
      for (Idx j = k + 1; j < nn; ++j) {
        const Idx kj = k * nn + j;
        norm2[j] -= a_re[kj] * a_re[kj] + a_im[kj] * a_im[kj];
      }
    }
    if (with_q) la_house_apply_right_complex(q_re, q_im, m, m, v_re, v_im, beta, int32_t(k), m);
  }
  for (Idx i = 1; i < mm; ++i)
    for (Idx j = 0; j < std::min(i, nn); ++j) a_re[i * nn + j] = a_im[i * nn + j] = 0.0;
}
