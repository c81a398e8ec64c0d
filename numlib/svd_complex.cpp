// Complex singular value decomposition with U and V (Businger-Golub): complex
// Householder reduction to a real bidiagonal form (phase factors make it
// real), real QR iteration on it, selection sort, then the back
// transformations. A wide matrix is decomposed through its conjugate transpose.
#include "numlib/svd.h"

#include <cmath>
#include <cstddef>

#include "numlib/range_scale.h"

namespace {

using Idx = std::ptrdiff_t;

// A squared norm at or below kTol counts as zero.
constexpr double kTol = 1.0020959530862092e-292;
constexpr double kEta = 2.220446049250313e-16;
// QR steps allowed for one singular value before the kernel gives up.
constexpr int kMaxPasses = 70;

struct Cx {
  double re, im;
};
inline Cx operator*(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Cx conj_mul(Cx a, Cx b) { return {a.re * b.re + a.im * b.im, a.re * b.im - a.im * b.re}; }
inline double abs2(Cx a) { return a.re * a.re + a.im * a.im; }
inline double cabs(Cx a) { return std::sqrt(abs2(a)); }

// A complex row-major matrix as two blocks with one row length.
struct CMat {
  double* re;
  double* im;
  Idx cols;
  Cx get(Idx i, Idx j) const { return {re[i * cols + j], im[i * cols + j]}; }
  void set(Idx i, Idx j, Cx z) const {
    re[i * cols + j] = z.re;
    im[i * cols + j] = z.im;
  }
  // x(i, j) -= q y
  void sub_mul(Idx i, Idx j, Cx q, Cx y) const {
    const Cx p = q * y;
    re[i * cols + j] -= p.re;
    im[i * cols + j] -= p.im;
  }
  void scale_row(Idx i, Idx from, Idx to, Cx q) const {
    for (Idx j = from; j < to; ++j) set(i, j, q * get(i, j));
  }
};

// A squared norm of kTol or less is skipped; NaN is not, so that it propagates.
inline bool is_zero_norm(double z) { return z <= kTol; }

// Phase of x / |x|, or 1 for x = 0.
inline Cx unit_phase(Cx x, double w) { return w != 0.0 ? Cx{x.re / w, x.im / w} : Cx{1.0, 0.0}; }

// A := Householder vectors; B the diagonal norms, C the superdiagonal ones.
void reduce(const CMat& a, Idx m, Idx n, double* b, double* c) {
  c[0] = 0.0;
  for (Idx k = 0; k < n; ++k) {
    const Idx k1 = k + 1;
    double z = 0.0;
    for (Idx i = k; i < m; ++i) z += abs2(a.get(i, k));
    b[k] = 0.0;
    if (!is_zero_norm(z)) {
      z = std::sqrt(z);
      b[k] = z;
      const Cx akk = a.get(k, k);
      const double w = cabs(akk);
      const Cx q = unit_phase(akk, w);
      a.set(k, k, q * Cx{z + w, 0.0});
      const double d = z * (z + w);
      for (Idx j = k1; j < n; ++j) {
        Cx t{0.0, 0.0};
        for (Idx i = k; i < m; ++i) {
          const Cx p = conj_mul(a.get(i, k), a.get(i, j));
          t.re += p.re;
          t.im += p.im;
        }
        t = {t.re / d, t.im / d};
        for (Idx i = k; i < m; ++i) a.sub_mul(i, j, t, a.get(i, k));
      }
      const Cx top = a.get(k, k);
      const double r = cabs(top);
      a.scale_row(k, k1, n, {-top.re / r, top.im / r});
    }
    if (k == n - 1) break;
    z = 0.0;
    for (Idx j = k1; j < n; ++j) z += abs2(a.get(k, j));
    c[k1] = 0.0;
    if (!is_zero_norm(z)) {
      z = std::sqrt(z);
      c[k1] = z;
      const Cx akk1 = a.get(k, k1);
      const double w = cabs(akk1);
      const Cx q = unit_phase(akk1, w);
      a.set(k, k1, q * Cx{z + w, 0.0});
      const double d = z * (z + w);
      for (Idx i = k1; i < m; ++i) {
        Cx t{0.0, 0.0};
        for (Idx j = k1; j < n; ++j) {
          const Cx p = conj_mul(a.get(k, j), a.get(i, j));
          t.re += p.re;
          t.im += p.im;
        }
        t = {t.re / d, t.im / d};
        for (Idx j = k1; j < n; ++j) a.sub_mul(i, j, t, a.get(k, j));
      }
      const Cx top = a.get(k, k1);
      const double r = cabs(top);
      const Cx phase{-top.re / r, top.im / r};
      for (Idx i = k1; i < m; ++i) a.set(i, k1, a.get(i, k1) * phase);
    }
  }
}

// Columns p and q of the real parts of x over its first rows; the imaginary
// parts of both columns become 0 (they are 0 throughout the iteration).
void rotate_real(const CMat& x, Idx rows, Idx p, Idx q, double cs, double sn) {
  for (Idx r = 0; r < rows; ++r) {
    double* row = x.re + r * x.cols;
    const double y = row[p], z = row[q];
    row[p] = y * cs + z * sn;
    row[q] = z * cs - y * sn;
    x.im[r * x.cols + p] = 0.0;
    x.im[r * x.cols + q] = 0.0;
  }
}

void set_identity(const CMat& x, Idx rows) {
  for (Idx i = 0; i < rows; ++i)
    for (Idx j = 0; j < x.cols; ++j) x.set(i, j, {i == j ? 1.0 : 0.0, 0.0});
}

// QR iteration on the real bidiagonal (S, T). U and V (when given) have at
// least n columns; only their first n rows carry anything yet.
bool diagonalise(double* s, double* t, Idx n, double eps, const CMat* u, const CMat* v) {
  for (Idx k = n - 1; k >= 0; --k) {
    for (int passes = 0;; ++passes) {
      if (passes > kMaxPasses) return false;
      // l = 0 always splits (T[0] is 0), whatever eps is.
      Idx l = k;
      for (; l > 0; --l) {
        if (std::fabs(t[l]) <= eps) break;
        if (std::fabs(s[l - 1]) <= eps) {
          double cs = 0.0, sn = 1.0;
          for (Idx i = l; i <= k; ++i) {
            const double f = sn * t[i];
            t[i] = cs * t[i];
            if (std::fabs(f) <= eps) break;
            const double h = s[i];
            const double w = std::sqrt(f * f + h * h);
            s[i] = w;
            cs = h / w;
            sn = -f / w;
            if (u) rotate_real(*u, n, l - 1, i, cs, sn);
          }
          break;
        }
      }
      double w = s[k];
      if (l == k) {
        if (w < 0.0) {
          s[k] = -w;
          if (v)
            for (Idx j = 0; j < n; ++j)
              v->set(j, k, {-v->re[j * v->cols + k], -v->im[j * v->cols + k]});
        }
        break;
      }
      double x = s[l], y = s[k - 1], g = t[k - 1], h = t[k];
      double f = ((y - w) * (y + w) + (g - h) * (g + h)) / (2.0 * h * y);
      g = std::sqrt(f * f + 1.0);
      if (f < 0.0) g = -g;
      f = ((x - w) * (x + w) + (y / (f + g) - h) * h) / x;
      double cs = 1.0, sn = 1.0;
      for (Idx i = l + 1; i <= k; ++i) {
        g = t[i];
        y = s[i];
        h = sn * g;
        g = cs * g;
        w = std::sqrt(h * h + f * f);
        t[i - 1] = w;
        cs = f / w;
        sn = h / w;
        f = x * cs + g * sn;
        g = g * cs - x * sn;
        h = y * sn;
        y = y * cs;
        if (v) rotate_real(*v, n, i - 1, i, cs, sn);
        w = std::sqrt(h * h + f * f);
        s[i - 1] = w;
        if (w != 0.0) {
          cs = f / w;
          sn = h / w;
        } else {
          cs = 1.0;
          sn = 0.0;
        }
        f = cs * g + sn * y;
        x = cs * y - sn * g;
        if (u) rotate_real(*u, n, i - 1, i, cs, sn);
      }
      t[l] = 0.0;
      t[k] = f;
      s[k] = x;
    }
  }
  return true;
}

void swap_columns(const CMat& x, Idx rows, Idx p, Idx q) {
  for (Idx r = 0; r < rows; ++r) {
    const Cx y = x.get(r, p);
    x.set(r, p, x.get(r, q));
    x.set(r, q, y);
  }
}

// Decreasing order by selection: the first of equal maxima is taken, so
// equal values keep the order the iteration left them in. A NaN is passed
// over, as it is never greater than anything.
void sort_decreasing(double* s, Idx n, Idx u_rows, const CMat* u, const CMat* v) {
  for (Idx k = 0; k < n; ++k) {
    double g = -1.0;
    Idx j = k;
    for (Idx i = k; i < n; ++i) {
      if (s[i] <= g) continue;
      g = s[i];
      j = i;
    }
    if (j == k) continue;
    s[j] = s[k];
    s[k] = g;
    if (v) swap_columns(*v, n, j, k);
    if (u) swap_columns(*u, u_rows, j, k);
  }
}

// U := (left reflectors and phases) U, rows 0 .. m-1.
void back_left(const CMat& a, Idx m, Idx n, const double* b, const CMat& u) {
  for (Idx k = n - 1; k >= 0; --k) {
    if (b[k] == 0.0) continue;
    const Cx akk = a.get(k, k);
    const double r = cabs(akk);
    u.scale_row(k, 0, u.cols, {-akk.re / r, -akk.im / r});
    const double d = r * b[k];
    for (Idx j = 0; j < u.cols; ++j) {
      Cx q{0.0, 0.0};
      for (Idx i = k; i < m; ++i) {
        const Cx p = conj_mul(a.get(i, k), u.get(i, j));
        q.re += p.re;
        q.im += p.im;
      }
      q = {q.re / d, q.im / d};
      for (Idx i = k; i < m; ++i) u.sub_mul(i, j, q, a.get(i, k));
    }
  }
}

// V := (right reflectors and phases) V.
void back_right(const CMat& a, Idx n, const double* c, const CMat& v) {
  for (Idx k = n - 2; k >= 0; --k) {
    const Idx k1 = k + 1;
    if (c[k1] == 0.0) continue;
    const Cx top = a.get(k, k1);
    const double r = cabs(top);
    v.scale_row(k1, 0, v.cols, {-top.re / r, top.im / r});
    const double d = r * c[k1];
    for (Idx j = 0; j < v.cols; ++j) {
      Cx q{0.0, 0.0};
      for (Idx i = k1; i < n; ++i) {
        const Cx p = a.get(k, i) * v.get(i, j);
        q.re += p.re;
        q.im += p.im;
      }
      q = {q.re / d, q.im / d};
      for (Idx i = k1; i < n; ++i) {
        const Cx y = a.get(k, i);
        v.sub_mul(i, j, q, {y.re, -y.im});
      }
    }
  }
}

// A (m x n, m >= n; destroyed) = U diag(S) V^H with S in sbct[0, n) and B, C, T
// after it. U (m rows, at least n columns) and V (n x n) are optional.
bool decompose_tall(const CMat& a, Idx m, Idx n, double* sbct, const CMat* u, const CMat* v) {
  double* sv = sbct;
  double* b = sv + n;
  double* c = b + n;
  double* t = c + n;
  if (n > 0) reduce(a, m, n, b, c);
  double eps = 0.0;
  for (Idx k = 0; k < n; ++k) {
    sv[k] = b[k];
    t[k] = c[k];
    if (sv[k] + t[k] > eps) eps = sv[k] + t[k];
  }
  eps *= kEta;
  if (u) set_identity(*u, m);
  if (v) set_identity(*v, n);
  if (!diagonalise(sv, t, n, eps, u, v)) return false;
  sort_decreasing(sv, n, m, u, v);
  if (u) back_left(a, m, n, b, *u);
  if (v) back_right(a, n, c, *v);
  return true;
}

// dst (rows x dst.cols) := the leading block of src.
void copy_block(const CMat& src, const CMat& dst, Idx rows) {
  for (Idx i = 0; i < rows; ++i)
    for (Idx j = 0; j < dst.cols; ++j) dst.set(i, j, src.get(i, j));
}

}  // namespace

bool svd_decompose_checked(double* re, double* im, int32_t m32, int32_t n32, double* s_out,
                           double* ur, double* ui, int32_t nu32, double* vr, double* vi,
                           int32_t nv32, double* work) {
  const Idx m = m32 > 0 ? m32 : 0, n = n32 > 0 ? n32 : 0;
  const bool want_u = ur && ui && nu32 > 0, want_v = vr && vi && nv32 > 0;
  const Idx nu = want_u ? nu32 : 0, nv = want_v ? nv32 : 0;
  // The rotations reach columns up to min(m, n) - 1 of both factors of the
  // tall problem; a factor too narrow for that is formed in the workspace,
  // which has room for it only where the bounds below hold.
  if (want_u && (m >= n ? (nu < n || nu > m) : nu > m)) return false;
  if (want_v && nv > n) return false;

  const Idx k = m < n ? m : n;
  const Idx block = 2 * n * n;
  // Far from 1 in size, the shift's squares overflow or underflow: the
  // matrix (consumed anyway) is decomposed scaled, its values scaled back.
  const int scale = range_scale_exponent(std::fmax(range_scale_max(re, m * n), range_scale_max(im, m * n)));
  range_scale_apply(re, m * n, scale);
  range_scale_apply(im, m * n, scale);
  CMat u_user{ur, ui, nu}, v_user{vr, vi, nv};
  bool ok;
  double* sbct;
  if (m >= n) {
    CMat v = v_user;
    double* next = work;
    if (want_v && nv < n) {
      v = {next, next + n * n, n};
      next += block;
    }
    sbct = next;
    ok = decompose_tall({re, im, n}, m, n, sbct, want_u ? &u_user : nullptr, want_v ? &v : nullptr);
    if (ok && want_v && nv < n) copy_block(v, v_user, n);
  } else {
    // Wide: A^H = U' S V'^H gives U = V' and V = U'. (Padding A with zero
    // rows instead lets the columns of zero singular values draw on the padded
    // rows, and U's leading rows are then not unitary.)
    CMat ah{work, work + n * m, m};
    for (Idx i = 0; i < n; ++i)
      for (Idx j = 0; j < m; ++j) ah.set(i, j, {re[j * n + i], -im[j * n + i]});
    double* next = work + block;
    CMat v_tall = u_user;  // m x m
    if (want_u) {
      if (nu < m) v_tall = {next, next + m * m, m};
      next += block;
    }
    CMat u_tall = v_user;  // n x at least m
    if (want_v && nv < n) {
      if (nv < m) u_tall = {next, next + n * m, m};
      next += block;
    }
    sbct = next;
    ok = decompose_tall(ah, n, m, sbct, want_v ? &u_tall : nullptr, want_u ? &v_tall : nullptr);
    if (ok && want_u && nu < m) copy_block(v_tall, u_user, m);
    if (ok && want_v && nv < m) copy_block(u_tall, v_user, n);
  }
  if (!ok) return false;
  for (Idx j = 0; j < n; ++j) s_out[j] = j < k ? std::ldexp(sbct[j], -scale) : 0.0;
  return true;
}
