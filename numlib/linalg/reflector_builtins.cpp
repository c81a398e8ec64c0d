// householder, householderapply and linprog: the reflector kernels and the
// simplex kernel as built-ins. A reflector is the pair (u, beta) standing for
// I - beta u u^H.
#include <algorithm>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "numlib/householder.h"
#include "numlib/linalg/linalg_builtins.h"
#include "numlib/linalg/linalg_stack.h"
#include "numlib/simplex.h"

int bi_householder(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int nout = la_outputs(nargout);
  MatRef x;
  TN_TRY(la_fetch(ctx, nargin - 1, &x));
  if (x.empty()) {
    if (nout < 2) return kOk;
    TN_TRY(stk_push_real(ctx, 1.0));
    return stk_move(ctx, 2, 1);
  }
  if (x.n != 1) return kNotColumnVector;
  const int32_t m = x.m;
  TN_TRY(la_room(ctx, 2, la_words(m, 1, x.cplx()) + 1));
  MatRef u;
  la_push(ctx, m, 1, x.cplx(), &u);
  la_fetch(ctx, 1, &x);
  double beta = 1;
  if (x.cplx()) la_house_complex(x.re, x.im, m, 1, u.re, u.im, &beta);
  else la_house_real(x.re, m, 1, u.re, &beta);
  stk_remove(ctx, 1, 1);
  if (nout < 2) return kOk;
  stk_push_real(ctx, beta);
  return stk_move(ctx, 2, 1);
}

int bi_householderapply(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  bool left = true;
  if (nargin == 4) {
    char text[2] = {};
    int32_t len = 0;
    const int st = stk_get_string_buf(ctx, 0, text, sizeof text, &len);
    if (st != kOk && st != kObjectTooLarge) return st;
    if (len > 0 && text[0] != 'l' && text[0] != 'r') return kUnknownOption;
    left = len == 0 || text[0] == 'l';
  }
  const int top = nargin - 3;  // items above beta
  double beta = 0;
  TN_TRY(stk_get_real_scalar(ctx, top, &beta));
  MatRef u, a;
  TN_TRY(la_fetch(ctx, top + 1, &u));
  if (!u.empty() && u.n != 1) return kNotColumnVector;
  TN_TRY(la_fetch(ctx, top + 2, &a));
  if (u.m != (left ? a.m : a.n)) return kIncompatibleSize;
  const bool widen = u.cplx() && !a.cplx();
  // u is kept in scratch above the widened A.
  const int64_t uwords = la_words(u.m, 1, u.cplx());
  TN_TRY(la_room(ctx, 0, (widen ? a.count() : 0) + uwords));
  double* v = nullptr;
  la_scratch(ctx, uwords, &v);
  la_copy(u, v);
  const double* vi = u.cplx() ? v + u.m : nullptr;
  TN_TRY(stk_remove(ctx, 0, nargin - 1));
  if (widen) {
    void* im = nullptr;
    TN_TRY(stk_make_complex_top(ctx, &im));
  }
  la_fetch(ctx, 0, &a);
  if (a.empty()) return kOk;
  if (vi) {
    if (left) la_house_apply_left_complex(a.re, a.im, a.m, a.n, v, vi, beta, 0, a.m);
    else la_house_apply_right_complex(a.re, a.im, a.m, a.n, v, vi, beta, 0, a.n);
    return kOk;
  }
  double* blocks[2] = {a.re, a.im};
  for (double* b : blocks) {
    if (!b) continue;
    if (left) la_house_apply_left_real(b, a.m, a.n, v, beta, 0, a.m);
    else la_house_apply_right_real(b, a.m, a.n, v, beta, 0, a.n);
  }
  return kOk;
}

int bi_linprog(EngineContext* ctx, int nargin, int, uintptr_t) {
  MatRef arg[5];
  for (int i = 0; i < nargin; ++i) {
    TN_TRY(la_fetch(ctx, nargin - 1 - i, &arg[i]));
    if (arg[i].cplx()) return kWrongArgType;
  }
  const MatRef& c = arg[0];
  const MatRef& a = arg[1];
  const MatRef& b = arg[2];
  const int32_t m = a.m, n = a.m == 0 ? static_cast<int32_t>(c.count()) : a.n;
  if (n > 0 && (c.m != 1 || c.count() != n)) return kIncompatibleSize;
  if (b.m != m || b.n > 1) return kIncompatibleSize;
  for (int i = 3; i < nargin; ++i)
    if (arg[i].m > n || arg[i].n > 1) return kIncompatibleSize;
  const int64_t work = numk_simplex_work_doubles(m, n);
  TN_TRY(la_room(ctx, 0, work + 2 * int64_t{n}));
  double* s = nullptr;
  la_scratch(ctx, work + 2 * int64_t{n}, &s);
  double* cost = s;
  double* x = cost + n;
  for (int32_t j = 0; j < n; ++j) cost[j] = -c.re[j];
  const MatRef none;
  const MatRef& lb = nargin > 3 ? arg[3] : none;
  const MatRef& ub = nargin > 4 ? arg[4] : none;
  if (n > 0 && !numk_simplex(a.re, b.re, cost, m, n, lb.re, int32_t(lb.count()), ub.re,
                             int32_t(ub.count()), x, x + n))
    return kNoConvergence;
  TN_TRY(stk_remove(ctx, 0, nargin));
  MatRef out;
  la_push(ctx, n, 1, false, &out);  // the inputs held at least n words
  if (n > 0) std::memcpy(out.re, x, static_cast<size_t>(n) * 8);
  return kOk;
}
