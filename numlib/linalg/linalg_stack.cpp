// Value-stack helpers of the linear-algebra built-ins (see linalg_stack.h).
// Everything here tests before it changes the stacks.
#include "numlib/linalg/linalg_stack.h"

#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"

int la_fetch(EngineContext* ctx, int depth, MatRef* out) {
  MatRef r;
  if (stk_get_matrix(ctx, depth, &r.m, &r.n, &r.re, &r.im) != kOk) return kWrongArgType;
  *out = r;
  return kOk;
}

int64_t la_words(int64_t m, int64_t n, bool cplx) {
  if (m <= 0 || n <= 0) return 0;
  return (cplx ? 2 : 1) * m * n;
}

int la_room(EngineContext* ctx, int items, int64_t words) {
  if (static_cast<int64_t>(ctx->desc_top) + 3 * static_cast<int64_t>(items) >=
      static_cast<int64_t>(ctx->desc_capacity))
    return kStackOverflow;
  if (words > data_free_words(ctx)) return kDataStackOverflow;
  return kOk;
}

int la_push(EngineContext* ctx, int32_t m, int32_t n, bool cplx, MatRef* out) {
  MatRef r;
  TN_TRY(stk_push_matrix(ctx, m, n, &r.re, cplx ? &r.im : nullptr));
  if (m <= 0 || n <= 0) m = n = 0;
  r.m = m;
  r.n = n;
  if (out) *out = r;
  return kOk;
}

int la_push_zeros(EngineContext* ctx, int32_t m, int32_t n, bool cplx, MatRef* out) {
  MatRef r;
  TN_TRY(la_push(ctx, m, n, cplx, &r));
  if (r.count() > 0) std::memset(r.re, 0, static_cast<size_t>(la_words(r.m, r.n, cplx)) * 8);
  if (out) *out = r;
  return kOk;
}

int la_scratch(EngineContext* ctx, int64_t words, double** out) {
  void* p = nullptr;
  TN_TRY(stk_reserve_top(ctx, words < 1 ? 1 : words, &p));
  *out = static_cast<double*>(p);
  return kOk;
}

void la_cut_top(EngineContext* ctx, int32_t rows, int32_t c0, int32_t cols) {
  MatRef a;
  if (la_fetch(ctx, 0, &a) != kOk) return;
  if (rows == a.m && c0 == 0 && cols == a.n) return;
  const bool cplx = a.cplx();
  double* re = a.re;
  double* im = a.im;
  stk_drop(ctx);
  // The new item starts where the old one did; every element moves to a
  // lower or equal index, so a forward copy reads each source before it is
  // overwritten.
  MatRef r;
  la_push(ctx, rows, cols, cplx, &r);
  if (r.count() == 0) return;
  for (int64_t i = 0; i < rows; ++i)
    for (int64_t j = 0; j < cols; ++j) r.re[i * cols + j] = re[i * a.n + c0 + j];
  if (cplx)
    for (int64_t i = 0; i < rows; ++i)
      for (int64_t j = 0; j < cols; ++j) r.im[i * cols + j] = im[i * a.n + c0 + j];
}

void la_drop(EngineContext* ctx, int count) {
  for (int i = 0; i < count; ++i) stk_drop(ctx);
}

void la_copy(const MatRef& a, double* dst) {
  const int64_t k = a.count();
  if (k == 0) return;
  std::memcpy(dst, a.re, static_cast<size_t>(k) * 8);
  if (a.im) std::memcpy(dst + k, a.im, static_cast<size_t>(k) * 8);
}
