// expm, and sqrtm, logm and funm over the complex Schur form. During the
// three the stack holds, from the bottom: A (made complex, then T), funm's
// function argument, the Schur vectors U and the result F; funm adds the
// 1-based index and the diagonal element while its function runs, and is
// entered again with nargin < 0 when the function returns.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/continuation.h"
#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "numlib/expm.h"
#include "numlib/linalg/linalg_builtins.h"
#include "numlib/linalg/linalg_stack.h"
#include "numlib/linalg/nonfinite_answers.h"
#include "numlib/linalg/matfun_kernel.h"
#include "numlib/schur.h"

namespace {

constexpr uintptr_t kModeSqrt = 's';
constexpr uintptr_t kModeLog = 'l';
constexpr uintptr_t kModeFunm = 'f';
// The function value lies this deep while its call's index and argument
// are on top: fun, U, F, index, argument.
constexpr int kFunDepthDuringCall = 4;

}  // namespace

int bi_expm(EngineContext* ctx, int nargin, int, uintptr_t) {
  MatRef a;
  TN_TRY(la_fetch(ctx, nargin - 1, &a));
  if (a.empty()) return kOk;
  if (a.m != a.n) return kNonSquareMatrix;
  const int32_t n = a.n;
  const bool cplx = a.cplx();
  const int64_t work = cplx ? numk_expm_work_complex(n) : numk_expm_work_real(n);
  TN_TRY(la_room(ctx, 1, la_words(n, n, cplx) + work));
  MatRef e;
  la_push(ctx, n, n, cplx, &e);
  la_fetch(ctx, 1, &a);
  double* w = nullptr;
  la_scratch(ctx, work, &w);
  if (cplx) numk_expm_complex(a.re, n, e.re, w);  // one array: real block, then imaginary
  else numk_expm_real(a.re, n, e.re, w);
  return stk_remove(ctx, 1, 1);
}

namespace {

// Items below F at the end: A (T) and U, and funm's function argument.
int items_below_f(uintptr_t mode) { return mode == kModeFunm ? 3 : 2; }

// Steps 7 to 9: complete F, choose real or complex, drop T, U (and the
// function), leave F (and est below it).
int matfun_complete(EngineContext* ctx, uintptr_t mode, int nout) {
  MatRef f, u, t;
  la_fetch(ctx, 0, &f);
  la_fetch(ctx, 1, &u);
  la_fetch(ctx, items_below_f(mode), &t);
  const int32_t n = f.n;
  uint8_t complex_flag = 1;
  double est = 0;
  if (mode == kModeFunm) {
    funm_complex_kernel(t.re, t.im, u.re, u.im, n, f.re, f.im, &complex_flag, nout >= 2 ? &est : nullptr);
  } else {
    if (mode == kModeSqrt) {
      matfun_sqrt_triangle(t.re, t.im, n, f.re, f.im);
    } else {
      double* work = nullptr;
      TN_TRY(la_scratch(ctx, matfun_log_work(n), &work));
      matfun_log_triangle(t.re, t.im, n, f.re, f.im, work);
    }
    matfun_finish(t.re, t.im, u.re, u.im, n, f.re, f.im, matfun_delta2(t.re, t.im, n),
                  &complex_flag, nout >= 2 ? &est : nullptr);
  }
  if (!complex_flag) stk_make_real_top(ctx);
  TN_TRY(stk_remove(ctx, 1, items_below_f(mode)));
  if (nout < 2) return kOk;
  TN_TRY(stk_push_real(ctx, est));  // the removed items left room
  return stk_move(ctx, 2, 1);
}

// Calls funm's function on T[k][k] (0-based k) with the index k + 1 below it.
int funm_call(EngineContext* ctx, int32_t k) {
  MatRef t;
  la_fetch(ctx, 3, &t);
  const int64_t at = int64_t{k} * t.n + k;
  TN_TRY(stk_push_real(ctx, k + 1));
  int st = stk_push_complex(ctx, t.re[at], t.im[at]);
  if (st != kOk) {
    la_drop(ctx, 1);
    return st;
  }
  st = builtin_call_value(ctx, kFunDepthDuringCall, 1, 1);
  if (st != kOk) la_drop(ctx, 2);
  return st;
}

// funm entered again with the function's result on top of its index.
int funm_resume(EngineContext* ctx, int results, int nout) {
  if (results < 1) return kNonVectorArray;
  MatRef r;
  TN_TRY(la_fetch(ctx, 0, &r));
  if (r.m != 1 || r.n != 1) return kNonVectorArray;
  double idx = 0;
  TN_TRY(stk_get_real_scalar(ctx, 1, &idx));
  MatRef f;
  la_fetch(ctx, 2, &f);
  const int32_t k = static_cast<int32_t>(idx);
  if (k < 1 || k > f.n) return TN_ILLEGAL();
  const int64_t at = int64_t{k - 1} * f.n + (k - 1);
  f.re[at] = r.re[0];
  f.im[at] = r.im ? r.im[0] : 0.0;
  la_drop(ctx, 2);
  if (k < f.n) return funm_call(ctx, k);
  return matfun_complete(ctx, kModeFunm, nout);
}

}  // namespace

int bi_matfun(EngineContext* ctx, int nargin, int nargout, uintptr_t mode) {
  const int nout = la_outputs(nargout);
  if (nargin < 0) return funm_resume(ctx, builtin_resumed(nargin), nout);
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  const int at = nargin - 1;
  MatRef a;
  TN_TRY(la_fetch(ctx, at, &a));
  if (a.m != a.n) return kNonSquareMatrix;
  // A becomes its Schur form T before funm's function is first called: a
  // function argument that cannot be called is refused while A is intact.
  if (mode == kModeFunm && nargin >= 2) {
    const uint32_t* d = desc_at(ctx, at - 1);
    const bool callable = d[0] == kKindPayload && (d[2] == kPayFuncRef || d[2] == kPayInline || d[2] == kPayChar);
    if (!callable) return kWrongArgType;
  }
  const int32_t n = a.n;
  // The Schur iteration would give up on a NaN, or take it for an answer.
  if (!la_finite(a)) return la_nan_matfun(ctx, nargin, n, a.cplx(), nout);
  if (n == 0) {
    // est is pushed before anything goes: its push is the one step that can
    // fail, and it must fail with the arguments in place.
    if (nout >= 2) TN_TRY(stk_push_real(ctx, 0));
    const int est_items = nout >= 2 ? 1 : 0;
    TN_TRY(stk_remove(ctx, est_items, nargin - 1));
    return est_items ? stk_move(ctx, 2, 1) : kOk;
  }
  const int64_t nn = a.count();
  const bool widen = !a.cplx();
  const int64_t scratch = 2 * nn + 2 * int64_t{n} + (mode == kModeLog ? matfun_log_work(n) : 0);
  TN_TRY(la_room(ctx, 4, (widen ? nn : 0) + 4 * nn + 2 + 2 * 2 + scratch));
  if (widen) {
    void* im = nullptr;
    stk_move(ctx, nargin, 1);
    stk_make_complex_top(ctx, &im);
    stk_move(ctx, nargin, nargin - 1);
  }
  MatRef u;
  la_push(ctx, n, n, true, &u);
  la_fetch(ctx, at + 1, &a);
  double* copy = nullptr;
  la_scratch(ctx, 2 * nn + 2 * int64_t{n}, &copy);
  la_copy(a, copy);
  if (!la_schur_complex(copy, copy + nn, n, u.re, u.im, copy + 2 * nn)) {
    la_drop(ctx, 1);
    if (widen) {
      stk_move(ctx, nargin, 1);
      stk_make_real_top(ctx);
      stk_move(ctx, nargin, nargin - 1);
    }
    return kNoConvergence;
  }
  // T's entries below the diagonal are exactly zero from here on.
  la_copy(MatRef{n, n, copy, copy + nn}, a.re);
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < i; ++j) a.re[i * n + j] = a.im[i * n + j] = 0;
  la_push_zeros(ctx, n, n, true, nullptr);
  if (mode != kModeFunm) return matfun_complete(ctx, mode, nout);
  MatRef f;
  la_fetch(ctx, 0, &f);
  const int st = funm_call(ctx, 0);
  if (st != kOk) la_drop(ctx, 2);  // F and U; A stays as T
  return st;
}
