// "!lapack" rows over the eigenvalue, Schur, Hessenberg and balancing
// drivers: eig (standard and generalized), schur, hess, balance, qz, and
// logm and sqrtm over the complex Schur form.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/complex_scalar.h"
#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "numlib/linalg/lapack_frame.h"
#include "numlib/linalg/lapack_layout.h"
#include "numlib/linalg/lapack_rows.h"
#include "numlib/linalg/matfun_kernel.h"
#include "numlib/linalg/nonfinite_answers.h"

namespace {

constexpr double kEps = 2.220446049250313e-16;
// Clamp of the matrix functions' accuracy estimate: [2^-52, 1].
constexpr double kEstFloor = 2.220446049250313e-16;
constexpr double kEstCeiling = 1.0;
// Real-result test of logm and sqrtm: 10 n eps relative.
constexpr double kRealResultPerOrder = 10.0;

// Column-major copy (interleaved when cplx) of a; a null im with cplx set
// reads as zeros.
void to_col(const MatRef& a, bool cplx, double* dst) {
  if (cplx) lay_cplx_to_colmajor(a.re, a.im, dst, a.m, a.n);
  else lay_real_to_colmajor(a.re, dst, a.m, a.n);
}

void from_col(const double* src, bool cplx, MatRef* a) {
  if (cplx) lay_cplx_from_colmajor(src, a->re, a->im, a->m, a->n);
  else lay_real_from_colmajor(src, a->re, a->m, a->n);
}

// Pushes the eigenvalues (and vectors) of a real problem: lambda = (wr, wi);
// v (n x n column-major, real pairs) or null. Outputs as eig's.
int push_real_eigen(EngineContext* ctx, int nout, int32_t n, const double* wr, const double* wi,
                    const double* v) {
  bool cplx = false;
  for (int32_t i = 0; i < n; ++i)
    if (wi[i] != 0) cplx = true;
  if (nout == 1) {
    MatRef e;
    TN_TRY(la_push(ctx, n, 1, cplx, &e));
    std::memcpy(e.re, wr, size_t(n) * 8);
    if (cplx) std::memcpy(e.im, wi, size_t(n) * 8);
    return kOk;
  }
  MatRef d, vv;
  TN_TRY(la_push_zeros(ctx, n, n, cplx, &d));
  for (int64_t i = 0; i < n; ++i) {
    d.re[i * n + i] = wr[i];
    if (cplx) d.im[i * n + i] = wi[i];
  }
  const int st = la_push(ctx, n, n, cplx, &vv);
  if (st != kOk) {
    la_drop(ctx, 1);
    return st;
  }
  if (cplx) lay_unpack_eigvectors(v, wi, vv.re, vv.im, n);
  else lay_real_from_colmajor(v, vv.re, n, n);
  return kOk;
}

// Pushes complex eigenvalues w (interleaved) and vectors v (column-major).
int push_complex_eigen(EngineContext* ctx, int nout, int32_t n, const double* w, const double* v) {
  if (nout == 1) {
    MatRef e;
    TN_TRY(la_push(ctx, n, 1, true, &e));
    lay_cplx_from_colmajor(w, e.re, e.im, n, 1);
    return kOk;
  }
  MatRef d, vv;
  TN_TRY(la_push(ctx, n, n, true, &d));
  lay_diag_from_vector_complex(w, d.re, d.im, n, n);
  const int st = la_push(ctx, n, n, true, &vv);
  if (st != kOk) {
    la_drop(ctx, 1);
    return st;
  }
  lay_cplx_from_colmajor(v, vv.re, vv.im, n, n);
  return kOk;
}

int eig_standard(EngineContext* ctx, int nout) {
  MatRef a;
  la_fetch(ctx, 0, &a);
  const la_int n = a.n;
  const bool cplx = a.cplx();
  const bool vec = nout >= 2;
  // Output room first, so that what the drivers leave can be parked above it.
  const int64_t out_words = vec ? 2 * la_words(n, n, true) : la_words(n, 1, true);
  TN_TRY(la_room(ctx, 2, out_words));
  LapackArena arena = lapack_arena(ctx);
  lapack_take(&arena, out_words);
  double* col = lapack_take(&arena, la_words(n, n, cplx));
  double* w = lapack_take(&arena, 2 * int64_t{n});
  double* vr = lapack_take(&arena, vec ? la_words(n, n, cplx) : 2);
  double* rwork = cplx ? lapack_take(&arena, 2 * int64_t{n}) : nullptr;
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(&arena, cplx, n, 0, &work, &lwork)) return kDataStackOverflow;
  const la_int one = 1, ldvr = vec ? n : 1;
  const char* jobvr = vec ? "V" : "N";
  la_int info = 0;
  // LWORK is the driver's own optimum, never all the room there is: the
  // vector back-substitution picks its block size from LWORK, and a result
  // must not depend on how much room the caller happened to have.
  double optimum[2] = {0, 0};
  la_int query = -1;
  if (cplx) zgeev_("N", jobvr, &n, col, &n, w, work, &one, vr, &ldvr, optimum, &query, rwork, &info,
                   kCharLen, kCharLen);
  else dgeev_("N", jobvr, &n, col, &n, w, w + n, work, &one, vr, &ldvr, optimum, &query, &info,
              kCharLen, kCharLen);
  TN_TRY(lapack_status(info));
  const auto wanted = static_cast<la_int>(optimum[0]);
  if (info != 0 || wanted > lwork) return kDataStackOverflow;
  if (wanted > 0) lwork = wanted;
  to_col(a, cplx, col);
  if (cplx) zgeev_("N", jobvr, &n, col, &n, w, nullptr, &one, vr, &ldvr, work, &lwork, rwork, &info,
                   kCharLen, kCharLen);
  else dgeev_("N", jobvr, &n, col, &n, w, w + n, nullptr, &one, vr, &ldvr, work, &lwork, &info,
              kCharLen, kCharLen);
  TN_TRY(lapack_status(info));
  if (info > 0) return kNoConvergence;
  // The outputs fit below the driver's arrays (their room was taken first).
  const int st = cplx ? push_complex_eigen(ctx, nout, n, w, vr) : push_real_eigen(ctx, nout, n, w, w + n, vr);
  TN_TRY(st);
  return stk_remove(ctx, vec ? 2 : 1, 1);
}

int eig_generalized(EngineContext* ctx, int nout) {
  MatRef a, b;
  la_fetch(ctx, 1, &a);
  la_fetch(ctx, 0, &b);
  if (a.m != a.n || b.m != b.n) return kBadSize;
  if (a.n != b.n) return kIncompatibleSize;
  const la_int n = a.n;
  const bool cplx = a.cplx() || b.cplx();
  const bool vec = nout >= 2;
  if (n == 0) {
    TN_TRY(stk_remove(ctx, 0, 2));
    for (int i = 0; i < (vec ? 2 : 1); ++i) TN_TRY(stk_push_empty(ctx));
    return kOk;
  }
  if (!la_finite(a) || !la_finite(b)) return la_nan_eigen(ctx, 2, n, cplx, nout);
  const int64_t out_words = vec ? 2 * la_words(n, n, true) : la_words(n, 1, true);
  TN_TRY(la_room(ctx, 2, out_words));
  LapackArena arena = lapack_arena(ctx);
  lapack_take(&arena, out_words);
  double* ca = lapack_take(&arena, la_words(n, n, cplx));
  double* cb = lapack_take(&arena, la_words(n, n, cplx));
  double* alpha = lapack_take(&arena, 2 * int64_t{n});
  double* beta = lapack_take(&arena, 2 * int64_t{n});
  double* vr = lapack_take(&arena, vec ? la_words(n, n, cplx) : 2);
  double* rwork = cplx ? lapack_take(&arena, 8 * int64_t{n}) : nullptr;
  double* lam = lapack_take(&arena, 2 * int64_t{n});
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(&arena, cplx, n, 0, &work, &lwork)) return kDataStackOverflow;
  to_col(a, cplx, ca);
  to_col(b, cplx, cb);
  const la_int one = 1, ldvr = vec ? n : 1;
  const char* jobvr = vec ? "V" : "N";
  la_int info = 0;
  if (cplx) {
    zgegv_("N", jobvr, &n, ca, &n, cb, &n, alpha, beta, nullptr, &one, vr, &ldvr, work, &lwork, rwork,
           &info, kCharLen, kCharLen);
  } else {
    dgegv_("N", jobvr, &n, ca, &n, cb, &n, alpha, alpha + n, beta, nullptr, &one, vr, &ldvr, work,
           &lwork, &info, kCharLen, kCharLen);
  }
  TN_TRY(lapack_status(info));
  if (info > 0) return kNoConvergence;
  // lambda = alpha / beta: (wr, wi) for real data, interleaved for complex.
  for (int64_t k = 0; k < n; ++k) {
    if (cplx) {
      const double ar = alpha[2 * k], ai = alpha[2 * k + 1], br = beta[2 * k], bi = beta[2 * k + 1];
      if (br == 0 && bi == 0) {
        // An infinite eigenvalue of a complex pencil is reported as NaN.
        lam[2 * k] = lam[2 * k + 1] = NAN;
      } else {
        cplx::smith_divide(ar, ai, br, bi, lam[2 * k], lam[2 * k + 1]);
      }
    } else {
      lam[k] = alpha[k] / beta[k];
      lam[n + k] = alpha[n + k] / beta[k];
    }
  }
  const int st = cplx ? push_complex_eigen(ctx, nout, n, lam, vr) : push_real_eigen(ctx, nout, n, lam, lam + n, vr);
  TN_TRY(st);
  return stk_remove(ctx, vec ? 2 : 1, 2);
}

}  // namespace

int bi_lapack_eig(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = std::min(la_outputs(nargout), 2);
  TN_TRY(stk_argcheck(ctx, nargin, "C[C"));
  if (nargin == 2) return eig_generalized(ctx, nout);
  MatRef a;
  la_fetch(ctx, 0, &a);
  TN_TRY(lapack_square(a));
  if (a.n == 0) {
    if (nout >= 2) TN_TRY(stk_push_empty(ctx));
    return kOk;
  }
  if (!la_finite(a)) return la_nan_eigen(ctx, 1, a.n, a.cplx(), nout);
  return eig_standard(ctx, nout);
}

int bi_lapack_schur(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = std::min(la_outputs(nargout), 2);
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  la_fetch(ctx, 0, &a);
  TN_TRY(lapack_square(a));
  if (a.n == 0) return nout >= 2 ? stk_push_empty(ctx) : kOk;
  if (!la_finite(a)) return la_nan_square(ctx, 1, a.n, a.cplx(), nout);
  const la_int n = a.n;
  const bool cplx = a.cplx(), vec = nout >= 2;
  TN_TRY(la_room(ctx, 1, vec ? la_words(n, n, cplx) : 0));
  MatRef u;
  if (vec) la_push(ctx, n, n, cplx, &u);
  la_fetch(ctx, vec ? 1 : 0, &a);
  LapackArena arena = lapack_arena(ctx);
  double* col = lapack_take(&arena, la_words(n, n, cplx));
  double* w = lapack_take(&arena, 2 * int64_t{n});
  double* vs = lapack_take(&arena, vec ? la_words(n, n, cplx) : 2);
  double* rwork = cplx ? lapack_take(&arena, n) : nullptr;
  la_int* bwork = lapack_take_ints(&arena, n);
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(&arena, cplx, n, 0, &work, &lwork)) {
    if (vec) la_drop(ctx, 1);
    return kDataStackOverflow;
  }
  to_col(a, cplx, col);
  const la_int ldvs = vec ? n : 1;
  la_int sdim = 0, info = 0;
  if (cplx) zgees_(vec ? "V" : "N", "N", nullptr, &n, col, &n, &sdim, w, vs, &ldvs, work, &lwork, rwork,
                   bwork, &info, kCharLen, kCharLen);
  else dgees_(vec ? "V" : "N", "N", nullptr, &n, col, &n, &sdim, w, w + n, vs, &ldvs, work, &lwork, bwork,
              &info, kCharLen, kCharLen);
  const int st = lapack_status(info);
  if (st != kOk || info > 0) {
    if (vec) la_drop(ctx, 1);
    return st != kOk ? st : int{kNoConvergence};
  }
  from_col(col, cplx, &a);
  if (vec) from_col(vs, cplx, &u);
  return kOk;
}

int bi_lapack_hess(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = std::min(la_outputs(nargout), 2);
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  la_fetch(ctx, 0, &a);
  TN_TRY(lapack_square(a));
  if (a.n == 0) return nout >= 2 ? stk_push_empty(ctx) : kOk;
  const la_int n = a.n, one = 1;
  const bool cplx = a.cplx(), vec = nout >= 2;
  TN_TRY(la_room(ctx, 1, vec ? la_words(n, n, cplx) : 0));
  MatRef p;
  if (vec) la_push(ctx, n, n, cplx, &p);
  la_fetch(ctx, vec ? 1 : 0, &a);
  LapackArena arena = lapack_arena(ctx);
  double* col = lapack_take(&arena, la_words(n, n, cplx));
  // With P, H is kept aside while the reflectors in col become P: the input
  // is written only when both drivers have succeeded.
  double* hcol = vec ? lapack_take(&arena, la_words(n, n, cplx)) : col;
  double* tau = lapack_take(&arena, la_words(n, 1, cplx));
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(&arena, cplx, n, 0, &work, &lwork)) {
    if (vec) la_drop(ctx, 1);
    return kDataStackOverflow;
  }
  to_col(a, cplx, col);
  la_int info = 0;
  if (cplx) zgehrd_(&n, &one, &n, col, &n, tau, work, &lwork, &info);
  else dgehrd_(&n, &one, &n, col, &n, tau, work, &lwork, &info);
  int st = lapack_status(info);
  if (st == kOk && vec) {
    std::memcpy(hcol, col, size_t(la_words(n, n, cplx)) * 8);
    if (cplx) zunghr_(&n, &one, &n, col, &n, tau, work, &lwork, &info);
    else dorghr_(&n, &one, &n, col, &n, tau, work, &lwork, &info);
    st = lapack_status(info);
  }
  if (st != kOk) {
    if (vec) la_drop(ctx, 1);
    return st;
  }
  from_col(hcol, cplx, &a);
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j + 1 < i; ++j) {
      a.re[i * n + j] = 0;
      if (cplx) a.im[i * n + j] = 0;
    }
  if (vec) from_col(col, cplx, &p);
  return kOk;
}

int bi_lapack_balance(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = std::min(la_outputs(nargout), 2);
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  la_fetch(ctx, 0, &a);
  TN_TRY(lapack_square(a));
  if (a.n == 0) return nout >= 2 ? stk_push_empty(ctx) : kOk;
  // The balancing driver refuses a NaN (after part of its sweep).
  if (!la_finite(a)) return la_nan_balance(ctx, 1, a.n, a.cplx(), nout);
  const la_int n = a.n;
  const bool cplx = a.cplx();
  TN_TRY(la_room(ctx, 1, nout >= 2 ? la_words(n, n, false) : 0));
  MatRef t;
  if (nout >= 2) la_push_zeros(ctx, n, n, false, &t);
  la_fetch(ctx, nout >= 2 ? 1 : 0, &a);
  LapackArena arena = lapack_arena(ctx);
  double* col = lapack_take(&arena, la_words(n, n, cplx));
  double* scale = lapack_take(&arena, n);
  if (arena.short_of_room) {
    if (nout >= 2) la_drop(ctx, 1);
    return kDataStackOverflow;
  }
  to_col(a, cplx, col);
  la_int ilo = 0, ihi = 0, info = 0;
  if (cplx) zgebal_("S", &n, col, &n, &ilo, &ihi, scale, &info, kCharLen);
  else dgebal_("S", &n, col, &n, &ilo, &ihi, scale, &info, kCharLen);
  const int st = lapack_status(info);
  if (st != kOk) {
    if (nout >= 2) la_drop(ctx, 1);
    return st;
  }
  from_col(col, cplx, &a);
  if (nout >= 2)
    for (int64_t i = 0; i < n; ++i) t.re[i * n + i] = scale[i];
  return kOk;
}

int bi_lapack_qz(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = std::min(la_outputs(nargout), 4);
  TN_TRY(stk_argcheck(ctx, nargin, "CC"));
  MatRef a, b;
  la_fetch(ctx, 1, &a);
  la_fetch(ctx, 0, &b);
  if (b.m != b.n || a.m != a.n) return kBadSize;
  if (a.n != b.n) return kIncompatibleSize;
  const la_int n = a.n;
  if (n == 0) {
    TN_TRY(la_room(ctx, nout, 0));
    TN_TRY(stk_remove(ctx, 0, 2));
    for (int i = 0; i < nout; ++i) stk_push_empty(ctx);
    return kOk;
  }
  const bool cplx = a.cplx() || b.cplx();
  if (!la_finite(a) || !la_finite(b)) return la_nan_square(ctx, 2, n, cplx, nout);
  TN_TRY(la_room(ctx, nout, nout * la_words(n, n, cplx)));
  // Deepest first: Z, Q, BB, AA.
  MatRef out[4];
  for (int i = nout - 1; i >= 0; --i) la_push(ctx, n, n, cplx, &out[i]);
  la_fetch(ctx, nout + 1, &a);
  la_fetch(ctx, nout, &b);
  LapackArena arena = lapack_arena(ctx);
  double* ca = lapack_take(&arena, la_words(n, n, cplx));
  double* cb = lapack_take(&arena, la_words(n, n, cplx));
  double* alpha = lapack_take(&arena, 2 * int64_t{n});
  double* beta = lapack_take(&arena, 2 * int64_t{n});
  double* vsl = lapack_take(&arena, la_words(n, n, cplx));
  double* vsr = lapack_take(&arena, la_words(n, n, cplx));
  double* rwork = cplx ? lapack_take(&arena, 8 * int64_t{n}) : nullptr;
  la_int* bwork = lapack_take_ints(&arena, n);
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(&arena, cplx, n, 0, &work, &lwork)) {
    la_drop(ctx, nout);
    return kDataStackOverflow;
  }
  to_col(a, cplx, ca);
  to_col(b, cplx, cb);
  const char* jl = nout >= 3 ? "V" : "N";
  const char* jr = nout >= 4 ? "V" : "N";
  la_int sdim = 0, info = 0;
  if (cplx) zgges_(jl, jr, "N", nullptr, &n, ca, &n, cb, &n, &sdim, alpha, beta, vsl, &n, vsr, &n, work,
                   &lwork, rwork, bwork, &info, kCharLen, kCharLen, kCharLen);
  else dgges_(jl, jr, "N", nullptr, &n, ca, &n, cb, &n, &sdim, alpha, alpha + n, beta, vsl, &n, vsr, &n,
              work, &lwork, bwork, &info, kCharLen, kCharLen, kCharLen);
  if (lapack_status(info) != kOk || info != 0) {
    la_drop(ctx, nout);
    return kBadArgument;
  }
  from_col(ca, cplx, &out[0]);
  if (nout >= 2) from_col(cb, cplx, &out[1]);
  if (nout >= 3) from_col(vsl, cplx, &out[2]);
  if (nout >= 4) {
    // Z = VSR^H: VSR read row by row is its transpose.
    if (cplx) lay_cplx_from_colmajor_ctransposed(vsr, out[3].re, out[3].im, n, n);
    else lay_real_from_colmajor_transposed(vsr, out[3].re, n, n);
  }
  return stk_remove(ctx, nout, 2);
}

// --- logm and sqrtm ----------------------------------------------------------

int bi_lapack_matfun(EngineContext* ctx, int nargin, int nargout, uintptr_t mode) {
  const int nout = std::min(la_outputs(nargout), 2);
  TN_TRY(stk_argcheck(ctx, nargin, "C"));
  MatRef a;
  la_fetch(ctx, 0, &a);
  TN_TRY(lapack_square(a));
  const la_int n = a.n;
  if (n == 0) {
    if (nout < 2) return kOk;
    TN_TRY(stk_push_real(ctx, 0));
    return stk_move(ctx, 2, 1);
  }
  if (!la_finite(a)) return la_nan_matfun(ctx, 1, n, a.cplx(), nout);
  const int64_t nn = int64_t{n} * n;
  // The result is pushed complex and made real at the end when it may be.
  TN_TRY(la_room(ctx, 2, 2 * nn + 1));
  MatRef f;
  la_push(ctx, n, n, true, &f);
  la_fetch(ctx, 1, &a);
  LapackArena arena = lapack_arena(ctx);
  lapack_take(&arena, 1);  // est's word
  double* col = lapack_take(&arena, 2 * nn);
  double* w = lapack_take(&arena, 2 * int64_t{n});
  double* vs = lapack_take(&arena, 2 * nn);
  double* rwork = lapack_take(&arena, n);
  la_int* bwork = lapack_take_ints(&arena, n);
  double* tre = lapack_take(&arena, 4 * nn);  // T, then F's triangle, row by row
  double* fcol = lapack_take(&arena, 2 * nn);
  double* logw = mode == 'l' ? lapack_take(&arena, matfun_log_work(n)) : nullptr;
  double* work = nullptr;
  la_int lwork = 0;
  if (!lapack_workspace(&arena, true, n, 0, &work, &lwork)) {
    la_drop(ctx, 1);
    return kDataStackOverflow;
  }
  // Its parts only once it is known to be there.
  double* tim = tre + nn;
  double* fre = tim + nn;
  double* fim = fre + nn;
  lay_cplx_to_colmajor(a.re, a.im, col, n, n);
  la_int sdim = 0, info = 0;
  zgees_("V", "N", nullptr, &n, col, &n, &sdim, w, vs, &n, work, &lwork, rwork, bwork, &info, kCharLen,
         kCharLen);
  const int st = lapack_status(info);
  if (st != kOk || info > 0) {
    la_drop(ctx, 1);
    return st != kOk ? st : int{kNoConvergence};
  }
  lay_upper_cplx_from_colmajor(col, tre, tim, n, n);
  std::memset(fre, 0, size_t(2 * nn) * 8);
  if (mode == 'l') matfun_log_triangle(tre, tim, n, fre, fim, logw);
  else matfun_sqrt_triangle(tre, tim, n, fre, fim);
  // F := U F U^H by two products.
  const double one[2] = {1, 0}, zero[2] = {0, 0};
  lay_cplx_to_colmajor(fre, fim, fcol, n, n);
  zgemm_("N", "N", &n, &n, &n, one, vs, &n, fcol, &n, zero, col, &n, kCharLen, kCharLen);
  zgemm_("N", "C", &n, &n, &n, one, col, &n, vs, &n, zero, fcol, &n, kCharLen, kCharLen);
  if (const int gemm = lapack_status(0); gemm != kOk) {
    la_drop(ctx, 1);
    return gemm;
  }
  lay_cplx_from_colmajor(fcol, f.re, f.im, n, n);
  double est = 0;
  if (nout >= 2) {
    // Departure from normality of T over the distance between its eigenvalues.
    double dep = 0;
    for (int64_t j = 1; j < n; ++j) {
      double s = 0;
      for (int64_t i = 0; i < j; ++i) s += std::hypot(tre[i * n + j], tim[i * n + j]);
      dep = std::max(dep, s);
    }
    const double d2 = matfun_delta2(tre, tim, n);
    est = kEps * dep / std::sqrt(d2);
    if (!(est >= kEstFloor)) est = std::isnan(est) ? kEstCeiling : kEstFloor;
    est = std::min(est, kEstCeiling);
  }
  double re_sum = 0, im_sum = 0;
  for (int64_t j = 0; j < n; ++j) {
    double sr = 0, si = 0;
    for (int64_t i = 0; i < n; ++i) {
      sr += std::fabs(f.re[i * n + j]);
      si += std::fabs(f.im[i * n + j]);
    }
    re_sum = std::max(re_sum, sr);
    im_sum = std::max(im_sum, si);
  }
  if (im_sum < kRealResultPerOrder * n * kEps * re_sum) stk_make_real_top(ctx);
  TN_TRY(stk_remove(ctx, 1, 1));
  if (nout < 2) return kOk;
  TN_TRY(stk_push_real(ctx, est));
  return stk_move(ctx, 2, 1);
}
