// Lyapunov and Sylvester equations: the Hessenberg-Schur kernel, the bilinear
// map of the discrete equation onto the continuous one, and the lyap and dlyap
// built-ins. The built-ins solve in a pushed copy of C with their scratch
// above it, so a failure drops the copy and leaves the arguments as they were.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/control/matrix_equations.h"
#include "numlib/dense_lu.h"
#include "numlib/householder.h"
#include "numlib/linalg/nonfinite_answers.h"
#include "numlib/matmul.h"
#include "numlib/schur.h"

namespace {


void transpose_square(double* a, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = i + 1; j < n; ++j) std::swap(a[i * n + j], a[j * n + i]);
}

// c (m x n) := a^T (a is k x m) times b (k x n).
void matmul_tn(int64_t m, int64_t k, int64_t n, const double* a, const double* b, double* c) {
  std::fill(c, c + m * n, 0.0);
  for (int64_t l = 0; l < k; ++l)
    for (int64_t i = 0; i < m; ++i) {
      const double ail = a[l * m + i];
      for (int64_t j = 0; j < n; ++j) c[i * n + j] += ail * b[l * n + j];
    }
}

// c (m x n) := a (m x k) times b^T (b is n x k).
void matmul_nt(int64_t m, int64_t k, int64_t n, const double* a, const double* b, double* c) {
  for (int64_t i = 0; i < m; ++i)
    for (int64_t j = 0; j < n; ++j) {
      double s = 0.0;
      for (int64_t l = 0; l < k; ++l) s += a[i * k + l] * b[j * k + l];
      c[i * n + j] = s;
    }
}

bool finite(const double* p, int64_t count) {
  return std::all_of(p, p + count, [](double x) { return std::isfinite(x); });
}

// X (m x n) all NaN in place of the nargin arguments.
int nan_solution(EngineContext* ctx, int nargin, int64_t m, int64_t n) {
  const NanOutput x{int32_t(m), int32_t(n)};
  return la_answer_nan(ctx, nargin, &x, 1);
}

// A real matrix argument: 44 for anything else (complex included).
int real_matrix(EngineContext* ctx, int depth, int32_t* rows, int32_t* cols, double** re) {
  double* im = nullptr;
  if (stk_get_matrix(ctx, depth, rows, cols, re, &im) != kOk || im) return kWrongArgType;
  return kOk;
}

}  // namespace

int64_t la_workspace_size(int64_t m, int64_t n) {
  return n * n + m * m + std::max({(n + 4 * m + 4) * m, std::max(m, n), m * n});
}

int64_t dlyap_workspace_size(int64_t n) { return la_workspace_size(n, n) + 2 * n * n; }

bool lyap_kernel_real(double* a, int32_t m, double* b, int32_t n, double* c, double* work) {
  const int64_t mm = m, nn = n;
  double* q = work;             // m x m: the left transformation
  double* z = q + mm * mm;      // n x n: the right transformation
  double* scratch = z + nn * nn;
  // r(i, j): the right matrix, T^T without B (read from a), else S^T (in b).
  const double* rsrc;
  bool right_transposed;
  if (!b) {
    if (!la_schur_real(a, m, q, nullptr, scratch)) return false;
    std::memcpy(z, q, size_t(mm * mm) * sizeof(double));
    rsrc = a;
    right_transposed = true;
  } else {
    la_hessenberg_real(a, m, q, scratch);
    transpose_square(b, nn);
    if (!la_schur_real(b, n, z, nullptr, scratch)) return false;
    transpose_square(b, nn);
    rsrc = b;
    right_transposed = false;
  }
  auto r = [&](int64_t i, int64_t j) { return right_transposed ? rsrc[j * nn + i] : rsrc[i * nn + j]; };
  // C' = -Q^T C Z, built in scratch and copied back into c (which then holds Y).
  double* t = scratch;  // m x n
  matmul_tn(mm, mm, nn, q, c, t);
  matmul_real(m, n, n, t, z, c);
  for (int64_t k = 0; k < mm * nn; ++k) c[k] = -c[k];
  // Columns of Y from the last to the first; rhs and the system in scratch.
  double* sys = scratch;                 // up to 2m x 2m
  double* rhs = sys + 4 * mm * mm;       // up to 2m
  auto* perm = reinterpret_cast<uint32_t*>(rhs + 2 * mm);  // 2m words
  for (int64_t j = nn - 1; j >= 0;) {
    const bool pair = j > 0 && r(j - 1, j) != 0.0;
    const int64_t w = pair ? 2 : 1;  // columns solved together
    const int64_t j0 = j - w + 1;
    for (int64_t s = 0; s < w; ++s)
      for (int64_t i = 0; i < mm; ++i) {
        double v = c[i * nn + j0 + s];
        for (int64_t k = j + 1; k < nn; ++k) v -= c[i * nn + k] * r(k, j0 + s);
        rhs[s * mm + i] = v;
      }
    const int64_t dim = w * mm;
    std::fill(sys, sys + dim * dim, 0.0);
    // Block (s, t) of the system: left [if s == t] + r(j0 + t, j0 + s) I.
    for (int64_t s = 0; s < w; ++s)
      for (int64_t u = 0; u < w; ++u) {
        const double coef = r(j0 + u, j0 + s);
        for (int64_t i = 0; i < mm; ++i) {
          double* row = sys + (s * mm + i) * dim + u * mm;
          if (s == u)
            for (int64_t k = 0; k < mm; ++k) row[k] = a[i * mm + k];
          row[i] += coef;
        }
      }
    linsolve_left_real(sys, rhs, int32_t(dim), 1, perm, 0);
    for (int64_t s = 0; s < w; ++s)
      for (int64_t i = 0; i < mm; ++i) c[i * nn + j0 + s] = rhs[s * mm + i];
    j -= w;
  }
  // X = Q Y Z^T.
  matmul_real(m, m, n, q, c, t);
  matmul_nt(mm, nn, nn, t, z, c);
  return true;
}

bool dlyap_kernel_real(double* a, int32_t n, double* c, double* work) {
  const int64_t nn = n, n2 = nn * nn;
  double* at = work;        // the map of A, then its copy for the kernel
  double* w = at + n2;      // W = At C - C, then the new right-hand side
  double* kw = w + n2;      // the kernel's workspace
  auto* perm = reinterpret_cast<uint32_t*>(kw);
  // At = (A + I)^-1 (A - I): a becomes A + I, at receives A - I.
  for (int64_t i = 0; i < nn; ++i)
    for (int64_t j = 0; j < nn; ++j) at[i * nn + j] = a[i * nn + j] - (i == j ? 1.0 : 0.0);
  for (int64_t i = 0; i < nn; ++i) a[i * nn + i] += 1.0;
  linsolve_left_real(a, at, n, n, perm, 0);
  // W = At C - C; C~ = (W At^T - W) / 2, into c.
  matmul_real(n, n, n, at, c, w);
  for (int64_t k = 0; k < n2; ++k) w[k] -= c[k];
  matmul_nt(nn, nn, nn, w, at, c);
  for (int64_t k = 0; k < n2; ++k) c[k] = 0.5 * (c[k] - w[k]);
  return lyap_kernel_real(at, n, nullptr, n, c, kw);
}

// X = lyap(A, C) or lyap(A, B, C).
int bi_lyap(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin < 2) return kTooFewInputs;
  if (nargin > 3) return kTooManyInputs;
  int32_t am = 0, an = 0, bm = 0, bn = 0, cm = 0, cn = 0;
  double *ap = nullptr, *bp = nullptr, *cp = nullptr;
  TN_TRY(real_matrix(ctx, nargin - 1, &am, &an, &ap));
  if (nargin == 3) TN_TRY(real_matrix(ctx, 1, &bm, &bn, &bp));
  TN_TRY(real_matrix(ctx, 0, &cm, &cn, &cp));
  if (nargin == 3 && (bm != bn || bn != cn)) return kIncompatibleSize;
  if (am != an || an != cm) return kIncompatibleSize;
  // Without B the right matrix is A^T: C must be square too.
  if (nargin == 2 && cn != cm) return kIncompatibleSize;
  const int64_t m = cm, n = cn;
  // NaN or Inf in any argument: the Schur iteration may give up (9) or pass
  // the value on, as the arguments happen to lie; X is NaN either way.
  if (!finite(ap, am * an) || (nargin == 3 && !finite(bp, bm * bn)) || !finite(cp, m * n))
    return nan_solution(ctx, nargin, m, n);
  const int64_t scratch = m * m + (nargin == 3 ? n * n : 0) + la_workspace_size(m, n);
  if (!desc_room(ctx) || m * n + 8 + scratch > data_free_words(ctx)) return kDataStackOverflow;
  double* x = nullptr;
  TN_TRY(stk_push_matrix(ctx, int32_t(m), int32_t(n), &x, nullptr));
  real_matrix(ctx, nargin, &am, &an, &ap);
  if (nargin == 3) real_matrix(ctx, 2, &bm, &bn, &bp);
  real_matrix(ctx, 1, &cm, &cn, &cp);
  void* free_ptr = nullptr;
  stk_free_space(ctx, nullptr, &free_ptr);
  double* acopy = static_cast<double*>(free_ptr);
  double* bcopy = nargin == 3 ? acopy + m * m : nullptr;
  double* work = acopy + m * m + (nargin == 3 ? n * n : 0);
  std::memcpy(acopy, ap, size_t(m * m) * sizeof(double));
  if (bcopy) std::memcpy(bcopy, bp, size_t(n * n) * sizeof(double));
  std::memcpy(x, cp, size_t(m * n) * sizeof(double));
  if (!lyap_kernel_real(acopy, int32_t(m), bcopy, int32_t(n), x, work)) {
    stk_drop(ctx);
    return kNoConvergence;
  }
  return stk_remove(ctx, 1, nargin);
}

// X = dlyap(A, C).
int bi_dlyap(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin != 2) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  int32_t am = 0, an = 0, cm = 0, cn = 0;
  double *ap = nullptr, *cp = nullptr;
  TN_TRY(real_matrix(ctx, 1, &am, &an, &ap));
  TN_TRY(real_matrix(ctx, 0, &cm, &cn, &cp));
  if (cm != cn || am != an || am != cm) return kBadSize;
  const int64_t n = cn;
  if (!finite(ap, n * n) || !finite(cp, n * n)) return nan_solution(ctx, 2, n, n);
  const int64_t scratch = n * n + dlyap_workspace_size(n);
  if (!desc_room(ctx) || n * n + 8 + scratch > data_free_words(ctx)) return kDataStackOverflow;
  double* x = nullptr;
  TN_TRY(stk_push_matrix(ctx, int32_t(n), int32_t(n), &x, nullptr));
  real_matrix(ctx, 2, &am, &an, &ap);
  real_matrix(ctx, 1, &cm, &cn, &cp);
  void* free_ptr = nullptr;
  stk_free_space(ctx, nullptr, &free_ptr);
  double* acopy = static_cast<double*>(free_ptr);
  std::memcpy(acopy, ap, size_t(n * n) * sizeof(double));
  std::memcpy(x, cp, size_t(n * n) * sizeof(double));
  if (!dlyap_kernel_real(acopy, int32_t(n), x, acopy + n * n)) {
    stk_drop(ctx);
    return kNoConvergence;
  }
  return stk_remove(ctx, 1, 2);
}
