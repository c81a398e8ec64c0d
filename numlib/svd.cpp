// Real singular value decomposition (Householder bidiagonalisation, then
// implicitly shifted QR on the bidiagonal form) and the complex singular values
// through the real embedding [[Re, -Im], [Im, Re]]. The order of operations is
// the contract: negligibility is tested exactly as x + anorm == anorm.
#include "numlib/svd.h"

#include <cmath>
#include <cstddef>

#include "numlib/range_scale.h"
#include "numlib/shellsort.h"

namespace {

using Idx = std::ptrdiff_t;

constexpr int kMaxQrSteps = 30;

// sqrt(a^2 + b^2) without overflow of the squares.
double pythag(double a, double b) {
  const double aa = std::fabs(a), ab = std::fabs(b);
  if (aa > ab) {
    const double r = ab / aa;
    return aa * std::sqrt(1.0 + r * r);
  }
  if (ab == 0.0) return 0.0;
  const double r = aa / ab;
  return ab * std::sqrt(1.0 + r * r);
}

// |a| with the sign of b, a negative zero b counting as positive.
double with_sign(double a, double b) { return b >= 0.0 ? std::fabs(a) : -std::fabs(a); }

// Columns p and q of the rows x cols matrix x: (p, q) := (p c + q s, q c - p s).
void rotate_columns(double* x, Idx rows, Idx cols, Idx p, Idx q, double c, double s) {
  for (Idx r = 0; r < rows; ++r) {
    double* row = x + r * cols;
    const double y = row[p], z = row[q];
    row[p] = y * c + z * s;
    row[q] = z * c - y * s;
  }
}

bool negligible(double x, double anorm) { return std::fabs(x) + anorm == anorm; }

struct Bidiagonal {
  double anorm;
  double g;  // carried into the accumulation of V, as the reduction left it
};

// A := Householder vectors of the bidiagonal form; w the diagonal, rv1 the
// superdiagonal (rv1[i] couples columns i-1 and i, rv1[0] = 0).
Bidiagonal bidiagonalise(double* a, Idx m, Idx n, double* w, double* rv1) {
  double g = 0.0, scale = 0.0, anorm = 0.0;
  for (Idx i = 0; i < n; ++i) {
    const Idx l = i + 1;
    rv1[i] = scale * g;
    g = 0.0;
    double s = 0.0;
    scale = 0.0;
    if (i < m) {
      for (Idx k = i; k < m; ++k) scale += std::fabs(a[k * n + i]);
      if (scale != 0.0) {  // a NaN scale takes this path and propagates
        for (Idx k = i; k < m; ++k) {
          a[k * n + i] /= scale;
          s += a[k * n + i] * a[k * n + i];
        }
        const double f = a[i * n + i];
        g = -with_sign(std::sqrt(s), f);
        const double h = f * g - s;
        a[i * n + i] = f - g;
        for (Idx j = l; j < n; ++j) {
          double t = 0.0;
          for (Idx k = i; k < m; ++k) t += a[k * n + i] * a[k * n + j];
          t /= h;
          for (Idx k = i; k < m; ++k) a[k * n + j] += t * a[k * n + i];
        }
        for (Idx k = i; k < m; ++k) a[k * n + i] *= scale;
      }
    }
    w[i] = scale * g;
    g = 0.0;
    s = 0.0;
    scale = 0.0;
    if (i < m && i != n - 1) {
      double* row = a + i * n;
      for (Idx k = l; k < n; ++k) scale += std::fabs(row[k]);
      if (scale != 0.0) {
        for (Idx k = l; k < n; ++k) {
          row[k] /= scale;
          s += row[k] * row[k];
        }
        const double f = row[l];
        g = -with_sign(std::sqrt(s), f);
        const double h = f * g - s;
        row[l] = f - g;
        for (Idx k = l; k < n; ++k) rv1[k] = row[k] / h;
        for (Idx j = l; j < m; ++j) {
          double* rj = a + j * n;
          double t = 0.0;
          for (Idx k = l; k < n; ++k) t += rj[k] * row[k];
          for (Idx k = l; k < n; ++k) rj[k] += t * rv1[k];
        }
        for (Idx k = l; k < n; ++k) row[k] *= scale;
      }
    }
    const double size = std::fabs(w[i]) + std::fabs(rv1[i]);
    if (size > anorm) anorm = size;
  }
  return {anorm, g};
}

// V := product of the right-hand reflectors stored in the rows of a.
void accumulate_right(const double* a, Idx n, double* v, const double* rv1, double g) {
  for (Idx i = n - 1; i >= 0; --i) {
    const Idx l = i + 1;
    if (i < n - 1) {
      if (g != 0.0) {
        const double* row = a + i * n;
        // Two divisions rather than one product avoid an underflow.
        for (Idx j = l; j < n; ++j) v[j * n + i] = (row[j] / row[l]) / g;
        for (Idx j = l; j < n; ++j) {
          double t = 0.0;
          for (Idx k = l; k < n; ++k) t += row[k] * v[k * n + j];
          for (Idx k = l; k < n; ++k) v[k * n + j] += t * v[k * n + i];
        }
      }
      for (Idx j = l; j < n; ++j) v[i * n + j] = v[j * n + i] = 0.0;
    }
    v[i * n + i] = 1.0;
    g = rv1[i];
  }
}

// a := U, the product of the left-hand reflectors stored in its columns.
void accumulate_left(double* a, Idx m, Idx n, const double* w) {
  for (Idx i = (m < n ? m : n) - 1; i >= 0; --i) {
    const Idx l = i + 1;
    for (Idx j = l; j < n; ++j) a[i * n + j] = 0.0;
    if (w[i] != 0.0) {
      const double g = 1.0 / w[i];
      for (Idx j = l; j < n; ++j) {
        double t = 0.0;
        for (Idx k = l; k < m; ++k) t += a[k * n + i] * a[k * n + j];
        const double f = (t / a[i * n + i]) * g;
        for (Idx k = i; k < m; ++k) a[k * n + j] += f * a[k * n + i];
      }
      for (Idx j = i; j < m; ++j) a[j * n + i] *= g;
    } else {
      for (Idx j = i; j < m; ++j) a[j * n + i] = 0.0;
    }
    a[i * n + i] += 1.0;
  }
}

// Diagonalises the bidiagonal (w, rv1), rotating the columns of U (a) and V.
// False when some value needed more than kMaxQrSteps steps; the others are
// still diagonalised.
bool diagonalise(double* a, Idx m, Idx n, double* w, double* rv1, double* v, double anorm) {
  bool converged_all = true;
  for (Idx k = n - 1; k >= 0; --k) {
    for (int steps = 0;; ++steps) {
      // Split: find l with rv1[l] negligible (l = 0 always splits, rv1[0]
      // being 0, so that a NaN anorm cannot walk below the arrays), or with
      // w[l-1] negligible, which first cancels rv1[l].
      Idx l = k;
      for (; l > 0; --l) {
        if (negligible(rv1[l], anorm)) break;
        if (negligible(w[l - 1], anorm)) {
          double c = 0.0, s = 1.0;
          for (Idx i = l; i <= k; ++i) {
            const double f = s * rv1[i];
            rv1[i] = c * rv1[i];
            if (negligible(f, anorm)) break;
            const double g = w[i];
            double h = pythag(f, g);
            w[i] = h;
            h = 1.0 / h;
            c = g * h;
            s = -f * h;
            rotate_columns(a, m, n, l - 1, i, c, s);
          }
          break;
        }
      }
      double z = w[k];
      if (l == k) {
        if (z < 0.0) {
          w[k] = -z;
          if (v)
            for (Idx j = 0; j < n; ++j) v[j * n + k] = -v[j * n + k];
        }
        break;
      }
      if (steps == kMaxQrSteps) {
        converged_all = false;
        break;
      }
      // Shift from the trailing 2 x 2 block.
      double x = w[l], y = w[k - 1], g = rv1[k - 1], h = rv1[k];
      double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = pythag(f, 1.0);
      f = ((x - z) * (x + z) + h * ((y / (f + with_sign(g, f))) - h)) / x;
      double c = 1.0, s = 1.0;
      for (Idx j = l; j < k; ++j) {
        const Idx i = j + 1;
        g = rv1[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = pythag(f, h);
        rv1[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y = y * c;
        if (v) rotate_columns(v, n, n, j, i, c, s);
        z = pythag(f, h);
        w[j] = z;
        if (z != 0.0) {
          z = 1.0 / z;
          c = f * z;
          s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        rotate_columns(a, m, n, j, i, c, s);
      }
      rv1[l] = 0.0;
      rv1[k] = f;
      w[k] = x;
    }
  }
  return converged_all;
}

// Rows of x (rows x n): new column j := old column perm[j], through tmp.
void permute_columns(double* x, Idx rows, Idx n, const int32_t* perm, double* tmp) {
  for (Idx r = 0; r < rows; ++r) {
    double* row = x + r * n;
    for (Idx j = 0; j < n; ++j) tmp[j] = row[j];
    for (Idx j = 0; j < n; ++j) row[j] = tmp[perm[j]];
  }
}

}  // namespace

bool svd_decompose(double* a, int32_t m32, int32_t n32, double* w, double* v, double* work) {
  const Idx m = m32 > 0 ? m32 : 0, n = n32 > 0 ? n32 : 0;
  if (n == 0) return true;
  // The shift's squares overflow past about 1e154 and underflow below about
  // 1e-154: such a matrix is decomposed scaled, and its values scaled back.
  const int scale = range_scale_exponent(range_scale_max(a, m * n));
  range_scale_apply(a, m * n, scale);
  double* rv1 = work;
  const Bidiagonal bd = bidiagonalise(a, m, n, w, rv1);
  if (v) accumulate_right(a, n, v, rv1, bd.g);
  accumulate_left(a, m, n, w);
  const bool converged = diagonalise(a, m, n, w, rv1, v, bd.anorm);
  range_scale_apply(w, n, -scale);

  // Decreasing order: the ascending sorts run from the last element backwards.
  if (!v) {
    shellsort_real(w + (n - 1), n32, -1, 0);
    return converged;
  }
  int32_t* perm = reinterpret_cast<int32_t*>(work + n);
  for (Idx j = 0; j < n; ++j) perm[j] = static_cast<int32_t>(j);
  shellsort_real_with_perm(w + (n - 1), perm + (n - 1), n32, -1);
  permute_columns(a, m, n, perm, rv1);
  permute_columns(v, n, n, perm, rv1);
  return converged;
}

bool svd_values_complex(const double* re, const double* im, int32_t m32, int32_t n32, double* s,
                        double* work) {
  const Idx m = m32 > 0 ? m32 : 0, n = n32 > 0 ? n32 : 0;
  if (n == 0) return true;
  double* emb = work + 3 * n + 1;
  double* values = emb + 4 * m * n;
  const Idx cols = 2 * n;
  for (Idx i = 0; i < m; ++i) {
    double* top = emb + i * cols;
    double* bottom = emb + (m + i) * cols;
    for (Idx j = 0; j < n; ++j) {
      const double x = re[i * n + j], y = im[i * n + j];
      top[j] = x;
      top[n + j] = -y;
      bottom[j] = y;
      bottom[n + j] = x;
    }
  }
  const bool converged = svd_decompose(emb, static_cast<int32_t>(2 * m), static_cast<int32_t>(cols),
                                       values, nullptr, work);
  // Each value of the complex matrix appears twice in the embedding's list.
  for (Idx k = 0; k < n; ++k) s[k] = values[2 * k];
  return converged;
}
