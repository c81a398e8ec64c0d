// The SVD-based built-ins: svd, rank, cond, pinv, orth, null and norm. The
// kernels run on scratch copies, so the input stays intact until the outputs
// stand and a failed call leaves the stacks as they were. A real matrix
// wider than tall is decomposed through its transpose, the orientation in
// which the real kernel's U is sound; its thin factors are completed to
// orthonormal bases where zero values or the full form call for it.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "numlib/householder.h"
#include "numlib/linalg/linalg_builtins.h"
#include "numlib/linalg/linalg_stack.h"
#include "numlib/linalg/nonfinite_answers.h"
#include "numlib/linalg/svd_support.h"
#include "numlib/svd.h"

namespace {

// Rank thresholds relative to max(m, n) * s1.
constexpr double kRankRelTol = 1e-12;
constexpr double kPinvRelTol = 1.1102230246251565e-12;
// norm's p beyond these is taken as +-infinity.
constexpr double kNormInfinite = 1e30;

enum class NormKind { kOne, kTwo, kInf, kMinusInf, kFro, kGeneral };

}  // namespace

// --- Shared pieces (svd_support.h) -------------------------------------------

int64_t svd_values_scratch(const MatRef& a) {
  const int64_t big = std::max(a.m, a.n), t = std::min(a.m, a.n);
  if (a.cplx()) return a.n + svd_work_values_complex(a.m, a.n);
  return big * t + t + svd_work_real(t, false);
}

// The real kernel's "not converged" is ignored here and below: a value left
// after its 30 steps is the value, and a NaN or Inf in A shows in the values.
void svd_values(const MatRef& a, double* scratch, double** values) {
  const int32_t m = a.m, n = a.n;
  if (a.cplx()) {
    *values = scratch;
    svd_values_complex(a.re, a.im, m, n, scratch, scratch + n);
    return;
  }
  const int32_t big = std::max(m, n), t = std::min(m, n);
  double* copy = scratch;
  double* w = copy + int64_t{big} * t;
  double* work = w + t;
  if (m >= n) {
    std::memcpy(copy, a.re, static_cast<size_t>(a.count()) * 8);
  } else {
    for (int64_t i = 0; i < m; ++i)
      for (int64_t j = 0; j < n; ++j) copy[j * m + i] = a.re[i * n + j];
  }
  *values = w;
  svd_decompose(copy, big, t, w, nullptr, work);
}

int64_t basis_completion_scratch(int64_t rows, int64_t cols) {
  return rows * cols + rows * rows + la_qr_work_real(rows, cols, false);
}

void complete_basis(const double* src, int32_t rows, int32_t cols, double* dst, int32_t need,
                    double* scratch) {
  // A column of the kernel's U is a unit vector or, for a zero value, zero;
  // one that is not a number (A held a NaN or Inf) is kept, not replaced.
  constexpr double kUnitTest = 0.5;
  auto kept = [](double norm2) { return !(norm2 <= kUnitTest); };
  double* g = scratch;
  double* q = g + int64_t{rows} * cols;
  double* work = q + int64_t{rows} * rows;
  int32_t good = 0;
  bool all_good = true;
  for (int32_t j = 0; j < cols; ++j) {
    double s = 0;
    for (int32_t i = 0; i < rows; ++i) s += src[int64_t{i} * cols + j] * src[int64_t{i} * cols + j];
    if (kept(s)) ++good;
    else all_good = false;
  }
  if (all_good && need <= cols) {
    for (int64_t i = 0; i < rows; ++i)
      for (int64_t j = 0; j < need; ++j) dst[i * need + j] = src[i * cols + j];
    return;
  }
  // Q of the good columns: its trailing columns complete them.
  int32_t gj = 0;
  for (int32_t j = 0; j < cols; ++j) {
    double s = 0;
    for (int32_t i = 0; i < rows; ++i) s += src[int64_t{i} * cols + j] * src[int64_t{i} * cols + j];
    if (!kept(s)) continue;
    for (int32_t i = 0; i < rows; ++i) g[int64_t{i} * good + gj] = src[int64_t{i} * cols + j];
    ++gj;
  }
  if (good > 0) {
    la_qr_real(g, rows, good, q, nullptr, work);
  } else {
    std::memset(q, 0, static_cast<size_t>(rows) * rows * 8);
    for (int64_t i = 0; i < rows; ++i) q[i * rows + i] = 1.0;
  }
  int32_t next = good;  // next unused column of Q
  for (int32_t j = 0; j < need; ++j) {
    bool from_src = false;
    if (j < cols) {
      double s = 0;
      for (int32_t i = 0; i < rows; ++i) s += src[int64_t{i} * cols + j] * src[int64_t{i} * cols + j];
      from_src = kept(s);
    }
    for (int64_t i = 0; i < rows; ++i)
      dst[i * need + j] = from_src ? src[i * cols + j] : q[i * rows + next];
    if (!from_src) ++next;
  }
}

// [U, S, V] of the matrix at depth `at` (kept), pushed V, S, U; economy
// form when econ. Pushes nothing on failure.
int svd_push_factors(EngineContext* ctx, int at, bool econ) {
  MatRef a;
  TN_TRY(la_fetch(ctx, at, &a));
  const int32_t m = a.m, n = a.n, k = std::min(m, n);
  const int32_t p = econ ? k : m, q = econ ? k : n;
  const bool cplx = a.cplx();
  const int64_t outputs = la_words(n, q, cplx) + la_words(p, q, false) + la_words(m, p, cplx);
  if (!la_finite(a)) {
    // No value or vector is known (the complex kernel would give up on a NaN
    // it cannot converge): NaN factors, S diagonal, as the "!lapack" row gives.
    TN_TRY(la_room(ctx, 3, outputs));
    const NanOutput f[3] = {{m, p, cplx}, {p, q, false, NanOutput::kDiagonal}, {n, q, cplx}};
    for (int i = 2; i >= 0; --i) {
      MatRef r;
      la_push(ctx, f[i].m, f[i].n, f[i].cplx, &r);
      la_nan_fill(f[i], r);
    }
    return kOk;
  }

  if (cplx) {
    const int64_t scratch = 2 * a.count() + n + svd_work_checked(m, n, p, q);
    TN_TRY(la_room(ctx, 3, outputs + scratch));
    MatRef v, s, u;
    la_push_zeros(ctx, n, q, true, &v);
    la_push_zeros(ctx, p, q, false, &s);
    la_push_zeros(ctx, m, p, true, &u);
    TN_TRY(la_fetch(ctx, at + 3, &a));
    double* w = nullptr;
    la_scratch(ctx, scratch, &w);
    double* copy = w + n;
    double* work = copy + 2 * a.count();
    la_copy(a, copy);
    bool ok = true;
    if (k > 0) {
      ok = svd_decompose_checked(copy, copy + a.count(), m, n, w, u.re, u.im, p, v.re, v.im, q,
                                 work);
    } else {
      // Nothing to decompose: identities complete the bases.
      for (int32_t i = 0; i < std::min(m, p); ++i) u.re[int64_t{i} * p + i] = 1.0;
      for (int32_t i = 0; i < std::min(n, q); ++i) v.re[int64_t{i} * q + i] = 1.0;
    }
    if (!ok) {
      la_drop(ctx, 3);
      return kNoConvergence;
    }
    for (int32_t i = 0; i < std::min(p, q); ++i) s.re[int64_t{i} * q + i] = w[i];
    return kOk;
  }

  // Real: the kernel works on the tall orientation, big x t.
  const bool transposed = m < n;
  const int32_t big = std::max(m, n), t = k;
  const int32_t tall_need = transposed ? q : p;  // columns wanted from the kernel's U
  const int64_t scratch = int64_t{big} * t + t + int64_t{t} * t + svd_work_real(t, true) +
                          basis_completion_scratch(big, t) + int64_t{big} * std::max(tall_need, t);
  TN_TRY(la_room(ctx, 3, outputs + scratch));
  MatRef v, s, u;
  la_push_zeros(ctx, n, q, false, &v);
  la_push_zeros(ctx, p, q, false, &s);
  la_push_zeros(ctx, m, p, false, &u);
  TN_TRY(la_fetch(ctx, at + 3, &a));
  double* copy = nullptr;
  la_scratch(ctx, scratch, &copy);
  double* w = copy + int64_t{big} * t;
  double* vk = w + t;
  double* work = vk + int64_t{t} * t;
  double* completion = work + svd_work_real(t, true);
  double* full = completion + basis_completion_scratch(big, t);
  if (!transposed) {
    if (a.count() > 0) std::memcpy(copy, a.re, static_cast<size_t>(a.count()) * 8);
  } else {
    for (int64_t i = 0; i < m; ++i)
      for (int64_t j = 0; j < n; ++j) copy[j * m + i] = a.re[i * n + j];
  }
  if (t > 0) svd_decompose(copy, big, t, w, vk, work);
  // full (big x tall_need): the kernel's U made orthonormal and completed.
  complete_basis(copy, big, t, full, tall_need, completion);
  double* ures = transposed ? vk : full;  // m x (t or tall_need)
  double* vres = transposed ? full : vk;
  const int32_t ucols = transposed ? t : tall_need, vcols = transposed ? tall_need : t;
  for (int64_t i = 0; i < m; ++i)
    for (int64_t j = 0; j < p; ++j) u.re[i * p + j] = ures[i * ucols + j];
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < q; ++j) v.re[i * q + j] = vres[i * vcols + j];
  for (int32_t i = 0; i < k; ++i) s.re[int64_t{i} * q + i] = w[i];
  return kOk;
}

// --- svd ---------------------------------------------------------------------

int bi_svd(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = la_outputs(nargout);
  if (!((nout == 1 && nargin == 1) || (nout == 3 && nargin <= 2))) return kTooFewOutputs;
  TN_TRY(stk_argcheck(ctx, nargin, "C*"));
  bool econ = false;
  if (nargin == 2) {
    uint8_t full = 0;
    TN_TRY(stk_get_bool(ctx, 0, &full));
    econ = !full;
  }
  const int at = nargin - 1;
  MatRef a;
  TN_TRY(la_fetch(ctx, at, &a));
  if (nout == 3) {
    TN_TRY(svd_push_factors(ctx, at, econ));
    return stk_remove(ctx, 3, nargin);
  }
  const int32_t k = std::min(a.m, a.n);
  TN_TRY(la_room(ctx, 1, k + svd_values_scratch(a)));
  MatRef s;
  la_push(ctx, k, 1, false, &s);
  TN_TRY(la_fetch(ctx, at + 1, &a));
  if (k > 0) {
    double* scratch = nullptr;
    double* values = nullptr;
    la_scratch(ctx, svd_values_scratch(a), &scratch);
    svd_values(a, scratch, &values);
    std::memcpy(s.re, values, static_cast<size_t>(k) * 8);
  }
  return stk_remove(ctx, 1, nargin);
}

// --- rank and cond -----------------------------------------------------------

namespace {

// Replaces the nargin inputs by a real scalar: pushed above them first, so
// that a failed push leaves them as they were.
int replace_by_scalar(EngineContext* ctx, int nargin, double v) {
  TN_TRY(stk_push_real(ctx, v));
  return stk_remove(ctx, 1, nargin);
}

// The min(m, n) singular values of the matrix at depth into *values (scratch).
int values_at(EngineContext* ctx, int depth, MatRef* a, double** values) {
  TN_TRY(la_fetch(ctx, depth, a));
  if (a->empty()) return kOk;
  double* scratch = nullptr;
  TN_TRY(la_scratch(ctx, svd_values_scratch(*a), &scratch));
  svd_values(*a, scratch, values);
  return kOk;
}

}  // namespace

int bi_rank(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, "C[r"));
  double tol = -1;
  if (nargin == 2) TN_TRY(stk_get_real_scalar(ctx, 0, &tol));
  MatRef a;
  double* s = nullptr;
  TN_TRY(values_at(ctx, nargin - 1, &a, &s));
  double r = 0;
  if (!a.empty()) {
    const int32_t k = std::min(a.m, a.n);
    if (!(tol >= 0)) tol = std::max(a.m, a.n) * s[0] * kRankRelTol;
    for (int32_t i = 0; i < k; ++i)
      if (s[i] > tol) ++r;
  }
  return replace_by_scalar(ctx, nargin, r);
}

int bi_cond(EngineContext* ctx, int nargin, int, uintptr_t) {
  MatRef a;
  double* s = nullptr;
  TN_TRY(values_at(ctx, nargin - 1, &a, &s));
  double c = 0;
  if (!a.empty()) {
    // Only the min(m, n) values are singular values of A.
    const double last = s[std::min(a.m, a.n) - 1];
    c = (last == 0 || std::isnan(last)) ? INFINITY : s[0] / last;
  }
  return replace_by_scalar(ctx, nargin, c);
}

// --- pinv --------------------------------------------------------------------

int bi_pinv(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  double tol = -1;
  if (nargin == 2) TN_TRY(stk_get_real_scalar(ctx, 0, &tol));
  const int at = nargin - 1;
  MatRef a;
  TN_TRY(la_fetch(ctx, at, &a));
  const int32_t m = a.m, n = a.n, k = std::min(m, n);
  const bool cplx = a.cplx();
  if (!la_finite(a)) {
    const NanOutput x{n, m, cplx};
    return la_answer_nan(ctx, nargin, &x, 1);
  }
  // X = V S^+ U^H from the economy factors, pushed and taken apart below.
  TN_TRY(la_room(ctx, 1, la_words(n, m, cplx)));
  TN_TRY(svd_push_factors(ctx, at, true));
  MatRef u, s, v;
  la_fetch(ctx, 0, &u);  // m x k
  la_fetch(ctx, 1, &s);  // k x k
  la_fetch(ctx, 2, &v);  // n x k
  int32_t r = 0;
  if (k > 0) {
    if (!(tol >= 0)) tol = std::max(m, n) * s.re[0] * kPinvRelTol;
    while (r < k && s.re[int64_t{r} * k + r] > tol) ++r;
  }
  MatRef x;
  const int st = la_push_zeros(ctx, n, m, cplx, &x);
  if (st != kOk) {
    la_drop(ctx, 3);
    return st;
  }
  for (int32_t l = 0; l < r; ++l) {
    const double inv = 1.0 / s.re[int64_t{l} * k + l];
    for (int64_t j = 0; j < n; ++j) {
      const double vr = v.re[j * k + l] * inv, vi = cplx ? v.im[j * k + l] * inv : 0.0;
      for (int64_t i = 0; i < m; ++i) {
        const double ur = u.re[i * k + l];
        x.re[j * m + i] += vr * ur;
        if (cplx) {
          const double ui = u.im[i * k + l];
          x.re[j * m + i] += vi * ui;
          x.im[j * m + i] += vi * ur - vr * ui;
        }
      }
    }
  }
  return stk_remove(ctx, 1, 3 + nargin);
}

// --- orth and null -----------------------------------------------------------

namespace {

// Rank from the S of svd's full form: leading values above max(p, q) s1 tol.
int32_t rank_of_s(const MatRef& s) {
  const int32_t d = std::min(s.m, s.n);
  if (d == 0) return 0;
  const double tol = std::max(s.m, s.n) * s.re[0] * kRankRelTol;
  int32_t r = 0;
  while (r < d && s.re[int64_t{r} * s.n + r] > tol) ++r;
  return r;
}

}  // namespace

int bi_orth(EngineContext* ctx, int nargin, int, uintptr_t) {
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  TN_TRY(svd_push_factors(ctx, nargin - 1, false));
  MatRef s;
  la_fetch(ctx, 1, &s);
  const int32_t r = rank_of_s(s);
  la_cut_top(ctx, a.m, 0, r);  // U's first r columns
  return stk_remove(ctx, 1, 2 + nargin);
}

int bi_null(EngineContext* ctx, int nargin, int, uintptr_t) {
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  TN_TRY(svd_push_factors(ctx, nargin - 1, false));
  MatRef s;
  la_fetch(ctx, 1, &s);
  const int32_t r = rank_of_s(s);
  la_drop(ctx, 2);  // U and S
  la_cut_top(ctx, a.n, r, a.n - r);  // V's last n - r columns
  return stk_remove(ctx, 1, nargin);
}

// --- norm --------------------------------------------------------------------

namespace {

int norm_kind(EngineContext* ctx, int nargin, NormKind* kind, double* p) {
  *kind = NormKind::kTwo;
  if (nargin < 2) return kOk;
  if (stk_is_char(ctx, 0)) {
    char text[8] = {};
    int32_t len = 0;
    const int st = stk_get_string_buf(ctx, 0, text, sizeof text, &len);
    if (st != kOk && st != kObjectTooLarge) return st;
    if (st == kOk && len == 3 && std::memcmp(text, "fro", 3) == 0) *kind = NormKind::kFro;
    else if (st == kOk && len == 3 && std::memcmp(text, "inf", 3) == 0) *kind = NormKind::kInf;
    else return kUnknownOption;
    return kOk;
  }
  TN_TRY(stk_get_real_scalar(ctx, 0, p));
  if (*p == 1) *kind = NormKind::kOne;
  else if (*p == 2) *kind = NormKind::kTwo;
  else if (*p > kNormInfinite) *kind = NormKind::kInf;
  else if (*p < -kNormInfinite) *kind = NormKind::kMinusInf;
  else *kind = NormKind::kGeneral;
  return kOk;
}

// The larger (smaller) of two moduli, NaN when either is: a NaN element makes
// the norm NaN, as std::max would drop it when it came second.
double max_or_nan(double a, double b) { return std::isnan(a) || std::isnan(b) ? NAN : std::max(a, b); }
double min_or_nan(double a, double b) { return std::isnan(a) || std::isnan(b) ? NAN : std::min(a, b); }

// |a_i|: hypot, as re^2 + im^2 overflows from 1e154 and underflows (or
// loses digits among the subnormals) below 1e-154. A NaN part makes it NaN
// even beside an infinite one, which hypot would answer with +inf.
double modulus(const MatRef& a, int64_t i) {
  if (!a.im) return std::fabs(a.re[i]);
  const double re = a.re[i], im = a.im[i];
  return std::isnan(re) || std::isnan(im) ? NAN : std::hypot(re, im);
}

// sqrt(sum |a_k|^2) as a scaled sum of squares: the squares are taken of the
// elements over the largest so far, so that no square overflows or underflows
// where the norm itself does not (1e160 and 1e-160 elements alike).
double scaled_two_norm(const MatRef& a) {
  double scale = 0.0, ssq = 1.0;
  bool nan = false, inf = false;
  auto add = [&](double x) {
    const double ax = std::fabs(x);
    if (std::isnan(ax)) nan = true;
    else if (std::isinf(ax)) inf = true;
    else if (ax > scale) ssq = 1.0 + ssq * (scale / ax) * (scale / ax), scale = ax;
    else if (ax > 0.0) ssq += (ax / scale) * (ax / scale);
  };
  for (int64_t i = 0; i < a.count(); ++i) {
    add(a.re[i]);
    if (a.im) add(a.im[i]);
  }
  if (nan) return NAN;
  if (inf) return INFINITY;
  return scale * std::sqrt(ssq);
}

// (sum |x_i|^p)^(1/p) as M (sum (|x_i| / M)^p)^(1/p), with M the largest
// modulus for p > 0 and the smallest for p < 0: every term is then at most
// 1 and the one of M exactly 1, so the sum neither overflows nor underflows
// where the norm does not (|x|^p of 3e200 with p = 3 is infinite), and the
// error of a quotient, raised to p, is taken back by the root. A zero M for
// p > 0 (all zero), a zero element for p < 0, or an infinite one, give the
// unscaled formula's 0 or infinity; p = 0 and a NaN p are left to it too.
double general_p_norm(const MatRef& a, double p) {
  const int64_t n = a.count();
  if (!(p > 0) && !(p < 0)) {
    double s = 0;
    for (int64_t i = 0; i < n; ++i) s += std::pow(modulus(a, i), p);
    return std::pow(s, 1 / p);
  }
  double scale = p > 0 ? 0 : INFINITY;
  for (int64_t i = 0; i < n; ++i) {
    const double x = modulus(a, i);
    if (std::isnan(x)) return NAN;
    scale = p > 0 ? std::max(scale, x) : std::min(scale, x);
  }
  if (scale == 0 || std::isinf(scale)) return scale;
  // For p < 0 an infinite element adds (inf / scale)^p = 0, as it should.
  double s = 0;
  for (int64_t i = 0; i < n; ++i) s += std::pow(modulus(a, i) / scale, p);
  return scale * std::pow(s, 1 / p);
}

double vector_norm(const MatRef& a, NormKind kind, double p) {
  const int64_t n = a.count();
  switch (kind) {
    case NormKind::kInf: {
      double r = 0;
      for (int64_t i = 0; i < n; ++i) r = max_or_nan(r, modulus(a, i));
      return r;
    }
    case NormKind::kMinusInf: {
      double r = INFINITY;
      for (int64_t i = 0; i < n; ++i) r = min_or_nan(r, modulus(a, i));
      return r;
    }
    case NormKind::kTwo:
    case NormKind::kFro:
      return scaled_two_norm(a);
    case NormKind::kOne: {
      double s = 0;
      for (int64_t i = 0; i < n; ++i) s += modulus(a, i);
      return s;
    }
    default:
      return general_p_norm(a, p);
  }
}

}  // namespace

int bi_norm(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  NormKind kind;
  double p = 2;
  TN_TRY(norm_kind(ctx, nargin, &kind, &p));
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  double r = NAN;
  if (a.empty()) {
  } else if (a.m == 1 || a.n == 1) {
    r = vector_norm(a, kind, p);
  } else if (kind == NormKind::kOne) {
    r = 0;
    for (int64_t j = 0; j < a.n; ++j) {
      double s = 0;
      for (int64_t i = 0; i < a.m; ++i) s += modulus(a, i * a.n + j);
      r = max_or_nan(r, s);
    }
  } else if (kind == NormKind::kInf || kind == NormKind::kMinusInf) {
    r = 0;
    for (int64_t i = 0; i < a.m; ++i) {
      double s = 0;
      for (int64_t j = 0; j < a.n; ++j) s += modulus(a, i * a.n + j);
      r = max_or_nan(r, s);
    }
  } else if (kind == NormKind::kFro) {
    r = vector_norm(a, kind, p);
  } else if (kind == NormKind::kTwo) {
    double* s = nullptr;
    TN_TRY(values_at(ctx, nargin - 1, &a, &s));
    r = s[0];
  } else {
    return kUnknownOption;
  }
  return replace_by_scalar(ctx, nargin, r);
}
