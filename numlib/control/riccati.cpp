// care and dare: the Hamiltonian (continuous) or symplectic (discrete) matrix,
// its real Schur form (complex triangular when 2 x 2 blocks remain), the
// stable eigenvalues moved to the front by plane rotations, and X from the
// leading Schur vectors; with more outputs the closed-loop eigenvalues L and
// the gain K. All work happens in scratch above the space the outputs will
// take, so nothing is pushed before the last failure point.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/control/control_args.h"
#include "numlib/control/matrix_equations.h"
#include "numlib/dense_lu.h"
#include "numlib/linalg/nonfinite_answers.h"
#include "numlib/matmul.h"
#include "numlib/schur.h"

namespace {

constexpr uintptr_t kContinuous = 'c';
constexpr int kMaxOutputs = 3;
constexpr int kMaxOutputsWithG = 2;
constexpr int64_t kHeaderSlack = 16;    // words a pushed matrix may take beyond its elements

using control_args::Bump;
using control_args::finite;
using control_args::Mat;
using control_args::real_matrix;

void transpose(const double* a, int64_t rows, int64_t cols, double* t) {
  for (int64_t i = 0; i < rows; ++i)
    for (int64_t j = 0; j < cols; ++j) t[j * rows + i] = a[i * cols + j];
}

// The plane rotation that swaps diagonal entries i and i+1 of the upper
// triangular t (2n x 2n), applied to t and to the columns of u. Built from
// a = t[i][i+1] and d = t[i+1][i+1] - t[i][i]: c = |a|/r, s = (|a|/a) d/r with
// r = hypot(|a|, |d|), and c = 0, s = d/|d| when a = 0 (decoupled entries),
// where t = d/a would be infinite. Complex parts are null in the real form.
void swap_rotation(double* t_re, double* t_im, double* u_re, double* u_im, int64_t n2, int64_t i) {
  const int64_t j = i + 1;
  const double ar = t_re[i * n2 + j], ai = t_im ? t_im[i * n2 + j] : 0.0;
  const double dr = t_re[j * n2 + j] - t_re[i * n2 + i];
  const double di = t_im ? t_im[j * n2 + j] - t_im[i * n2 + i] : 0.0;
  const double abs_a = std::hypot(ar, ai), abs_d = std::hypot(dr, di);
  const double r = std::hypot(abs_a, abs_d);
  if (r == 0.0) return;
  double c, sr, si;
  if (abs_a == 0.0) {
    c = 0.0;
    sr = dr / abs_d;
    si = di / abs_d;
  } else {
    c = abs_a / r;
    // (conj(a)/|a|) d / r
    const double pr = ar / abs_a, pi = -ai / abs_a;
    sr = (pr * dr - pi * di) / r;
    si = (pr * di + pi * dr) / r;
  }
  // Columns: col_i' = c col_i + s col_j; col_j' = c col_j - conj(s) col_i.
  auto rotate_columns = [&](double* re, double* im, int64_t rows) {
    for (int64_t k = 0; k < rows; ++k) {
      const double xr = re[k * n2 + i], xi = im ? im[k * n2 + i] : 0.0;
      const double yr = re[k * n2 + j], yi = im ? im[k * n2 + j] : 0.0;
      re[k * n2 + i] = c * xr + (sr * yr - si * yi);
      re[k * n2 + j] = c * yr - (sr * xr + si * xi);
      if (im) {
        im[k * n2 + i] = c * xi + (sr * yi + si * yr);
        im[k * n2 + j] = c * yi - (sr * xi - si * xr);
      }
    }
  };
  rotate_columns(u_re, u_im, n2);
  rotate_columns(t_re, t_im, j + 1);
  // Rows: row_i' = c row_i + conj(s) row_j; row_j' = c row_j - s row_i.
  for (int64_t k = i; k < n2; ++k) {
    const double xr = t_re[i * n2 + k], xi = t_im ? t_im[i * n2 + k] : 0.0;
    const double yr = t_re[j * n2 + k], yi = t_im ? t_im[j * n2 + k] : 0.0;
    t_re[i * n2 + k] = c * xr + (sr * yr + si * yi);
    t_re[j * n2 + k] = c * yr - (sr * xr - si * xi);
    if (t_im) {
      t_im[i * n2 + k] = c * xi + (sr * yi - si * yr);
      t_im[j * n2 + k] = c * yi - (sr * xi + si * xr);
    }
  }
  t_re[j * n2 + i] = 0.0;
  if (t_im) t_im[j * n2 + i] = 0.0;
}

// The problem as read from the arguments.
struct Riccati {
  bool continuous = true;
  bool given_g = false;
  int32_t n = 0, m = 0;
  Mat a, b, q, r, s;  // r, s: rows 0 when absent; b holds G when given_g
};

int read_problem(EngineContext* ctx, int nargs, int depth0, Riccati* p) {
  Mat* slot[5] = {&p->a, &p->b, &p->q, &p->r, &p->s};
  for (int k = 0; k < nargs; ++k) TN_TRY(real_matrix(ctx, depth0 + nargs - 1 - k, slot[k]));
  p->n = p->a.rows;
  p->m = p->given_g ? p->n : p->b.cols;
  const int32_t n = p->n, m = p->m;
  if (p->given_g && p->b.rows != p->b.cols) return kNonSquareMatrix;
  if (p->a.cols != n || p->b.rows != n || (!p->given_g && p->b.cols != m) || p->q.rows != n ||
      p->q.cols != n)
    return kIncompatibleSize;
  if (nargs >= 4 && (p->r.rows != m || p->r.cols != m)) return kIncompatibleSize;
  if (nargs >= 5 && (p->s.rows != n || p->s.cols != m)) return kIncompatibleSize;
  return kOk;
}

int64_t scratch_words(int64_t n, int64_t m) {
  return 24 * n * n + 8 * n * m + 4 * m * m + 16 * (n + m) + 64;
}

// z (2n x 2n) := the Hamiltonian or symplectic matrix of the problem.
void build_z(const Riccati& p, double* z, Bump bump) {
  const int64_t n = p.n, m = p.m, n2 = 2 * n;
  auto* perm = reinterpret_cast<uint32_t*>(bump.take(n + m));
  double* g = bump.take(n * n);
  double* br = bump.take(n * m);  // B R^-1
  if (p.given_g) {
    std::memcpy(g, p.b.re, size_t(n * n) * sizeof(double));
  } else {
    std::memcpy(br, p.b.re, size_t(n * m) * sizeof(double));
    if (p.r.rows) {
      double* rc = bump.take(m * m);
      std::memcpy(rc, p.r.re, size_t(m * m) * sizeof(double));
      linsolve_right_real(rc, br, int32_t(m), int32_t(n), perm);
    }
    double* bt = bump.take(n * m);
    transpose(p.b.re, n, m, bt);
    matmul_real(int32_t(n), int32_t(m), int32_t(n), br, bt, g);
  }
  auto put = [&](int64_t bi, int64_t bj, int64_t i, int64_t j, double v) {
    z[(bi * n + i) * n2 + bj * n + j] = v;
  };
  if (p.continuous) {
    double* f = bump.take(n * n);
    double* qt = bump.take(n * n);
    std::memcpy(f, p.a.re, size_t(n * n) * sizeof(double));
    std::memcpy(qt, p.q.re, size_t(n * n) * sizeof(double));
    if (p.s.rows) {
      // F = A - B R^-1 S^T; Q~ = Q - S R^-1 S^T.
      double* sr = bump.take(n * m);
      std::memcpy(sr, p.s.re, size_t(n * m) * sizeof(double));
      if (p.r.rows) {
        double* rc = bump.take(m * m);
        std::memcpy(rc, p.r.re, size_t(m * m) * sizeof(double));
        linsolve_right_real(rc, sr, int32_t(m), int32_t(n), perm);
      }
      for (int64_t i = 0; i < n; ++i)
        for (int64_t j = 0; j < n; ++j) {
          double fb = 0.0, qs = 0.0;
          for (int64_t k = 0; k < m; ++k) {
            fb += br[i * m + k] * p.s.re[j * m + k];
            qs += sr[i * m + k] * p.s.re[j * m + k];
          }
          f[i * n + j] -= fb;
          qt[i * n + j] -= qs;
        }
    }
    for (int64_t i = 0; i < n; ++i)
      for (int64_t j = 0; j < n; ++j) {
        put(0, 0, i, j, f[i * n + j]);
        put(0, 1, i, j, -g[i * n + j]);
        put(1, 0, i, j, -qt[i * n + j]);
        put(1, 1, i, j, -f[j * n + i]);
      }
    return;
  }
  // Discrete: P = (-A^T)^-1 Q; [[A - G P, -G A^-T], [P, A^-T]].
  double* at = bump.take(n * n);
  double* pm = bump.take(n * n);
  double* ait = bump.take(n * n);
  double* gait = bump.take(n * n);
  double* gp = bump.take(n * n);
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < n; ++j) at[i * n + j] = -p.a.re[j * n + i];
  std::memcpy(pm, p.q.re, size_t(n * n) * sizeof(double));
  linsolve_left_real(at, pm, int32_t(n), int32_t(n), perm, 0);
  // A^-T from X A^T = I, and G A^-T from X A^T = G.
  for (int64_t k = 0; k < n * n; ++k) ait[k] = 0.0;
  for (int64_t i = 0; i < n; ++i) ait[i * n + i] = 1.0;
  transpose(p.a.re, n, n, at);
  linsolve_right_real(at, ait, int32_t(n), int32_t(n), perm);
  std::memcpy(gait, g, size_t(n * n) * sizeof(double));
  transpose(p.a.re, n, n, at);
  linsolve_right_real(at, gait, int32_t(n), int32_t(n), perm);
  matmul_real(int32_t(n), int32_t(n), int32_t(n), g, pm, gp);
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < n; ++j) {
      put(0, 0, i, j, p.a.re[i * n + j] - gp[i * n + j]);
      put(0, 1, i, j, -gait[i * n + j]);
      put(1, 0, i, j, pm[i * n + j]);
      put(1, 1, i, j, ait[i * n + j]);
    }
}

}  // namespace

// [X, L, K] = care(A, B, Q[, R[, S]]), care(A, G, Q, true); dare(A, B, Q[, R]).
int bi_care(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  const bool continuous = data == kContinuous;
  if (nargin < 3) return kTooFewInputs;
  if (nargin > (continuous ? 5 : 4)) return kTooManyInputs;
  if (nargout > kMaxOutputs) return kTooManyOutputs;
  Riccati p;
  p.continuous = continuous;
  int nargs = nargin;
  int depth0 = 0;  // depth of the last problem argument
  if (continuous && nargin == 4 && stk_is_logical(ctx, 0)) {
    uint8_t flag = 0;
    TN_TRY(stk_get_bool(ctx, 0, &flag));
    nargs = 3;
    depth0 = 1;
    p.given_g = flag != 0;
    if (p.given_g && nargout > kMaxOutputsWithG) return kTooManyOutputs;
  }
  TN_TRY(read_problem(ctx, nargs, depth0, &p));
  const int64_t n = p.n, m = p.m, n2 = 2 * n;
  const int nout = std::max(nargout, 1);
  // The Schur iteration on a Hamiltonian holding NaN or Inf may stop at a
  // form that looks converged and yield a clean X: X, L and K are NaN.
  if (!finite(p.a) || !finite(p.b) || !finite(p.q) || !finite(p.r) || !finite(p.s)) {
    const NanOutput xlk[kMaxOutputs] = {{int32_t(n), int32_t(n)}, {int32_t(n), 1}, {int32_t(m), int32_t(n)}};
    return la_answer_nan(ctx, nargin, xlk, nout);
  }
  // Output words: X (n x n), L (n x 1, complex at most), K (m x n).
  const int64_t out_words = n * n + 2 * n + m * n + 3 * kHeaderSlack;
  if (int64_t(ctx->desc_top) + 3 * nout >= int64_t(ctx->desc_capacity) ||
      out_words + scratch_words(n, m) > data_free_words(ctx))
    return kDataStackOverflow;
  void* free_ptr = nullptr;
  stk_free_space(ctx, nullptr, &free_ptr);
  Bump bump{static_cast<double*>(free_ptr) + out_words};
  double* t_re = bump.take(n2 * n2);
  double* t_im = bump.take(n2 * n2);
  double* u_re = bump.take(n2 * n2);
  double* u_im = bump.take(n2 * n2);
  double* keys = bump.take(n2);
  build_z(p, t_re, bump);
  uint8_t complex_form = 0;
  if (!la_schur_real(t_re, int32_t(n2), u_re, &complex_form, bump.take(2 * n2)))
    return kNoConvergence;
  if (complex_form) la_schur_real_to_complex(t_re, t_im, u_re, u_im, int32_t(n2));
  double* ti = complex_form ? t_im : nullptr;
  double* ui = complex_form ? u_im : nullptr;
  for (int64_t k = 0; k < n2; ++k) {
    const double lr = t_re[k * n2 + k], li = ti ? ti[k * n2 + k] : 0.0;
    keys[k] = continuous ? lr : (ti ? lr * lr + li * li - 1.0 : lr * lr - 1.0);
  }
  // Stable eigenvalues (key <= 0) to the front, one adjacent swap at a time.
  for (;;) {
    int64_t i = 0;
    while (i + 1 < n2 && !(keys[i] > 0.0 && keys[i + 1] <= 0.0)) ++i;
    if (i + 1 >= n2) break;
    swap_rotation(t_re, ti, u_re, ui, n2, i);
    std::swap(keys[i], keys[i + 1]);
  }
  // X = U21 U11^-1 (complex arrays: the imaginary block after the real one).
  const int64_t parts = complex_form ? 2 : 1;
  double* u11 = bump.take(parts * n * n);
  double* x = bump.take(parts * n * n);
  auto* perm = reinterpret_cast<uint32_t*>(bump.take(n + m + 1));
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < n; ++j) {
      u11[i * n + j] = u_re[i * n2 + j];
      x[i * n + j] = u_re[(n + i) * n2 + j];
      if (complex_form) {
        u11[n * n + i * n + j] = u_im[i * n2 + j];
        x[n * n + i * n + j] = u_im[(n + i) * n2 + j];
      }
    }
  if (complex_form)
    linsolve_right_complex(u11, x, int32_t(n), int32_t(n), perm);
  else
    linsolve_right_real(u11, x, int32_t(n), int32_t(n), perm);
  // K: 'c' R^-1 (B^T X + S^T); 'd' (R + B^T X B)^-1 (B^T X A + S^T).
  double* k = nullptr;
  if (nout >= 3) {
    k = bump.take(m * n);
    double* btx = bump.take(m * n);
    double* bt = bump.take(m * n);
    double* lhs = bump.take(m * m);
    transpose(p.b.re, n, m, bt);
    matmul_real(int32_t(m), int32_t(n), int32_t(n), bt, x, btx);
    if (continuous) {
      std::memcpy(k, btx, size_t(m * n) * sizeof(double));
    } else {
      matmul_real(int32_t(m), int32_t(n), int32_t(n), btx, p.a.re, k);
    }
    if (p.s.rows)
      for (int64_t i = 0; i < m; ++i)
        for (int64_t j = 0; j < n; ++j) k[i * n + j] += p.s.re[j * m + i];
    // The matrix to invert: R (identity when absent), plus B^T X B for 'd'.
    for (int64_t i = 0; i < m; ++i)
      for (int64_t j = 0; j < m; ++j)
        lhs[i * m + j] = p.r.rows ? p.r.re[i * m + j] : (i == j ? 1.0 : 0.0);
    if (!continuous) {
      double* btxb = bump.take(m * m);
      matmul_real(int32_t(m), int32_t(n), int32_t(m), btx, p.b.re, btxb);
      for (int64_t e = 0; e < m * m; ++e) lhs[e] += btxb[e];
    }
    linsolve_left_real(lhs, k, int32_t(m), int32_t(n), perm, 0);
  }
  // Push K, L, X (X ends on top); the scratch lies beyond all three. The room
  // was tested first; should a push fail anyway, the earlier ones are undone.
  const int32_t desc0 = ctx->desc_top;
  const int32_t data0 = ctx->data_top;
  auto undo = [&](int status) {
    ctx->desc_top = desc0;
    ctx->data_top = data0;
    return status;
  };
  if (nout >= 3) {
    double* kp = nullptr;
    if (int s = stk_push_matrix(ctx, int32_t(m), int32_t(n), &kp, nullptr)) return undo(s);
    std::memcpy(kp, k, size_t(m * n) * sizeof(double));
  }
  if (nout >= 2) {
    double *lr = nullptr, *li = nullptr;
    if (int s = stk_push_matrix(ctx, int32_t(n), 1, &lr, complex_form ? &li : nullptr))
      return undo(s);
    for (int64_t e = 0; e < n; ++e) {
      lr[e] = t_re[e * n2 + e];
      if (li) li[e] = t_im[e * n2 + e];
    }
  }
  double* xp = nullptr;
  if (int s = stk_push_matrix(ctx, int32_t(n), int32_t(n), &xp, nullptr)) return undo(s);
  std::memcpy(xp, x, size_t(n * n) * sizeof(double));
  return stk_remove(ctx, nout, nargin);
}
