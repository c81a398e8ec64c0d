// "!lapack" rows over the SVD, least-squares and QR drivers: svd, rank,
// orth, null, pinv and qr.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "numlib/linalg/lapack_frame.h"
#include "numlib/linalg/lapack_layout.h"
#include "numlib/linalg/lapack_rows.h"
#include "numlib/linalg/nonfinite_answers.h"

namespace {

constexpr double kEpsPerOrder = 2.220446049250313e-16;

// One DGESVD/ZGESVD call on a copy of a: s (k values), u (m x ucols, ld m),
// vt (n x n, ld n) as the jobs ask ('N', 'S' or 'A').
struct SvdWork {
  double* s = nullptr;
  double* u = nullptr;
  double* vt = nullptr;
};

// LAPACK leaves its results for a NaN or Inf unspecified: the
// divide-and-conquer driver refuses a NaN (INFO -4, outputs unwritten), and
// the QR driver's scaling reports one through XERBLA. A matrix that is not
// finite gets what the engine's own kernel leaves, NaN values and vectors,
// without a driver call.
bool all_finite(const MatRef& a) { return la_finite(a); }

void fill_nan(double* p, int64_t words) { std::fill(p, p + words, NAN); }

int run_svd(const MatRef& a, char jobu, char jobvt, LapackArena* arena, SvdWork* w) {
  const la_int m = a.m, n = a.n, k = std::min(m, n);
  const bool cplx = a.cplx();
  double* col = lapack_take(arena, la_words(m, n, cplx));
  w->s = lapack_take(arena, k);
  const la_int ucols = jobu == 'A' ? m : (jobu == 'S' ? k : 1);
  w->u = jobu == 'N' ? lapack_take(arena, 2) : lapack_take(arena, la_words(m, ucols, cplx));
  w->vt = jobvt == 'N' ? lapack_take(arena, 2) : lapack_take(arena, la_words(n, n, cplx));
  double* rwork = cplx ? lapack_take(arena, 5 * int64_t{k}) : nullptr;
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(arena, cplx, std::max(m, n), 0, &work, &lwork)) return kDataStackOverflow;
  if (!all_finite(a)) {
    fill_nan(w->s, k);
    if (jobu != 'N') fill_nan(w->u, la_words(m, ucols, cplx));
    if (jobvt != 'N') fill_nan(w->vt, la_words(n, n, cplx));
    return kOk;
  }
  const la_int ldu = jobu == 'N' ? 1 : m, ldvt = jobvt == 'N' ? 1 : n;
  const char ju[2] = {jobu, 0}, jv[2] = {jobvt, 0};
  la_int info = 0;
  if (cplx) {
    lay_cplx_to_colmajor(a.re, a.im, col, m, n);
    zgesvd_(ju, jv, &m, &n, col, &m, w->s, w->u, &ldu, w->vt, &ldvt, work, &lwork, rwork, &info,
            kCharLen, kCharLen);
  } else {
    lay_real_to_colmajor(a.re, col, m, n);
    dgesvd_(ju, jv, &m, &n, col, &m, w->s, w->u, &ldu, w->vt, &ldvt, work, &lwork, &info, kCharLen,
            kCharLen);
  }
  TN_TRY(lapack_status(info));
  return info > 0 ? int{kNoConvergence} : int{kOk};
}

// The divide-and-conquer driver's least LWORK (elements), RWORK and IWORK
// for JOBZ "S" or "A", as its documentation states them: below these it
// refuses the call, so the row answers "Data stack overflow" first.
int64_t gesdd_min_work(bool cplx, char jobz, int64_t mn, int64_t mx) {
  if (cplx) return mn * mn + 2 * mn + mx;
  return jobz == 'A' ? 4 * mn * mn + 6 * mn + mx : 4 * mn * mn + 7 * mn;
}
int64_t gesdd_rwork(int64_t mn, int64_t mx) { return mn * std::max(5 * mn + 7, 2 * mx + 2 * mn + 1); }
constexpr int64_t kGesddIworkPerOrder = 8;

// One DGESDD/ZGESDD call on a copy of a with JOBZ "A" (U m x m, VT n x n)
// or "S" (U m x k, VT k x n): the same singular values as DGESVD's within
// rounding, and singular vectors that may differ from its by unit factors
// (signs for real data), several times faster for larger matrices.
int run_svd_dc(const MatRef& a, char jobz, LapackArena* arena, SvdWork* w, la_int* ldvt) {
  const la_int m = a.m, n = a.n, k = std::min(m, n), big = std::max(m, n);
  const bool cplx = a.cplx();
  const la_int ucols = jobz == 'A' ? m : k, vtrows = jobz == 'A' ? n : k;
  double* col = lapack_take(arena, la_words(m, n, cplx));
  w->s = lapack_take(arena, k);
  w->u = lapack_take(arena, la_words(m, ucols, cplx));
  w->vt = lapack_take(arena, la_words(vtrows, n, cplx));
  double* rwork = cplx ? lapack_take(arena, gesdd_rwork(k, big)) : nullptr;
  la_int* iwork = lapack_take_ints(arena, kGesddIworkPerOrder * int64_t{k});
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(arena, cplx, big, 0, &work, &lwork) || lwork < gesdd_min_work(cplx, jobz, k, big))
    return kDataStackOverflow;
  *ldvt = vtrows;
  if (!all_finite(a)) {
    fill_nan(w->s, k);
    fill_nan(w->u, la_words(m, ucols, cplx));
    fill_nan(w->vt, la_words(vtrows, n, cplx));
    return kOk;
  }
  const char jz[2] = {jobz, 0};
  la_int info = 0;
  if (cplx) {
    lay_cplx_to_colmajor(a.re, a.im, col, m, n);
    zgesdd_(jz, &m, &n, col, &m, w->s, w->u, &m, w->vt, ldvt, work, &lwork, rwork, iwork, &info, kCharLen);
  } else {
    lay_real_to_colmajor(a.re, col, m, n);
    dgesdd_(jz, &m, &n, col, &m, w->s, w->u, &m, w->vt, ldvt, work, &lwork, iwork, &info, kCharLen);
  }
  TN_TRY(lapack_status(info));
  return info > 0 ? int{kNoConvergence} : int{kOk};
}

// Leading values above max(m, n) s1 eps (a NaN stops the count).
int32_t rank_count(const double* s, int32_t k, double tol) {
  int32_t r = 0;
  while (r < k && s[r] > tol) ++r;
  return r;
}

double default_tol(const MatRef& a, const double* s) {
  return std::max(a.m, a.n) * s[0] * kEpsPerOrder;
}

// V (n x q) from VT (column-major, ld rows, n columns): V[i][j] =
// conj(VT[c0 + j][i]), which is element i * ld + c0 + j of the array read row by row.
void v_from_vt(const double* vt, int64_t ld, bool cplx, int32_t n, int32_t q, int32_t c0, MatRef* v) {
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < q; ++j) {
      const int64_t at = i * ld + c0 + j;
      if (cplx) {
        v->re[i * q + j] = vt[2 * at];
        v->im[i * q + j] = -vt[2 * at + 1];
      } else {
        v->re[i * q + j] = vt[at];
      }
    }
}

}  // namespace

int bi_lapack_svd(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = std::min(la_outputs(nargout), 3);
  TN_TRY(stk_argcheck(ctx, nargin, "C[i"));
  bool econ = false;
  if (nargin == 2) {
    double flag = 1;
    TN_TRY(stk_get_real_scalar(ctx, 0, &flag));
    econ = flag == 0;
  }
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  const int32_t m = a.m, n = a.n, k = std::min(m, n);
  const bool cplx = a.cplx();
  if (k == 0) {
    TN_TRY(la_room(ctx, nout, 0));
    TN_TRY(stk_remove(ctx, 0, nargin));
    for (int i = 0; i < nout; ++i) stk_push_empty(ctx);
    return kOk;
  }
  const int32_t p = econ ? k : m, q = econ ? k : n;
  // Outputs, deepest first: V, S, U (or the values alone).
  const int64_t words = nout == 1 ? k : la_words(n, q, cplx) + la_words(p, q, false) + la_words(m, p, cplx);
  TN_TRY(la_room(ctx, nout, words));
  MatRef out[3];
  if (nout == 1) {
    la_push(ctx, k, 1, false, &out[0]);
  } else {
    if (nout == 3) la_push(ctx, n, q, cplx, &out[2]);
    la_push_zeros(ctx, p, q, false, &out[1]);
    la_push(ctx, m, p, cplx, &out[0]);
  }
  la_fetch(ctx, nargin - 1 + nout, &a);
  LapackArena arena = lapack_arena(ctx);
  SvdWork w;
  la_int ldvt = n;
  // The values alone come from DGESVD/ZGESVD; with U (and V) the
  // divide-and-conquer driver, whose vectors cost far less than the QR sweeps'.
  const int st = nout == 1 ? run_svd(a, 'N', 'N', &arena, &w) : run_svd_dc(a, econ ? 'S' : 'A', &arena, &w, &ldvt);
  if (st != kOk) {
    la_drop(ctx, nout);
    return st;
  }
  if (nout == 1) {
    std::memcpy(out[0].re, w.s, size_t(k) * 8);
  } else {
    if (cplx) lay_cplx_from_colmajor(w.u, out[0].re, out[0].im, m, p);
    else lay_real_from_colmajor(w.u, out[0].re, m, p);
    for (int64_t i = 0; i < k; ++i) out[1].re[i * q + i] = w.s[i];
    if (nout == 3) v_from_vt(w.vt, ldvt, cplx, n, q, 0, &out[2]);
  }
  return stk_remove(ctx, nout, nargin);
}

int bi_lapack_rank(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, "C[r"));
  double tol = -1;
  if (nargin == 2) TN_TRY(stk_get_real_scalar(ctx, 0, &tol));
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  double r = 0;
  if (!a.empty()) {
    LapackArena arena = lapack_arena(ctx);
    SvdWork w;
    TN_TRY(run_svd(a, 'N', 'N', &arena, &w));
    if (!(tol >= 0)) tol = default_tol(a, w.s);
    r = rank_count(w.s, std::min(a.m, a.n), tol);
  }
  // Pushed above the inputs first, so that a rank that does not fit leaves them.
  TN_TRY(stk_push_real(ctx, r));
  return stk_remove(ctx, 1, nargin);
}

int bi_lapack_orth(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  TN_TRY(la_fetch(ctx, 0, &a));
  if (a.empty()) return kOk;
  const int32_t m = a.m, k = std::min(a.m, a.n);
  // The result has at most m x k elements: pushed at full size, cut after.
  TN_TRY(la_room(ctx, 1, la_words(m, k, a.cplx())));
  MatRef q;
  la_push(ctx, m, k, a.cplx(), &q);
  la_fetch(ctx, 1, &a);
  LapackArena arena = lapack_arena(ctx);
  SvdWork w;
  const int st = run_svd(a, 'S', 'N', &arena, &w);
  if (st != kOk) {
    la_drop(ctx, 1);
    return st;
  }
  const int32_t r = rank_count(w.s, k, default_tol(a, w.s));
  if (a.cplx()) lay_cplx_from_colmajor(w.u, q.re, q.im, m, k);
  else lay_real_from_colmajor(w.u, q.re, m, k);
  la_cut_top(ctx, m, 0, r);
  return stk_remove(ctx, 1, 1);
}

int bi_lapack_null(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  TN_TRY(la_fetch(ctx, 0, &a));
  if (a.m == 0) return kOk;
  const int32_t n = a.n, k = std::min(a.m, a.n);
  TN_TRY(la_room(ctx, 1, la_words(n, n, a.cplx())));
  MatRef z;
  la_push(ctx, n, n, a.cplx(), &z);
  la_fetch(ctx, 1, &a);
  LapackArena arena = lapack_arena(ctx);
  SvdWork w;
  const int st = run_svd(a, 'N', 'A', &arena, &w);
  if (st != kOk) {
    la_drop(ctx, 1);
    return st;
  }
  const int32_t r = rank_count(w.s, k, default_tol(a, w.s));
  // Z = rows r .. n-1 of VT, conjugate-transposed: columns r .. n-1 of V.
  v_from_vt(w.vt, n, a.cplx(), n, n, 0, &z);
  la_cut_top(ctx, n, r, n - r);
  return stk_remove(ctx, 1, 1);
}

int bi_lapack_pinv(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, "C[r"));
  double tol = -1;
  if (nargin == 2) TN_TRY(stk_get_real_scalar(ctx, 0, &tol));
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  if (a.empty()) return stk_remove(ctx, 0, nargin - 1);
  const bool cplx = a.cplx(), tall = a.m >= a.n;
  const la_int big = std::max(a.m, a.n), small = std::min(a.m, a.n);
  TN_TRY(la_room(ctx, 1, la_words(a.n, a.m, cplx)));
  MatRef x;
  la_push(ctx, a.n, a.m, cplx, &x);
  la_fetch(ctx, nargin, &a);
  LapackArena arena = lapack_arena(ctx);
  double* col = lapack_take(&arena, la_words(big, small, cplx));
  double* b = lapack_take(&arena, la_words(big, big, cplx));
  double* s = lapack_take(&arena, small);
  double* rwork = cplx ? lapack_take(&arena, 5 * int64_t{small}) : nullptr;
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(&arena, cplx, big, big, &work, &lwork)) {
    la_drop(ctx, 1);
    return kDataStackOverflow;
  }
  if (!all_finite(a)) {
    // No singular value is known: the pseudo-inverse is NaN (as the
    // engine's row gives), not the zero matrix of a rank counted as 0.
    std::fill(x.re, x.re + x.count(), NAN);
    if (cplx) std::fill(x.im, x.im + x.count(), NAN);
    return stk_remove(ctx, 1, nargin);
  }
  // The tall one of A and A^H solves A X = I.
  if (tall) {
    if (cplx) lay_cplx_to_colmajor(a.re, a.im, col, a.m, a.n);
    else lay_real_to_colmajor(a.re, col, a.m, a.n);
  } else {
    if (cplx) lay_cplx_to_colmajor_ctransposed(a.re, a.im, col, a.m, a.n);
    else lay_real_to_colmajor_transposed(a.re, col, a.m, a.n);
  }
  if (cplx) lay_identity_complex(b, big);
  else lay_identity_real(b, big);
  const double rcond = tol >= 0 ? tol : big * kEpsPerOrder;
  la_int rank = 0, info = 0;
  if (cplx) zgelss_(&big, &small, &big, col, &big, b, &big, s, &rcond, &rank, work, &lwork, rwork, &info);
  else dgelss_(&big, &small, &big, col, &big, b, &big, s, &rcond, &rank, work, &lwork, &info);
  const int st = lapack_status(info);
  if (st != kOk || info > 0) {
    la_drop(ctx, 1);
    return st != kOk ? st : int{kNoConvergence};
  }
  // The solution: small x big in the first rows of b (ld big).
  if (tall) {
    if (cplx) lay_cplx_from_colmajor_ld(b, big, x.re, x.im, small, big);
    else lay_real_from_colmajor_ld(b, big, x.re, small, big);
  } else {
    if (cplx) lay_cplx_from_colmajor_ctransposed_ld(b, big, x.re, x.im, small, big);
    else lay_real_from_colmajor_transposed_ld(b, big, x.re, small, big);
  }
  return stk_remove(ctx, 1, nargin);
}

int bi_lapack_qr(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = std::min(la_outputs(nargout), 3);
  TN_TRY(stk_argcheck(ctx, nargin, "C[i"));
  bool econ = false;
  if (nargin == 2) {
    double flag = 1;
    TN_TRY(stk_get_real_scalar(ctx, 0, &flag));
    econ = flag == 0;
  }
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  const la_int m = a.m, n = a.n, k = std::min(m, n);
  const bool cplx = a.cplx();
  if (m == 0 || n == 0) {
    TN_TRY(la_room(ctx, nout, 0));
    TN_TRY(stk_remove(ctx, 0, nargin));
    for (int i = 0; i < nout; ++i) stk_push_empty(ctx);
    return kOk;
  }
  const la_int qcols = econ ? k : m, rrows = econ ? k : m;
  const int64_t words = nout == 1 ? la_words(m, n, cplx)
                                  : la_words(m, qcols, cplx) + la_words(rrows, n, cplx) +
                                        (nout == 3 ? la_words(econ ? 1 : n, n, false) : 0);
  TN_TRY(la_room(ctx, nout, words));
  // Deepest first: E, R, Q (or the compact factor alone).
  MatRef out[3];
  if (nout == 3) la_push_zeros(ctx, econ ? 1 : n, n, false, &out[2]);
  if (nout >= 2) la_push(ctx, rrows, n, cplx, &out[1]);
  la_push(ctx, nout == 1 ? m : m, nout == 1 ? n : qcols, cplx, &out[0]);
  la_fetch(ctx, nargin - 1 + nout, &a);
  LapackArena arena = lapack_arena(ctx);
  const la_int ld = m;
  const la_int wide = std::max(m, n);
  double* col = lapack_take(&arena, la_words(m, wide, cplx));  // room for Q's m columns
  double* tau = lapack_take(&arena, la_words(k, 1, cplx));
  la_int* jpvt = lapack_take_ints(&arena, n);
  double* rwork = cplx ? lapack_take(&arena, 2 * int64_t{n}) : nullptr;
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(&arena, cplx, wide, n, &work, &lwork)) {
    la_drop(ctx, nout);
    return kDataStackOverflow;
  }
  if (cplx) lay_cplx_to_colmajor_ld(a.re, a.im, col, ld, m, n);
  else lay_real_to_colmajor_ld(a.re, col, ld, m, n);
  la_int info = 0;
  if (nout == 3) {
    std::memset(jpvt, 0, size_t(n) * 4);
    if (cplx) zgeqpf_(&m, &n, col, &ld, jpvt, tau, work, rwork, &info);
    else dgeqpf_(&m, &n, col, &ld, jpvt, tau, work, &info);
  } else {
    if (cplx) zgeqrf_(&m, &n, col, &ld, tau, work, &lwork, &info);
    else dgeqrf_(&m, &n, col, &ld, tau, work, &lwork, &info);
  }
  if (const int st = lapack_status(info); st != kOk) {
    la_drop(ctx, nout);
    return st;
  }
  if (nout == 1) {
    if (cplx) lay_cplx_from_colmajor(col, out[0].re, out[0].im, m, n);
    else lay_real_from_colmajor(col, out[0].re, m, n);
    return stk_remove(ctx, 1, nargin);
  }
  MatRef& q = out[0];
  MatRef& r = out[1];
  if (cplx) lay_upper_cplx_from_colmajor_ld(col, ld, r.re, r.im, rrows, n);
  else lay_upper_real_from_colmajor_ld(col, ld, r.re, rrows, n);
  // Q from the reflectors, in the same array (its first qcols columns).
  if (cplx) zung2r_(&m, &qcols, &k, col, &ld, tau, work, &info);
  else dorgqr_(&m, &qcols, &k, col, &ld, tau, work, &lwork, &info);
  if (const int st = lapack_status(info); st != kOk) {
    la_drop(ctx, nout);
    return st;
  }
  if (cplx) lay_cplx_from_colmajor(col, q.re, q.im, m, qcols);
  else lay_real_from_colmajor(col, q.re, m, qcols);
  if (nout == 3)
    for (int64_t i = 0; i < n; ++i) {
      if (econ) out[2].re[i] = jpvt[i];
      else out[2].re[int64_t{jpvt[i] - 1} * n + i] = 1.0;
    }
  return stk_remove(ctx, nout, nargin);
}
