// Fetching, broadcasting and result placement for the elementwise built-ins.
// A result written over an operand is safe because element i of every
// operand is read before element i of the result is written.
#include "numlib/special/element_args.h"

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"

int element_args_fetch(EngineContext* ctx, int n, ElementArgs* a) {
  const int st = element_args_fetch_raw(ctx, n, a);
  return st == kWrongType ? kWrongArgType : st;
}

int element_args_fetch_raw(EngineContext* ctx, int n, ElementArgs* a) {
  double* re[kMaxElementArgs];
  double* im[kMaxElementArgs];
  uint8_t stride[kMaxElementArgs];
  MultiArrays m;
  m.re = re;
  m.im = im;
  m.stride = stride;
  const int st = stk_get_multi_arrays(ctx, n, &a->ndims, &a->dims, &a->count, m);
  if (st != kOk) return st;
  a->n = n;
  for (int j = 0; j < n; ++j) {
    const int depth = n - 1 - j;
    a->re[j] = re[depth];
    a->im[j] = im[depth];
    a->stride[j] = stride[depth];
  }
  return kOk;
}

int element_args_widest(const ElementArgs& a) {
  for (int j = 0; j < a.n; ++j)
    if (a.stride[j]) return j;
  return 0;  // all scalars: the first
}

void element_args_keep(EngineContext* ctx, const ElementArgs& a, int keep) {
  const int depth = a.n - 1 - keep;
  stk_remove(ctx, 0, depth);
  stk_remove(ctx, 1, a.n - 1 - depth);
  stk_make_real_top(ctx);
}

int element_args_push_result(EngineContext* ctx, const ElementArgs& a, double** out) {
  // A push lays the new item above the operands, so dims and the operand
  // pointers stay where they are.
  return stk_push_double_nd(ctx, a.ndims, reinterpret_cast<const int32_t*>(a.dims), out, nullptr);
}
