// The factorisation built-ins over the library's own kernels: eig, balance,
// hess, schur, chol, lu and qr. Kernels that can fail (eigenvalues, Schur,
// Cholesky) run on scratch copies that are written back on success, so a
// failing call leaves its input as it was; the others work in place on the
// input, which becomes one of the outputs, once all room is known to exist.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "numlib/cholesky.h"
#include "numlib/dense_lu.h"
#include "numlib/eigen.h"
#include "numlib/hessenberg_eigvec.h"
#include "numlib/householder.h"
#include "numlib/linalg/linalg_builtins.h"
#include "numlib/linalg/linalg_stack.h"
#include "numlib/linalg/nonfinite_answers.h"
#include "numlib/linalg/svd_support.h"
#include "numlib/schur.h"
#include "numlib/shellsort.h"

namespace {

// Eigenvalues closer than this many n eps of their own size share a shift.
constexpr double kGroupUnits = 10.0;

// The square matrix at depth, else 26.
int fetch_square(EngineContext* ctx, int depth, MatRef* a) {
  TN_TRY(la_fetch(ctx, depth, a));
  return a->m == a->n ? kOk : kNonSquareMatrix;
}

// Spreads d[0..n) (the first n places of the block) onto the diagonal of the
// n x n block, zeros elsewhere, from the last element backwards so that each
// value is read before its place is written.
void spread_diagonal(double* d, int32_t n) {
  for (int64_t l = int64_t{n} * n - 1; l >= 0; --l) d[l] = (l % (n + 1) == 0) ? d[l / (n + 1)] : 0.0;
}

// Form letter of schur's and householderapply's option string: its first
// character, or `fallback` for an empty string.
int option_letter(EngineContext* ctx, int depth, char fallback, char* letter) {
  char text[2] = {};
  int32_t len = 0;
  const int st = stk_get_string_buf(ctx, depth, text, sizeof text, &len);
  if (st != kOk && st != kObjectTooLarge) return st;
  *letter = len == 0 ? fallback : text[0];
  return kOk;
}

}  // namespace

// --- eig ---------------------------------------------------------------------

namespace {

bool is_symmetric(const MatRef& a) {
  for (int64_t i = 0; i < a.n; ++i)
    for (int64_t j = i + 1; j < a.n; ++j)
      if (!(a.re[i * a.n + j] == a.re[j * a.n + i])) return false;
  return true;
}

int eig_symmetric(EngineContext* ctx, int nout) {
  MatRef a;
  fetch_square(ctx, 0, &a);
  const int32_t n = a.n;
  const int64_t scratch = a.count() + 2 * int64_t{n};
  if (nout == 1) {
    TN_TRY(la_room(ctx, 1, n + scratch));
    MatRef e;
    la_push(ctx, n, 1, false, &e);
    fetch_square(ctx, 1, &a);
    double* copy = nullptr;
    la_scratch(ctx, scratch, &copy);
    la_copy(a, copy);
    numk_eig_symmetric(copy, n, e.re, nullptr, copy + a.count());
    return stk_remove(ctx, 1, 1);
  }
  TN_TRY(la_room(ctx, 2, 2 * a.count() + scratch));
  MatRef d, v;
  la_push(ctx, n, n, false, &d);
  la_push(ctx, n, n, false, &v);
  fetch_square(ctx, 2, &a);
  double* copy = nullptr;
  la_scratch(ctx, scratch, &copy);
  la_copy(a, copy);
  numk_eig_symmetric(copy, n, d.re, v.re, copy + a.count());
  spread_diagonal(d.re, n);
  return stk_remove(ctx, 2, 1);
}

// Eigenvalues of the square A into (wr, wi), scratch-based; false when the
// iteration did not converge.
bool eigenvalues(const MatRef& a, double* scratch, double* wr, double* wi) {
  const int32_t n = a.n;
  double* copy = scratch;
  la_copy(a, copy);
  // Balanced first, as rows and columns of very different sizes cost the
  // small eigenvalues their digits; the factors are powers of two and the
  // similarity is exact. They sit where the kernels' work goes next.
  double* factors = copy + (a.cplx() ? 2 * a.count() : a.count() + n);
  numk_balance(copy, a.cplx() ? copy + a.count() : nullptr, n, factors);
  if (!a.cplx()) return numk_eig_real(copy, n, reinterpret_cast<int32_t*>(copy + a.count()), wr, wi);
  if (!la_schur_complex(copy, copy + a.count(), n, nullptr, nullptr, copy + 2 * a.count()))
    return false;
  for (int64_t i = 0; i < n; ++i) {
    wr[i] = copy[i * n + i];
    wi[i] = copy[a.count() + i * n + i];
  }
  return true;
}

// The copy and the kernel's work, then room for wr and wi behind them.
int64_t eigenvalue_scratch(const MatRef& a) { return 2 * a.count() + 4 * int64_t{a.n}; }

// Columns i .. i+k-1 of v := the last k right singular vectors of A - lambda I
// (A at depth `at`); the pushed items are gone again on return.
int group_vectors(EngineContext* ctx, int at, double lr, double li, int32_t i, int32_t k,
                  const MatRef& v) {
  MatRef a;
  fetch_square(ctx, at, &a);
  const int32_t n = a.n;
  const bool cplx = a.cplx() || li != 0;
  MatRef b;
  TN_TRY(la_room(ctx, 1, la_words(n, n, cplx)));
  la_push_zeros(ctx, n, n, cplx, &b);
  fetch_square(ctx, at + 1, &a);
  std::memcpy(b.re, a.re, static_cast<size_t>(a.count()) * 8);
  if (a.cplx()) std::memcpy(b.im, a.im, static_cast<size_t>(a.count()) * 8);
  for (int64_t d = 0; d < n; ++d) {
    b.re[d * n + d] -= lr;
    if (cplx) b.im[d * n + d] -= li;
  }
  const int st = svd_push_factors(ctx, 0, false);
  if (st != kOk) {
    la_drop(ctx, 1);
    return st;
  }
  MatRef sv;
  la_fetch(ctx, 2, &sv);  // n x n
  for (int64_t r = 0; r < n; ++r)
    for (int32_t c = 0; c < k; ++c) {
      v.re[r * n + i + c] = sv.re[r * n + n - k + c];
      if (v.im) v.im[r * n + i + c] = sv.im ? sv.im[r * n + n - k + c] : 0.0;
    }
  la_drop(ctx, 4);
  return kOk;
}

// The number of sorted eigenvalues from i on that count as lambda_i: those
// within 10 n eps of its own size. The tolerance follows the eigenvalues, not
// the matrix: beside an element of 1e20, the eigenvalues 1 and 2 are still
// two (a group shares one shift, and its vectors would be a residual of 1 off).
int32_t group_size(const MatRef& d, bool cvals, int32_t i) {
  const int32_t n = d.n;
  const double lr = d.re[i], li = cvals ? d.im[i] : 0.0;
  const double tol = kGroupUnits * (std::fabs(lr) + std::fabs(li)) * n * kMachineEps;
  int32_t k = 1;
  while (i + k < n && std::fabs(d.re[i + k] - lr) + std::fabs(cvals ? d.im[i + k] - li : 0.0) <= tol)
    ++k;
  return k;
}

// Whether column i of v is still all zero.
bool zero_column(const MatRef& v, int32_t i) {
  for (int64_t r = 0; r < v.m; ++r)
    if (v.re[r * v.n + i] != 0.0 || (v.im && v.im[r * v.n + i] != 0.0)) return false;
  return true;
}

// Scratch of single_vectors: H and its reduction's Q (complex when A is), the
// shifted factor, one vector and the reduction's work.
int64_t single_vector_scratch(const MatRef& a) {
  const int64_t n = a.n;
  return 2 * la_words(n, n, a.cplx()) + numk_hessenberg_eigvec_work(n) + 2 * n +
         la_hessenberg_work_complex(n);
}

// Column i of v := Q x for the eigenvector x of H, scaled to unit length with
// its largest element real and positive (the conjugate eigenvalue of a real A
// thus gets exactly the conjugate vector).
void store_vector(const double* q_re, const double* q_im, const double* x_re, const double* x_im,
                  int32_t i, const MatRef& v) {
  const int64_t n = v.n;
  double norm = 0.0, top = -1.0;
  int64_t at = 0;
  for (int64_t r = 0; r < n; ++r) {
    double vr = 0.0, vi = 0.0;
    for (int64_t k = 0; k < n; ++k) {
      const double qr = q_re[r * n + k], qi = q_im ? q_im[r * n + k] : 0.0;
      vr += qr * x_re[k] - qi * x_im[k];
      vi += qr * x_im[k] + qi * x_re[k];
    }
    v.re[r * n + i] = vr;
    if (v.im) v.im[r * n + i] = vi;
    const double m = vr * vr + vi * vi;
    norm += m;
    if (m > top) top = m, at = r;
  }
  // x's largest element is 1 and Q is unitary: norm lies between 1 and n.
  const double len = std::sqrt(norm), mod = std::sqrt(top);
  const double pr = v.re[at * n + i] / (mod * len), pi = v.im ? -v.im[at * n + i] / (mod * len) : 0.0;
  for (int64_t r = 0; r < n; ++r) {
    const double vr = v.re[r * n + i], vi = v.im ? v.im[r * n + i] : 0.0;
    v.re[r * n + i] = vr * pr - vi * pi;
    if (v.im) v.im[r * n + i] = vr * pi + vi * pr;
  }
  v.re[at * n + i] = mod / len;
  if (v.im) v.im[at * n + i] = 0.0;
}

// The columns of V whose eigenvalue stands alone: inverse iteration on A's
// Hessenberg form, O(n^2) each. s: single_vector_scratch(a) doubles.
void single_vectors(const MatRef& a, const MatRef& d, bool cvals, const MatRef& v, double* s) {
  const int32_t n = a.n;
  const int64_t w = a.count();
  double* h_re = s;
  double* h_im = a.cplx() ? h_re + w : nullptr;
  double* q_re = h_re + la_words(n, n, a.cplx());
  double* q_im = a.cplx() ? q_re + w : nullptr;
  double* factor = q_re + la_words(n, n, a.cplx());
  double* x_re = factor + numk_hessenberg_eigvec_work(n);
  double* x_im = x_re + n;
  double* work = x_im + n;
  la_copy(a, h_re);
  if (a.cplx()) la_hessenberg_complex(h_re, h_im, n, q_re, q_im, work);
  else la_hessenberg_real(h_re, n, q_re, work);
  for (int32_t i = 0; i < n;) {
    const int32_t k = group_size(d, cvals, i);
    // A vector the iteration could not settle leaves its column zero, for
    // the singular vectors to fill.
    if (k == 1 &&
        numk_hessenberg_eigvec(h_re, h_im, n, d.re[i], cvals ? d.im[i] : 0.0, x_re, x_im, factor))
      store_vector(q_re, q_im, x_re, x_im, i, v);
    i += k;
  }
}

// [V, D] of a non-symmetric real or a complex A (at depth 0).
int eig_vectors(EngineContext* ctx) {
  MatRef a;
  fetch_square(ctx, 0, &a);
  const int32_t n = a.n;
  const int64_t scratch = std::max(eigenvalue_scratch(a), single_vector_scratch(a));
  TN_TRY(la_room(ctx, 2, 2 * la_words(n, n, true) + scratch));
  double* s = nullptr;
  la_scratch(ctx, scratch, &s);
  double* wr = s + scratch - 2 * int64_t{n};
  double* wi = wr + n;
  if (!eigenvalues(a, s, wr, wi)) return kNoConvergence;
  bool cvals = a.cplx();
  for (int32_t i = 0; i < n; ++i)
    if (wi[i] != 0 || std::isnan(wi[i])) cvals = true;
  // D holds the sorted eigenvalues in its first n places until the end.
  MatRef d, v;
  la_push_zeros(ctx, n, n, cvals, &d);
  std::memcpy(d.re, wr, static_cast<size_t>(n) * 8);
  if (cvals) std::memcpy(d.im, wi, static_cast<size_t>(n) * 8);
  if (cvals) shellsort_complex(d.re, d.im, n, 1, 0);
  else shellsort_real(d.re, n, 1, 0);
  la_push_zeros(ctx, n, n, cvals || a.cplx(), &v);
  fetch_square(ctx, 2, &a);
  // An eigenvalue alone in its group gets its vector by inverse iteration; a
  // group of k, and a lone eigenvalue whose iteration did not settle, get the
  // right singular vectors of A - lambda I for the k smallest singular
  // values. These come last: their pushes reach the scratch at the top.
  single_vectors(a, d, cvals, v, s);
  for (int32_t i = 0; i < n;) {
    const int32_t k = group_size(d, cvals, i);
    if (k > 1 || zero_column(v, i)) {
      const int st = group_vectors(ctx, 2, d.re[i], cvals ? d.im[i] : 0.0, i, k, v);
      if (st != kOk) {
        la_drop(ctx, 2);
        return st;
      }
    }
    i += k;
  }
  spread_diagonal(d.re, n);
  if (cvals) spread_diagonal(d.im, n);
  return stk_remove(ctx, 2, 1);
}

}  // namespace

int bi_eig(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = la_outputs(nargout);
  MatRef a;
  TN_TRY(fetch_square(ctx, nargin - 1, &a));
  if (nargin != 1) return kTooManyInputs;
  if (!la_finite(a)) return la_nan_eigen(ctx, 1, a.n, a.cplx(), nout);
  if (!a.cplx() && is_symmetric(a)) return eig_symmetric(ctx, nout);
  if (nout >= 2) return eig_vectors(ctx);
  const int32_t n = a.n;
  const int64_t scratch = eigenvalue_scratch(a);
  TN_TRY(la_room(ctx, 1, la_words(n, 1, true) + scratch));
  MatRef e;
  la_push(ctx, n, 1, true, &e);
  fetch_square(ctx, 1, &a);
  double* s = nullptr;
  la_scratch(ctx, scratch, &s);
  if (n > 0 && !eigenvalues(a, s, e.re, e.im)) {
    la_drop(ctx, 1);
    return kNoConvergence;
  }
  bool real = !a.cplx();
  for (int32_t i = 0; i < n && real; ++i) real = e.im[i] == 0;  // NaN fails the test
  if (real) stk_make_real_top(ctx);
  return stk_remove(ctx, 1, 1);
}

// --- balance and hess --------------------------------------------------------

int bi_balance(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = la_outputs(nargout);
  MatRef a;
  TN_TRY(fetch_square(ctx, nargin - 1, &a));
  const int32_t n = a.n;
  if (!la_finite(a)) return la_nan_balance(ctx, nargin, n, a.cplx(), nout);
  TN_TRY(la_room(ctx, 1, (nout >= 2 ? a.count() : 0) + n));
  MatRef t;
  if (nout >= 2) la_push_zeros(ctx, n, n, false, &t);
  double* d = nullptr;
  la_scratch(ctx, n, &d);
  fetch_square(ctx, nout >= 2 ? 1 : 0, &a);
  if (n > 0) numk_balance(a.re, a.im, n, d);
  if (nout >= 2)
    for (int64_t i = 0; i < n; ++i) t.re[i * n + i] = d[i];
  return kOk;
}

int bi_hess(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = la_outputs(nargout);
  MatRef a;
  TN_TRY(fetch_square(ctx, nargin - 1, &a));
  const int32_t n = a.n;
  const bool cplx = a.cplx();
  const int64_t work = cplx ? la_hessenberg_work_complex(n) : la_hessenberg_work_real(n);
  TN_TRY(la_room(ctx, 1, (nout >= 2 ? la_words(n, n, cplx) : 0) + work));
  MatRef p;
  if (nout >= 2) la_push(ctx, n, n, cplx, &p);
  double* w = nullptr;
  la_scratch(ctx, work, &w);
  fetch_square(ctx, nout >= 2 ? 1 : 0, &a);
  if (n == 0) return kOk;
  if (cplx) la_hessenberg_complex(a.re, a.im, n, nout >= 2 ? p.re : nullptr, nout >= 2 ? p.im : nullptr, w);
  else la_hessenberg_real(a.re, n, nout >= 2 ? p.re : nullptr, w);
  return kOk;
}

// --- schur -------------------------------------------------------------------

int bi_schur(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = la_outputs(nargout);
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  char form = 'r';
  if (nargin == 2) {
    TN_TRY(option_letter(ctx, 0, 'r', &form));
    if (form != 'c' && form != 'r') return kUnknownOption;
  }
  MatRef a;
  TN_TRY(fetch_square(ctx, nargin - 1, &a));
  const int32_t n = a.n;
  const bool cplx = a.cplx();
  if (!la_finite(a)) return la_nan_square(ctx, nargin, n, cplx, std::min(nout, 2));
  const bool want_u = nout >= 2;
  // Room for U, the widening of T and U to complex, and the kernel's copy.
  const int64_t scratch = la_words(n, n, cplx) + 2 * int64_t{n};
  TN_TRY(la_room(ctx, 1, (want_u ? 2 : 1) * la_words(n, n, true) + scratch));
  if (n == 0) {
    if (nargin == 2) stk_drop(ctx);
    return want_u ? stk_push_empty(ctx) : kOk;
  }
  MatRef u;
  if (want_u) la_push(ctx, n, n, cplx, &u);
  fetch_square(ctx, (want_u ? 1 : 0) + (nargin - 1), &a);
  double* copy = nullptr;
  la_scratch(ctx, scratch, &copy);
  la_copy(a, copy);
  uint8_t has_block = 0;
  const bool ok = cplx ? la_schur_complex(copy, copy + a.count(), n, want_u ? u.re : nullptr,
                                          want_u ? u.im : nullptr, copy + 2 * a.count())
                       : la_schur_real(copy, n, want_u ? u.re : nullptr, &has_block, copy + a.count());
  if (!ok) {
    if (want_u) la_drop(ctx, 1);
    return kNoConvergence;
  }
  la_copy(MatRef{n, n, copy, cplx ? copy + a.count() : nullptr}, a.re);
  if (nargin == 2) stk_remove(ctx, want_u ? 1 : 0, 1);  // the form string
  const int at = want_u ? 1 : 0;
  if (cplx || form != 'c' || !has_block) return kOk;
  // Complex form of a real quasi-triangular T: widen T (and U), then rotate.
  void* im = nullptr;
  if (want_u) {
    stk_make_complex_top(ctx, &im);
    stk_move(ctx, 2, 1);
  }
  stk_make_complex_top(ctx, &im);
  if (want_u) stk_move(ctx, 2, 1);
  MatRef t;
  la_fetch(ctx, at, &t);
  if (want_u) la_fetch(ctx, 0, &u);
  la_schur_real_to_complex(t.re, t.im, want_u ? u.re : nullptr, want_u ? u.im : nullptr, n);
  return kOk;
}

// --- chol --------------------------------------------------------------------

int bi_chol(EngineContext* ctx, int nargin, int, uintptr_t) {
  MatRef a;
  TN_TRY(fetch_square(ctx, nargin - 1, &a));
  if (a.n == 0) return kOk;
  if (!la_finite_upper(a)) return kBadArgument;  // as the "!lapack" row: no positive definite matrix
  double* copy = nullptr;
  TN_TRY(la_scratch(ctx, la_words(a.n, a.n, a.cplx()), &copy));
  la_copy(a, copy);
  const bool ok = a.cplx() ? chol_factor(copy, copy + a.count(), a.n) : chol_factor_real(copy, a.n);
  if (!ok) return kBadArgument;
  la_copy(MatRef{a.n, a.n, copy, a.cplx() ? copy + a.count() : nullptr}, a.re);
  return kOk;
}

// --- lu ----------------------------------------------------------------------

int bi_lu(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = std::min(la_outputs(nargout), 3);
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  const int32_t m = a.m, n = a.n, k = std::min(m, n);
  const bool cplx = a.cplx();
  const int64_t outputs = (nout >= 2 ? la_words(m, k, cplx) : 0) + (nout >= 3 ? la_words(m, m, false) : 0);
  TN_TRY(la_room(ctx, nout - 1, outputs + m));
  MatRef l, p;
  if (nout >= 2) la_push_zeros(ctx, m, k, cplx, &l);
  if (nout >= 3) la_push_zeros(ctx, m, m, false, &p);
  double* scratch = nullptr;
  la_scratch(ctx, m, &scratch);
  auto* perm = reinterpret_cast<uint32_t*>(scratch);
  la_fetch(ctx, nout - 1, &a);
  if (a.count() > 0) {
    if (cplx) lu_factor_complex(a.re, a.im, m, n, perm);
    else lu_factor_real(a.re, m, n, perm);
  } else {
    for (int32_t i = 0; i < m; ++i) perm[i] = uint32_t(i);
  }
  if (nout == 1) return kOk;
  for (int64_t i = 0; i < m; ++i) {
    const int64_t t = nout == 2 ? perm[i] : i;
    for (int64_t j = 0; j < std::min<int64_t>(i, n); ++j) {
      l.re[t * k + j] = a.re[i * n + j];
      a.re[i * n + j] = 0;
      if (cplx) {
        l.im[t * k + j] = a.im[i * n + j];
        a.im[i * n + j] = 0;
      }
    }
    if (i < k) l.re[t * k + i] = 1.0;
  }
  if (nout == 3)
    for (int64_t i = 0; i < m; ++i) p.re[i * m + perm[i]] = 1.0;
  // Bring U to the top for its cut, then order the outputs L, U, P.
  stk_move(ctx, nout, 1);
  if (n < m) la_cut_top(ctx, n, 0, n);
  stk_move(ctx, nout, 1);  // [U, L] or [P, U, L]
  return kOk;
}

// --- qr ----------------------------------------------------------------------

int bi_qr(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = std::min(la_outputs(nargout), 3);
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  bool econ = false;
  if (nargin == 2) {
    uint8_t full = 0;
    TN_TRY(stk_get_bool(ctx, 0, &full));
    econ = !full;
  }
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  const int32_t m = a.m, n = a.n;
  const bool cplx = a.cplx(), pivot = nout == 3;
  const int64_t work = (cplx ? la_qr_work_complex(m, n, pivot) : la_qr_work_real(m, n, pivot)) + n;
  const int64_t outputs = (nout >= 2 ? la_words(m, m, cplx) : 0) +
                          (nout == 3 ? (econ ? la_words(1, n, false) : la_words(n, n, false)) : 0);
  TN_TRY(la_room(ctx, nout - 1, outputs + work));
  if (nargin == 2) stk_drop(ctx);
  MatRef q, e;
  if (nout >= 2) la_push_zeros(ctx, m, m, cplx, &q);
  if (nout == 3) la_push_zeros(ctx, econ ? 1 : n, n, false, &e);
  double* w = nullptr;
  la_scratch(ctx, work, &w);
  auto* perm = reinterpret_cast<int32_t*>(w + work - n);
  la_fetch(ctx, nout - 1, &a);
  if (a.count() > 0) {
    if (cplx) la_qr_complex(a.re, a.im, m, n, nout >= 2 ? q.re : nullptr, nout >= 2 ? q.im : nullptr, pivot ? perm : nullptr, w);
    else la_qr_real(a.re, m, n, nout >= 2 ? q.re : nullptr, pivot ? perm : nullptr, w);
  } else {
    for (int32_t i = 0; i < m && nout >= 2; ++i) q.re[int64_t{i} * m + i] = 1.0;
    for (int32_t j = 0; j < n; ++j) perm[j] = j;
  }
  if (pivot)
    for (int32_t j = 0; j < n; ++j) {
      if (econ) e.re[j] = perm[j] + 1;
      else e.re[int64_t{perm[j]} * n + j] = 1.0;
    }
  const bool cut = econ && n < m;
  if (nout == 1) {
    if (cut) la_cut_top(ctx, n, 0, n);
    return kOk;
  }
  // [R, Q, E?] -> R to the top for its cut -> [E?, R, Q] with Q cut.
  stk_move(ctx, nout, 1);
  if (cut) la_cut_top(ctx, n, 0, n);
  stk_move(ctx, nout, 1);
  if (cut) la_cut_top(ctx, m, 0, n);
  return kOk;
}
