// "!lapack" rows of LU and Cholesky factorisation and of linear systems:
// lu, det, rcond, inv, chol, mldivide and mrdivide.
#include <cmath>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/lib_calls.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "numlib/engine_ops.h"
#include "numlib/linalg/lapack_frame.h"
#include "numlib/linalg/lapack_layout.h"
#include "numlib/linalg/lapack_rows.h"
#include "numlib/linalg/nonfinite_answers.h"

namespace {

// LU of the square a (copied column-major into the arena): col, ipiv.
struct LuWork {
  double* col = nullptr;
  la_int* ipiv = nullptr;
};

bool lu_take(LapackArena* arena, const MatRef& a, LuWork* w) {
  w->col = lapack_take(arena, la_words(a.n, a.n, a.cplx()));
  w->ipiv = lapack_take_ints(arena, a.n);
  return !arena->short_of_room;
}

// The driver's status; a positive INFO (a zero pivot) is not examined.
int lu_run(const MatRef& a, const LuWork& w) {
  const la_int n = a.n;
  la_int info = 0;
  if (a.cplx()) {
    lay_cplx_to_colmajor(a.re, a.im, w.col, n, n);
    zgetrf_(&n, &n, w.col, &n, w.ipiv, &info);
  } else {
    lay_real_to_colmajor(a.re, w.col, n, n);
    dgetrf_(&n, &n, w.col, &n, w.ipiv, &info);
  }
  return lapack_status(info);
}

// Replaces the inputs by one scalar (real when im is 0, complex for any
// other im, NaN included). The scalar is pushed above them first: when it
// does not fit, the inputs are still there.
int replace_by_scalar(EngineContext* ctx, int nargin, double re, double im) {
  if (std::isnan(im)) {
    double *pr = nullptr, *pi = nullptr;
    TN_TRY(stk_push_matrix(ctx, 1, 1, &pr, &pi));
    *pr = re, *pi = im;
  } else {
    TN_TRY(stk_push_complex(ctx, re, im));
  }
  return stk_remove(ctx, 1, nargin);
}

}  // namespace

int bi_lapack_lu(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = la_outputs(nargout) > 3 ? 3 : la_outputs(nargout);
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  TN_TRY(la_fetch(ctx, 0, &a));
  TN_TRY(lapack_square(a));
  const int32_t n = a.n;
  const bool cplx = a.cplx();
  if (n == 0) {
    TN_TRY(la_room(ctx, nout, 0));
    for (int i = 1; i < nout; ++i) stk_push_empty(ctx);
    return kOk;
  }
  // Outputs pushed P, U, L (as many as asked), the factor on top.
  TN_TRY(la_room(ctx, nout, 3 * la_words(n, n, cplx)));
  MatRef out[3];
  if (nout == 3) la_push_zeros(ctx, n, n, false, &out[2]);
  if (nout >= 2) la_push(ctx, n, n, cplx, &out[1]);
  la_push(ctx, n, n, cplx, &out[0]);
  la_fetch(ctx, nout, &a);
  LapackArena arena = lapack_arena(ctx);
  LuWork w;
  la_int* perm = nullptr;
  if (lu_take(&arena, a, &w)) perm = lapack_take_ints(&arena, n);
  if (arena.short_of_room) {
    la_drop(ctx, nout);
    return kDataStackOverflow;
  }
  if (const int st = lu_run(a, w); st != kOk) {
    la_drop(ctx, nout);
    return st;
  }
  for (int32_t i = 0; i < n; ++i) perm[i] = i;
  for (int32_t k = 0; k < n; ++k) std::swap(perm[k], perm[w.ipiv[k] - 1]);
  if (nout == 1) {
    if (cplx) lay_cplx_from_colmajor(w.col, out[0].re, out[0].im, n, n);
    else lay_real_from_colmajor(w.col, out[0].re, n, n);
    return stk_remove(ctx, 1, 1);
  }
  MatRef& l = out[0];
  MatRef& u = out[1];
  if (cplx) lay_upper_cplx_from_colmajor(w.col, u.re, u.im, n, n);
  else lay_upper_real_from_colmajor(w.col, u.re, n, n);
  for (int64_t i = 0; i < n; ++i) {
    w.col[(cplx ? 2 : 1) * (i + i * n)] = 1.0;
    if (cplx) w.col[2 * (i + i * n) + 1] = 0.0;
  }
  if (nout == 2) {
    if (cplx) lay_lower_cplx_from_colmajor_permuted(w.col, l.re, l.im, n, n, perm);
    else lay_lower_real_from_colmajor_permuted(w.col, l.re, n, n, perm);
  } else {
    if (cplx) lay_lower_cplx_from_colmajor(w.col, l.re, l.im, n, n);
    else lay_lower_real_from_colmajor(w.col, l.re, n, n);
    for (int64_t i = 0; i < n; ++i) out[2].re[i * n + perm[i]] = 1.0;
  }
  return stk_remove(ctx, nout, 1);
}

int bi_lapack_det(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  TN_TRY(la_fetch(ctx, 0, &a));
  TN_TRY(lapack_square(a));
  if (a.n == 0) return replace_by_scalar(ctx, nargin, 1, 0);
  LapackArena arena = lapack_arena(ctx);
  LuWork w;
  if (!lu_take(&arena, a, &w)) return kDataStackOverflow;
  TN_TRY(lu_run(a, w));
  const int64_t n = a.n;
  double re = 1, im = 0;
  int swaps = 0;
  for (int64_t k = 0; k < n; ++k) {
    if (w.ipiv[k] != k + 1) ++swaps;
    if (a.cplx()) {
      const double xr = w.col[2 * (k + k * n)], xi = w.col[2 * (k + k * n) + 1];
      const double r = re * xr - im * xi;
      im = re * xi + im * xr;
      re = r;
    } else {
      re *= w.col[k + k * n];
    }
  }
  if (swaps % 2) re = -re, im = -im;
  return replace_by_scalar(ctx, nargin, re, im);
}

int bi_lapack_rcond(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  TN_TRY(la_fetch(ctx, 0, &a));
  TN_TRY(lapack_square(a));
  if (a.n == 0) return replace_by_scalar(ctx, nargin, 1, 0);
  // The condition estimator refuses a NaN norm. An infinite norm (no NaN)
  // has the reciprocal 0, the estimate of an exactly singular matrix.
  if (!la_finite(a)) {
    bool nan = false;
    for (int64_t k = 0; k < a.count(); ++k) nan = nan || std::isnan(a.re[k]) || (a.im && std::isnan(a.im[k]));
    return replace_by_scalar(ctx, nargin, nan ? NAN : 0.0, 0);
  }
  const la_int n = a.n;
  LapackArena arena = lapack_arena(ctx);
  LuWork w;
  lu_take(&arena, a, &w);
  double* work = lapack_take(&arena, 4 * int64_t{n});
  // DGECON's IWORK (n integers) or ZGECON's RWORK (2n doubles).
  auto* iwork = reinterpret_cast<la_int*>(lapack_take(&arena, 2 * int64_t{n}));
  if (arena.short_of_room) return kDataStackOverflow;
  if (a.cplx()) lay_cplx_to_colmajor(a.re, a.im, w.col, n, n);
  else lay_real_to_colmajor(a.re, w.col, n, n);
  const double anorm = a.cplx() ? zlange_("1", &n, &n, w.col, &n, work, kCharLen)
                                : dlange_("1", &n, &n, w.col, &n, work, kCharLen);
  la_int info = 0;
  double rc = 0;
  // DGETRF's positive INFO (a zero pivot) leaves the estimator to report 0.
  if (a.cplx()) {
    zgetrf_(&n, &n, w.col, &n, w.ipiv, &info);
    TN_TRY(lapack_status(info));
    zgecon_("1", &n, w.col, &n, &anorm, &rc, work, reinterpret_cast<double*>(iwork), &info, kCharLen);
  } else {
    dgetrf_(&n, &n, w.col, &n, w.ipiv, &info);
    TN_TRY(lapack_status(info));
    dgecon_("1", &n, w.col, &n, &anorm, &rc, work, iwork, &info, kCharLen);
  }
  TN_TRY(lapack_status(info));
  return replace_by_scalar(ctx, nargin, rc, 0);
}

int bi_lapack_inv(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  TN_TRY(la_fetch(ctx, 0, &a));
  TN_TRY(lapack_square(a));
  if (a.n == 0) return kOk;
  const la_int n = a.n;
  const bool cplx = a.cplx();
  if (n > 1 && !la_finite(a)) {
    // No inverse is known; the limits that elimination may reach through an
    // Inf depend on its pivot order (the engine's own LU reaches others).
    // A scalar is 1/x, as the elementwise operator gives.
    la_nan_fill(NanOutput{n, n, cplx}, a);
    return kOk;
  }
  LapackArena arena = lapack_arena(ctx);
  LuWork w;
  lu_take(&arena, a, &w);
  double* b = lapack_take(&arena, la_words(n, n, cplx));
  if (arena.short_of_room) return kDataStackOverflow;
  la_int info = 0;
  if (cplx) {
    lay_cplx_to_colmajor(a.re, a.im, w.col, n, n);
    lay_identity_complex(b, n);
    zgesv_(&n, &n, w.col, &n, w.ipiv, b, &n, &info);
  } else {
    lay_real_to_colmajor(a.re, w.col, n, n);
    lay_identity_real(b, n);
    dgesv_(&n, &n, w.col, &n, w.ipiv, b, &n, &info);
  }
  TN_TRY(lapack_status(info));
  if (info > 0) {
    // Exactly singular: a real matrix of +Inf in the input's place.
    stk_drop(ctx);
    MatRef r;
    la_push(ctx, n, n, false, &r);
    lay_fill_inf(r.re, n, n);
    return kOk;
  }
  if (cplx) lay_cplx_from_colmajor(b, a.re, a.im, n, n);
  else lay_real_from_colmajor(b, a.re, n, n);
  return kOk;
}

int bi_lapack_chol(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  TN_TRY(la_fetch(ctx, 0, &a));
  TN_TRY(lapack_square(a));
  if (a.n == 0) return kOk;
  // A NaN or Inf in the triangle the factor reads makes no positive definite
  // matrix. The reference driver stops at a NaN pivot, OpenBLAS's goes on:
  // the answer must not depend on which library is installed.
  if (!la_finite_upper(a)) return kBadArgument;
  const la_int n = a.n;
  LapackArena arena = lapack_arena(ctx);
  double* col = lapack_take(&arena, la_words(n, n, a.cplx()));
  if (!col) return kDataStackOverflow;
  la_int info = 0;
  if (a.cplx()) {
    lay_cplx_to_colmajor(a.re, a.im, col, n, n);
    zpotrf_("U", &n, col, &n, &info, kCharLen);
  } else {
    lay_real_to_colmajor(a.re, col, n, n);
    dpotrf_("U", &n, col, &n, &info, kCharLen);
  }
  TN_TRY(lapack_status(info));
  if (info > 0) return kBadArgument;
  if (a.cplx()) lay_upper_cplx_from_colmajor(col, a.re, a.im, n, n);
  else lay_upper_real_from_colmajor(col, a.re, n, n);
  return kOk;
}

// --- Division ----------------------------------------------------------------

namespace {

constexpr double kLeastSquaresRcondPerOrder = 2.220446049250313e-16;

// The scalar fast path: every element of the other operand divided by the
// real divisor. False when the operands are not of that shape.
bool divide_by_real_scalar(EngineContext* ctx, int divisor_depth) {
  const uint32_t* d = desc_at(ctx, divisor_depth);
  if (d[0] != kKindReal || d[1] != 1 || d[2] != 1) return false;
  // Two real scalars, the case of scalar loops: their words are the two
  // top data words, the quotient goes to the lower one.
  if (top_two_real_scalars(ctx)) {
    uint64_t* top = data_words(ctx) + ctx->data_top;
    const double upper = tn::ld_f64(top - 1), lower = tn::ld_f64(top - 2);
    tn::st_f64(top - 2, divisor_depth == 0 ? lower / upper : upper / lower);
    stk_drop(ctx);
    return true;
  }
  const int other = 1 - divisor_depth;
  double* re = nullptr;
  double* im = nullptr;
  int64_t count = 0;
  if (stk_get_double_array(ctx, other, nullptr, nullptr, &count, &re, &im) != kOk) return false;
  double* dv = nullptr;
  stk_get_double_array(ctx, divisor_depth, nullptr, nullptr, nullptr, &dv, nullptr);
  // Copies the getters never saw: through their addresses a store to re[k]
  // might change re or count (-fno-strict-aliasing), and the loop would
  // reload both at every element instead of being vectorised.
  const double s = *dv;
  double* const rp = re;
  double* const ip = im;
  const int64_t cnt = count;
  for (int64_t k = 0; k < cnt; ++k) rp[k] /= s;
  if (ip)
    for (int64_t k = 0; k < cnt; ++k) ip[k] /= s;
  stk_remove(ctx, divisor_depth, 1);
  return true;
}

// Elementwise division of the two top items (ldivide or rdivide).
int divide_elementwise(EngineContext* ctx, int op) {
  auto fn = numlib_engine_ops().elementwise_binary;
  return fn ? fn(ctx, op) : kNotSupported;
}

// X of a system whose matrix holds NaN or Inf: no element is known. (What
// elimination reaches through an Inf depends on its pivot order, and the
// engine's own solvers, whose order differs, answer the same way.)
int nan_solution(MatRef* x) {
  la_nan_fill(NanOutput{x->m, x->n, x->cplx()}, *x);
  return kOk;
}

// Solves A X = B (A n x n at `a`, B n x p) into x (n x p), or fills x with
// +Inf (real) when A is exactly singular. transposed: A and B are given
// row by row as A^T and B^T (the right division).
int solve_square(const MatRef& a, const MatRef& b, bool transposed, LapackArena* arena, MatRef* x) {
  const la_int n = a.n;
  const bool cplx = a.cplx();
  const la_int p = transposed ? b.m : b.n;
  const la_int nrhs = (!cplx && b.cplx()) ? 2 * p : p;
  double* col = lapack_take(arena, la_words(n, n, cplx));
  la_int* ipiv = lapack_take_ints(arena, n);
  double* rhs = lapack_take(arena, la_words(n, nrhs, cplx));
  if (arena->short_of_room) return kDataStackOverflow;
  if (!la_finite(a)) return nan_solution(x);
  // A real system with a complex right-hand side: the real parts, then the
  // imaginary parts, as further columns.
  const int64_t block = int64_t{n} * p;
  if (transposed) {
    if (cplx) {
      lay_cplx_to_colmajor_transposed(a.re, a.im, col, n, n);
      lay_cplx_to_colmajor_transposed(b.re, b.im, rhs, b.m, b.n);
    } else {
      lay_real_to_colmajor_transposed(a.re, col, n, n);
      lay_real_to_colmajor_transposed(b.re, rhs, b.m, b.n);
      if (b.cplx()) lay_real_to_colmajor_transposed(b.im, rhs + block, b.m, b.n);
    }
  } else {
    if (cplx) {
      lay_cplx_to_colmajor(a.re, a.im, col, n, n);
      lay_cplx_to_colmajor(b.re, b.im, rhs, n, p);
    } else {
      lay_real_to_colmajor(a.re, col, n, n);
      lay_real_to_colmajor(b.re, rhs, n, p);
      if (b.cplx()) lay_real_to_colmajor(b.im, rhs + block, n, p);
    }
  }
  la_int info = 0;
  if (cplx) zgesv_(&n, &nrhs, col, &n, ipiv, rhs, &n, &info);
  else dgesv_(&n, &nrhs, col, &n, ipiv, rhs, &n, &info);
  TN_TRY(lapack_status(info));
  if (info > 0) {
    x->im = nullptr;
    lay_fill_inf(x->re, x->m, x->n);
    return kOk;
  }
  if (transposed) {
    if (cplx) lay_cplx_from_colmajor_transposed(rhs, x->re, x->im, n, p);
    else {
      lay_real_from_colmajor_transposed(rhs, x->re, n, p);
      if (x->im) lay_real_from_colmajor_transposed(rhs + block, x->im, n, p);
    }
  } else {
    if (cplx) lay_cplx_from_colmajor(rhs, x->re, x->im, n, p);
    else {
      lay_real_from_colmajor(rhs, x->re, n, p);
      if (x->im) lay_real_from_colmajor(rhs + block, x->im, n, p);
    }
  }
  return kOk;
}

// Least squares A X = B for a non-square A (m x n), B m x p, X n x p; with
// `right`, the problem is B^H X^H = A^H of the division X = A / B, and a, b
// here are the engine's divisor and dividend of that division.
int solve_least_squares(const MatRef& a, const MatRef& b, bool right, LapackArena* arena, MatRef* x) {
  // Driver problem: M x N matrix, NRHS columns.
  const la_int m = right ? a.n : a.m, n = right ? a.m : a.n;
  const la_int p = right ? b.m : b.n;
  const bool cplx = a.cplx();
  const la_int nrhs = (!cplx && b.cplx()) ? 2 * p : p;
  const la_int ldb = m > n ? m : n;
  double* col = lapack_take(arena, la_words(m, n, cplx));
  double* rhs = lapack_take(arena, la_words(ldb, nrhs, cplx));
  double* s = lapack_take(arena, m < n ? m : n);
  double* rwork = cplx ? lapack_take(arena, 5 * int64_t{m < n ? m : n}) : nullptr;
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(arena, cplx, ldb, nrhs, &work, &lwork)) return kDataStackOverflow;
  if (!la_finite(a)) return nan_solution(x);
  const int64_t block = int64_t{ldb} * p;
  if (cplx) std::memset(rhs, 0, size_t(2 * ldb * int64_t{nrhs}) * 8);
  else std::memset(rhs, 0, size_t(ldb * int64_t{nrhs}) * 8);
  if (right) {
    if (cplx) {
      lay_cplx_to_colmajor_ctransposed(a.re, a.im, col, a.m, a.n);
      lay_cplx_to_colmajor_ctransposed_ld(b.re, b.im, rhs, ldb, b.m, b.n);
    } else {
      lay_real_to_colmajor_transposed(a.re, col, a.m, a.n);
      lay_real_to_colmajor_transposed_ld(b.re, rhs, ldb, b.m, b.n);
      if (b.cplx()) lay_real_to_colmajor_transposed_ld(b.im, rhs + block, ldb, b.m, b.n);
    }
  } else {
    if (cplx) {
      lay_cplx_to_colmajor(a.re, a.im, col, m, n);
      lay_cplx_to_colmajor_ld(b.re, b.im, rhs, ldb, m, p);
    } else {
      lay_real_to_colmajor(a.re, col, m, n);
      lay_real_to_colmajor_ld(b.re, rhs, ldb, m, p);
      if (b.cplx()) lay_real_to_colmajor_ld(b.im, rhs + block, ldb, m, p);
    }
  }
  const double rcond = ldb * kLeastSquaresRcondPerOrder;
  la_int rank = 0, info = 0;
  if (cplx) zgelss_(&m, &n, &nrhs, col, &m, rhs, &ldb, s, &rcond, &rank, work, &lwork, rwork, &info);
  else dgelss_(&m, &n, &nrhs, col, &m, rhs, &ldb, s, &rcond, &rank, work, &lwork, &info);
  TN_TRY(lapack_status(info));
  if (info > 0) return kNoConvergence;
  // The solution: n x p in the first n rows of rhs.
  if (right) {
    // X^H (n x p, ld ldb) back to X (p x n).
    if (cplx) lay_cplx_from_colmajor_ctransposed_ld(rhs, ldb, x->re, x->im, n, p);
    else {
      lay_real_from_colmajor_transposed_ld(rhs, ldb, x->re, n, p);
      if (x->im) lay_real_from_colmajor_transposed_ld(rhs + block, ldb, x->im, n, p);
    }
  } else {
    if (cplx) lay_cplx_from_colmajor_ld(rhs, ldb, x->re, x->im, n, p);
    else {
      lay_real_from_colmajor_ld(rhs, ldb, x->re, n, p);
      if (x->im) lay_real_from_colmajor_ld(rhs + block, ldb, x->im, n, p);
    }
  }
  return kOk;
}

// True for a numeric, char or logical value of one element: a divisor that
// the elementwise operator takes, with its class rules.
bool one_element(EngineContext* ctx, int depth) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] == kKindReal || d[0] == kKindComplex) return d[1] == 1 && d[2] == 1;
  TypedView v;
  return typed_view(ctx, depth, &v) && v.count == 1;
}

// A \ B (left) or A / B (right) with A at depth 1 and B on top.
int lapack_divide(EngineContext* ctx, bool left) {
  const int divisor = left ? 1 : 0;
  if (divide_by_real_scalar(ctx, divisor)) return kOk;
  const int op = left ? '\\' : '/';
  if (stk_argcheck(ctx, 2, "CC") != kOk) {
    if (stk_argcheck(ctx, 2, left ? "cA" : "Ac") == kOk) return divide_elementwise(ctx, op);
    // Any other scalar divisor goes to the elementwise operator as it is:
    // made double here, an integer or single quotient would lose its class.
    if (one_element(ctx, divisor)) return divide_elementwise(ctx, op);
    return kWrongArgType;
  }
  MatRef a, b;
  la_fetch(ctx, 1, &a);
  la_fetch(ctx, 0, &b);
  const MatRef& dv = left ? a : b;
  if (dv.m == 1 && dv.n == 1) return divide_elementwise(ctx, op);
  if (left ? (b.m > 0 && b.m != a.m) : (a.n > 0 && a.n != b.n)) return kIncompatibleSize;
  if (left ? (a.m == 0 || b.m == 0) : (a.n == 0 || b.n == 0)) {
    TN_TRY(stk_remove(ctx, 0, 2));
    return stk_push_empty(ctx);
  }
  // X: n x p for A \ B, m x n(B's rows) for A / B.
  const int32_t xm = left ? a.n : a.m, xn = left ? b.n : b.m;
  const bool cplx = a.cplx() || b.cplx();
  TN_TRY(la_room(ctx, 1, la_words(xm, xn, cplx)));
  MatRef x;
  la_push(ctx, xm, xn, cplx, &x);
  la_fetch(ctx, 2, &a);
  la_fetch(ctx, 1, &b);
  LapackArena arena = lapack_arena(ctx);
  int st;
  const MatRef& sys = left ? a : b;
  const MatRef& rhs = left ? b : a;
  // A complex system makes its right-hand side complex: read with zeros.
  if (sys.m == sys.n) st = solve_square(sys, rhs, !left, &arena, &x);
  else st = solve_least_squares(sys, rhs, !left, &arena, &x);
  if (st != kOk) {
    la_drop(ctx, 1);
    return st;
  }
  if (cplx && !x.im) {
    // Singular: the result is real.
    stk_drop(ctx);
    MatRef r;
    la_push(ctx, xm, xn, false, &r);
    lay_fill_inf(r.re, xm, xn);
  }
  return stk_remove(ctx, 1, 2);
}

}  // namespace

int bi_lapack_mldivide(EngineContext* ctx, int, int, uintptr_t) { return lapack_divide(ctx, true); }
int bi_lapack_mrdivide(EngineContext* ctx, int, int, uintptr_t) { return lapack_divide(ctx, false); }

namespace {

// Two real scalars are divided by these rows exactly as by the operators
// (divide_by_real_scalar's first case: one IEEE division, the quotient over
// the lower operand), so the interpreter may divide such a call inline.
const bool kDivisionsNoted = (lib_note_scalar_operator(bi_lapack_mldivide, kOpMldivide) == kOk) &
                             (lib_note_scalar_operator(bi_lapack_mrdivide, kOpMrdivide) == kOk);

}  // namespace
